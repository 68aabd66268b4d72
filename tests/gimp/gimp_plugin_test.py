# SPDX-License-Identifier: MIT
"""The GIMP plug-in in a headless GIMP (gimp-console, batch mode, a private
configuration folder whose plug-in path adds the build's plug-in folder),
against the command built beside it.

  gimp_plugin_test.py pixels    the layers GIMP corrects, exported to PNG, hold
                                the command's pixels to the byte (8 and 16-bit,
                                alpha, a selection on a moved layer, last values)
  gimp_plugin_test.py refusals  bad parameters and layers it cannot correct
                                fail the call with the reason, never a crash

Each part is one GIMP run: starting GIMP costs seconds, a check milliseconds.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
import OpenImageIO as oiio

# plug-in-lumarex's parameters after run-mode, image and drawable: the
# command's `correct` settings in the order of its table. Words are given
# as their numbers.
PARAMS = ["cast", "cast-method", "cast-strength", "black-clip", "shadow-floor", "brighten", "target",
          "max-brighten", "key", "local-contrast", "local-depth", "curve", "denoise", "denoise-luma",
          "denoise-colour", "noise-level", "colour", "colour-amount", "sharpen", "warm-tone", "look", "flatten",
          "guard"]
DEFAULTS = {"cast": -1, "cast-method": 0, "cast-strength": 1, "black-clip": -1, "shadow-floor": -1,
            "brighten": -1, "target": 60, "max-brighten": 100, "key": -1, "local-contrast": 1, "local-depth": 50,
            "curve": 0, "denoise": -1, "denoise-luma": 0, "denoise-colour": 0, "noise-level": -1, "colour": 0,
            "colour-amount": 0.5, "sharpen": 0, "warm-tone": 0, "look": -1, "flatten": 0, "guard": 1}

# Strong settings for an 8-bit layer: every stage that reads beyond a pixel
# (sharpening, colour tables) or that a float parameter steers.
SETTINGS_8 = ({"cast": 1, "cast-method": 3, "cast-strength": 0.7, "black-clip": 0.3, "brighten": 40, "target": 65,
               "local-depth": 30, "curve": 1, "colour": 1, "colour-amount": 0.4, "sharpen": 1, "warm-tone": 0.3,
               "look": 0},
              ["--cast", "on", "--cast-method", "average", "--cast-strength", "0.7", "--black-clip", "0.3",
               "--brighten", "40", "--target", "65", "--local-depth", "30", "--curve", "strong", "--colour", "rich",
               "--colour-amount", "0.4", "--sharpen", "1", "--warm-tone", "0.3", "--look", "natural"])
# For the 16-bit layer, then repeated as last values on an 8-bit one: noise
# removal (the noise library loaded beside the library) and the switches.
SETTINGS_16 = ({"shadow-floor": 20, "max-brighten": 150, "key": 0, "local-contrast": 0, "denoise": 1,
                "denoise-luma": 10, "flatten": 1, "guard": 0},
               ["--shadow-floor", "20", "--max-brighten", "150", "--key", "off", "--local-contrast", "off",
                "--denoise", "1", "--denoise-luma", "10", "--flatten", "on", "--guard", "off"])


def read(path):
    buf = oiio.ImageBuf(path)
    spec = buf.spec()
    pixels = buf.get_pixels(oiio.UINT16 if spec.format == oiio.UINT16 else oiio.UINT8)
    if pixels is None or buf.has_error:
        raise RuntimeError(f"cannot read {path}: {buf.geterror()}")
    return pixels


def write(path, pixels):
    spec = oiio.ImageSpec(pixels.shape[1], pixels.shape[0], pixels.shape[2],
                          oiio.UINT16 if pixels.dtype == np.uint16 else oiio.UINT8)
    out = oiio.ImageOutput.create(path)
    if not out or not out.open(path, spec) or not out.write_image(pixels) or not out.close():
        raise RuntimeError(f"cannot write {path}")


def scaled(path, width):
    """A sample shrunk to `width` pixels: enough for every stage, quick in GIMP."""
    src = oiio.ImageBuf(path)
    height = round(src.spec().height * width / src.spec().width)
    dst = oiio.ImageBufAlgo.resize(src, roi=oiio.ROI(0, width, 0, height, 0, 1, 0, 3))
    return np.clip(np.rint(dst.get_pixels(oiio.FLOAT) * 255), 0, 255).astype(np.uint8)


class Session:
    """One GIMP run: Script-Fu commands gathered, then run in one batch."""

    def __init__(self, args, tmp):
        self.args, self.tmp, self.commands = args, tmp, []

    def path(self, name):
        return os.path.join(self.tmp, name)

    def run_on(self, source, out, *steps):
        """Loads `source`, runs `steps` (Script-Fu using img and drw), exports the drawable to `out`."""
        body = " ".join(steps)
        self.commands.append(
            f'(let* ((img (car (gimp-file-load RUN-NONINTERACTIVE "{source}" "{source}")))'
            f' (drw (car (gimp-image-get-active-drawable img)))) {body}'
            + (f' (file-png-save2 RUN-NONINTERACTIVE img drw "{out}" "{out}" 0 1 0 0 0 0 0 0 1)' if out else "")
            + ' (gimp-image-delete img))')

    def finish(self):
        home = self.path("gimp-config")
        os.makedirs(os.path.join(home, "gradients"), exist_ok=True)
        with open(os.path.join(home, "gimprc"), "w") as f:
            f.write(f'(plug-in-path "${{gimp_plug_in_dir}}/plug-ins:{self.args.plugins}")\n')
        argv = [self.args.gimp, "-i", "-d", "-f", "--no-shm"]
        for c in self.commands:
            argv += ["-b", c]
        argv += ["-b", "(gimp-quit 0)"]
        env = dict(os.environ, GIMP2_DIRECTORY=home)
        env.pop("DISPLAY", None)
        r = subprocess.run(argv, env=env, capture_output=True, text=True, timeout=240)
        return r.stdout + r.stderr


def call(settings, mode="RUN-NONINTERACTIVE"):
    values = dict(DEFAULTS, **settings)
    return f"(plug-in-lumarex {mode} img drw {' '.join(str(values[p]) for p in PARAMS)})"


def command(args, *argv):
    r = subprocess.run([args.command, *argv], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"lumarex {' '.join(argv)}: {r.stderr}")


def test_pixels(args, tmp):
    s = Session(args, tmp)
    rgb8, rgba8, rgb16 = s.path("rgb8.png"), s.path("rgba8.png"), s.path("rgb16.png")
    photo = scaled(os.path.join(args.samples, "s01_tungsten_indoor_wine.jpg"), 400)
    write(rgb8, photo)
    # Alpha from transparent to opaque, with colour under the transparent
    # pixels, which a correction must treat as any other.
    hazy = scaled(os.path.join(args.samples, "s03_hazy_lifted_blacks_bridge.jpg"), 480)
    alpha = np.tile(np.linspace(0, 255, hazy.shape[1]).astype(np.uint8), (hazy.shape[0], 1))[..., None]
    write(rgba8, np.concatenate([hazy, alpha], axis=2))
    room = read(os.path.join(args.samples, "s06_indoor_backlit_room_16bit.png"))
    write(rgb16, room)
    rgba16 = s.path("rgba16.png")
    alpha16 = np.tile(np.linspace(65535, 0, room.shape[0]).astype(np.uint16)[:, None], (1, room.shape[1]))
    write(rgba16, np.concatenate([room, alpha16[..., None]], axis=2))

    s.run_on(rgb8, s.path("gimp-auto8.png"), "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    s.run_on(rgba8, s.path("gimp-autoa.png"), "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    s.run_on(rgb8, s.path("gimp-correct8.png"), call(SETTINGS_8[0]))
    s.run_on(rgb16, s.path("gimp-correct16.png"), call(SETTINGS_16[0]))
    s.run_on(rgb8, s.path("gimp-last8.png"), call({"brighten": 300, "guard": 7}, "RUN-WITH-LAST-VALS"))
    s.run_on(rgb16, s.path("gimp-auto16.png"), "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    # A layer moved on the canvas, a rectangle selected in image pixels:
    # only the rectangle changes, corrected as it looks in the whole layer.
    ox, oy, sel = 40, 30, (100, 120, 150, 90)
    s.run_on(rgb8, s.path("gimp-select8.png"), f"(gimp-layer-set-offsets drw {ox} {oy})",
             f"(gimp-image-select-rectangle img CHANNEL-OP-REPLACE {' '.join(map(str, sel))})",
             call(SETTINGS_8[0]))
    s.run_on(rgba8, s.path("gimp-selecta.png"),
             f"(gimp-image-select-rectangle img CHANNEL-OP-REPLACE {' '.join(map(str, sel))})",
             "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    s.run_on(rgba16, s.path("gimp-correcta16.png"), call({}))
    # A feathered selection: its edge blends the correction into the layer.
    feather = (100, 100, 200, 150, 20)
    s.run_on(rgb8, s.path("gimp-feather8.png"), "(gimp-context-set-feather TRUE)",
             f"(gimp-context-set-feather-radius {feather[4]} {feather[4]})",
             f"(gimp-image-select-ellipse img CHANNEL-OP-REPLACE {' '.join(map(str, feather[:4]))})",
             "(gimp-context-set-feather FALSE)", "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    log = s.finish()

    command(args, "correct", rgba16, "-o", s.path("cmd-correcta16.png"))
    command(args, "auto", rgb8, "-o", s.path("cmd-auto8.png"))
    command(args, "auto", rgba8, "-o", s.path("cmd-autoa.png"))
    command(args, "correct", rgb8, "-o", s.path("cmd-correct8.png"), *SETTINGS_8[1])
    command(args, "correct", rgb16, "-o", s.path("cmd-correct16.png"), *SETTINGS_16[1])
    command(args, "correct", rgb8, "-o", s.path("cmd-last8.png"), *SETTINGS_16[1])

    failures = []

    def same(name, got, want):
        if got.shape != want.shape or got.dtype != want.dtype:
            failures.append(f"{name}: {got.shape} {got.dtype}, expected {want.shape} {want.dtype}")
        elif not np.array_equal(got, want):
            n = int(np.count_nonzero(np.any(got != want, axis=2)))
            failures.append(f"{name}: {n} pixels differ")

    def result(name):
        p = s.path(name)
        if not os.path.exists(p):
            failures.append(f"{name}: GIMP wrote nothing")
            return None
        return read(p)

    for gimp, cmd in [("auto8", "auto8"), ("autoa", "autoa"), ("correct8", "correct8"), ("correct16", "correct16"),
                      ("last8", "last8"), ("correcta16", "correcta16")]:
        got = result(f"gimp-{gimp}.png")
        if got is not None:
            same(f"GIMP {gimp} against the command", got, read(s.path(f"cmd-{cmd}.png")))
    got = result("gimp-autoa.png")
    if got is not None:
        same("alpha after auto", got[..., 3:], read(rgba8)[..., 3:])

    got = result("gimp-correcta16.png")
    if got is not None:
        same("alpha after correct at 16 bits", got[..., 3:], read(rgba16)[..., 3:])

    got = result("gimp-feather8.png")
    if got is not None:
        before, fixed = read(rgb8), read(s.path("cmd-auto8.png"))
        x, y, w, h, r = feather
        outside = np.ones(before.shape[:2], bool)
        outside[y - r:y + h + r, x - r:x + w + r] = False
        same("feathered selection: outside untouched", got[outside][None], before[outside][None])
        middle = np.s_[y + h // 2 - 10:y + h // 2 + 10, x + w // 2 - 10:x + w // 2 + 10]
        same("feathered selection: its middle corrected", got[middle], fixed[middle])
        got, before, fixed = got.astype(int), before.astype(int), fixed.astype(int)
        between = (np.minimum(before, fixed) <= got) & (got <= np.maximum(before, fixed))
        blended = np.any((got != before) & (got != fixed), axis=2)
        if not between.all() or np.count_nonzero(blended) < 100:
            failures.append("feathered selection: the edge is not a blend of the layer and the correction")

    # auto on a 16-bit layer stays 16-bit: samples between the 8-bit steps.
    got = result("gimp-auto16.png")
    if got is not None:
        if got.dtype != np.uint16 or np.all(got % 257 == 0) or np.array_equal(got, read(rgb16)):
            failures.append("auto on a 16-bit layer: not corrected at 16 bits")

    # The selection on the moved layer, in the layer's pixels.
    x, y, w, h = sel[0] - ox, sel[1] - oy, sel[2], sel[3]
    for name, before, corrected in [("select8", rgb8, "cmd-correct8.png"), ("selecta", rgba8, "cmd-autoa.png")]:
        got = result(f"gimp-{name}.png")
        if got is None:
            continue
        if name == "selecta":
            x, y = sel[0], sel[1]
        want = read(before).copy()
        want[y:y + h, x:x + w] = read(s.path(corrected))[y:y + h, x:x + w]
        same(f"{name}: the selection corrected, the rest untouched", got, want)
    return failures, log


def test_refusals(args, tmp):
    s = Session(args, tmp)
    rgb8 = s.path("rgb8.png")
    write(rgb8, scaled(os.path.join(args.samples, "s08_sunset_warm.jpg"), 160))
    s.run_on(rgb8, None, call({"black-clip": 7}))
    s.run_on(rgb8, None, call({"cast": 5}))
    s.run_on(rgb8, None, call({"target": 62}))
    s.run_on(rgb8, None, "(gimp-image-convert-grayscale img)", "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    s.run_on(rgb8, None, "(gimp-image-convert-indexed img CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 0 0 \"\")",
             "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    s.run_on(rgb8, None, "(gimp-image-convert-precision img PRECISION-FLOAT-GAMMA)", call({}))
    s.run_on(rgb8, None, "(let ((mask (car (gimp-layer-create-mask drw ADD-MASK-WHITE))))"
             " (gimp-layer-add-mask drw mask) (plug-in-lumarex-auto RUN-NONINTERACTIVE img mask))")
    # GIMP goes on after the refusals: a good call still corrects.
    s.run_on(rgb8, s.path("after.png"), "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)")
    log = s.finish()
    failures = []
    for expected in ["black-clip must be between 0 and 5, got '7'", "cast expects auto|on|off, got '5'",
                     "target must be a multiple of 5, got '62'", "this one is grayscale", "this one is indexed",
                     "this one has a higher precision",
                     "this is a layer mask or a channel"]:
        if expected not in log:
            failures.append(f"no refusal '{expected}'")
    if "crashed" in log or "terminated" in log:
        failures.append("the plug-in crashed")
    if not os.path.exists(s.path("after.png")):
        failures.append("no correction after the refusals")
    return failures, log


def main():
    p = argparse.ArgumentParser()
    p.add_argument("part", choices=["pixels", "refusals"])
    p.add_argument("--gimp", required=True)
    p.add_argument("--plugins", required=True)
    p.add_argument("--command", required=True)
    p.add_argument("--samples", required=True)
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="lumarex-gimp-") as tmp:
        failures, log = {"pixels": test_pixels, "refusals": test_refusals}[args.part](args, tmp)
    if failures:
        print("GIMP said:\n" + log)
        print("\n".join(failures))
        return 1
    print(f"gimp.{args.part}: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
