# SPDX-License-Identifier: MIT
"""The GIMP plug-in in one run of a headless GIMP (with a private
configuration folder that adds the build's plug-in folder), against the
command built beside it: the layers it corrects hold the command's pixels to
the byte (8 and 16-bit, alpha, selections, last values); a run asked to stop
leaves the layer and the last values as they were; bad parameters and layers
it cannot correct fail the call with the reason, and GIMP goes on.
"""
import argparse
import os
import subprocess
import sys
import tempfile

import numpy as np
import OpenImageIO as oiio

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tools", "quality"))
from icc_profiles import DISPLAY_P3, display_profile, in_display_p3, with_png_profile  # noqa: E402

# plug-in-lumarex's parameters after run-mode, image and drawable, in their
# order: the command's `correct` settings in the order of its table, at
# their defaults. Words are given as their numbers.
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
    """The file's samples in their own type (uint8 or uint16), height x width x channels."""
    inp = oiio.ImageInput.open(path)
    if not inp:
        raise RuntimeError(f"cannot read {path}: {oiio.geterror()}")
    pixels = inp.read_image(oiio.UNKNOWN)
    inp.close()
    return pixels


def write(path, pixels):
    if not oiio.ImageBuf(pixels).write(path):
        raise RuntimeError(f"cannot write {path}")


def scaled(path, width, depth=np.uint8):
    """A sample shrunk to `width` pixels: enough for every stage, quick in GIMP."""
    src = oiio.ImageBuf(path)
    height = round(src.roi.height * width / src.roi.width)
    dst = oiio.ImageBufAlgo.resize(src, roi=oiio.ROI(0, width, 0, height, 0, 1, 0, 3))
    top = np.iinfo(depth).max
    return np.clip(np.rint(dst.get_pixels(oiio.FLOAT) * top), 0, top).astype(depth)


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
    values = dict(DEFAULTS, **settings)  # an unknown name would add a parameter: GIMP refuses the call
    return f"(plug-in-lumarex {mode} img drw {' '.join(map(str, values.values()))})"


def command(args, *argv):
    r = subprocess.run([args.command, *argv], capture_output=True, text=True)
    if r.returncode != 0:
        raise RuntimeError(f"lumarex {' '.join(argv)}: {r.stderr}")


AUTO = "(plug-in-lumarex-auto RUN-NONINTERACTIVE img drw)"


def pixel_checks(args, s):
    """Queues the corrections; returns the function that checks their results."""
    rgb8, rgba8, rgb16, rgba16 = (s.path(f"{n}.png") for n in ("rgb8", "rgba8", "rgb16", "rgba16"))
    write(rgb8, scaled(os.path.join(args.samples, "s01_tungsten_indoor_wine.jpg"), 400))
    # Alpha from transparent to opaque, with colour under the transparent
    # pixels, which a correction must treat as any other.
    hazy = scaled(os.path.join(args.samples, "s03_hazy_lifted_blacks_bridge.jpg"), 480)
    alpha = np.tile(np.linspace(0, 255, hazy.shape[1]).astype(np.uint8), (hazy.shape[0], 1))
    write(rgba8, np.dstack([hazy, alpha]))
    room = scaled(os.path.join(args.samples, "s06_indoor_backlit_room_16bit.png"), 480, np.uint16)
    write(rgb16, room)
    write(rgba16, np.dstack([room, np.linspace(65535, 0, room.size // 3).astype(np.uint16).reshape(room.shape[:2])]))

    # A Display P3 layer, as a phone keeps a photo: the raspberries' colours
    # in P3's numbers, with the profile that says so, which GIMP keeps. The
    # plug-in measures the colours in it as the command does (read as sRGB,
    # the low-key photo is lifted fully).
    p3 = s.path("p3.png")
    raspberries = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "quality", "samples",
                               "u14_raspberries_red.jpg")
    write(p3, in_display_p3(scaled(raspberries, 320)))
    with_png_profile(p3, display_profile("Display P3 for the tests", DISPLAY_P3))

    # GIMP's result against the command's, in this order (the last values
    # are those of the 16-bit call before them).
    against = {"auto8": (rgb8, [AUTO], ["auto", rgb8]),
               "autoa": (rgba8, [AUTO], ["auto", rgba8]),
               "correct8": (rgb8, [call(SETTINGS_8[0])], ["correct", rgb8, *SETTINGS_8[1]]),
               "correct16": (rgb16, [call(SETTINGS_16[0])], ["correct", rgb16, *SETTINGS_16[1]]),
               "last8": (rgb8, [call({"brighten": 300, "guard": 7}, "RUN-WITH-LAST-VALS")],
                         ["correct", rgb8, *SETTINGS_16[1]]),
               "correcta16": (rgba16, [call({})], ["correct", rgba16]),
               "autop3": (p3, [AUTO], ["auto", p3])}
    # Runs asked to stop (a test-only parasite, where the dialog's Cancel
    # would), in the analysis and in the correction, just before the last
    # values are used: the call says it was cancelled, the layer is as it
    # was, and the last values stay those of the call before.
    stops = {"auto": ("0.25", AUTO), "correct": ("0.75", call(SETTINGS_8[0]))}
    for name, (source, steps, argv) in against.items():
        if name == "last8":
            for stop, (at, proc) in stops.items():
                s.run_on(rgb8, s.path(f"gimp-stop-{stop}.png"),
                         f'(gimp-item-attach-parasite drw (list "lumarex-stop-at" 0 "{at}"))',
                         f'(gimp-message (string-append "lumarex-stop-{stop}: "'
                         f' (if (car {proc}) "done" "cancelled")))')
        s.run_on(source, s.path(f"gimp-{name}.png"), *steps)
        command(args, *argv, "-o", s.path(f"cmd-{name}.png"))
    s.run_on(rgb16, s.path("gimp-auto16.png"), AUTO)
    # A layer moved on the canvas, a rectangle selected in image pixels:
    # only the rectangle changes, corrected as it looks in the whole layer.
    ox, oy, sel = 40, 30, (100, 120, 150, 90)
    select = f"(gimp-image-select-rectangle img CHANNEL-OP-REPLACE {' '.join(map(str, sel))})"
    s.run_on(rgb8, s.path("gimp-select8.png"), f"(gimp-layer-set-offsets drw {ox} {oy})", select,
             call(SETTINGS_8[0]))
    s.run_on(rgba8, s.path("gimp-selecta.png"), select, AUTO)
    # A feathered selection: its edge blends the correction into the layer.
    x, y, w, h, r = 100, 100, 200, 150, 20
    s.run_on(rgb8, s.path("gimp-feather8.png"), f"(gimp-context-set-feather TRUE) (gimp-context-set-feather-radius {r} {r})",
             f"(gimp-image-select-ellipse img CHANNEL-OP-REPLACE {x} {y} {w} {h}) (gimp-context-set-feather FALSE)", AUTO)

    def check(log, failures):
        def same(name, got, want):
            if got.shape != want.shape or got.dtype != want.dtype:
                failures.append(f"{name}: {got.shape} {got.dtype}, expected {want.shape} {want.dtype}")
            elif not np.array_equal(got, want):
                failures.append(f"{name}: {np.count_nonzero(np.any(got != want, axis=-1))} pixels differ")

        def gimp(name):
            p = s.path(f"gimp-{name}.png")
            if not os.path.exists(p):
                raise RuntimeError(f"GIMP said:\n{log}\nGIMP wrote no {name}")
            return read(p)

        for name, (source, _, _) in against.items():
            got = gimp(name)
            same(f"GIMP {name} against the command", got, read(s.path(f"cmd-{name}.png")))
            if got.shape[2] == 4:
                same(f"{name}: alpha kept", got[..., 3], read(source)[..., 3])

        for stop in stops:
            if f"lumarex-stop-{stop}: cancelled" not in log:
                failures.append(f"stopped {stop}: no cancel status")
            same(f"stopped {stop}: the layer unchanged", gimp(f"stop-{stop}"), read(rgb8))

        # auto on a 16-bit layer stays 16-bit: samples between the 8-bit steps.
        got = gimp("auto16")
        if got.dtype != np.uint16 or np.all(got % 257 == 0) or np.array_equal(got, room):
            failures.append("auto on a 16-bit layer: not corrected at 16 bits")

        # The selections, in the layer's pixels.
        for name, before, corrected, (lx, ly) in [("select8", rgb8, "correct8", (sel[0] - ox, sel[1] - oy)),
                                                  ("selecta", rgba8, "autoa", sel[:2])]:
            want = read(before)
            want[ly:ly + sel[3], lx:lx + sel[2]] = read(s.path(f"cmd-{corrected}.png"))[ly:ly + sel[3], lx:lx + sel[2]]
            same(f"{name}: the selection corrected, the rest untouched", gimp(name), want)

        got, before, fixed = gimp("feather8"), read(rgb8), read(s.path("cmd-auto8.png"))
        outside = np.ones(before.shape[:2], bool)
        outside[y - r:y + h + r, x - r:x + w + r] = False
        same("feathered selection: outside untouched", got[outside], before[outside])
        middle = np.s_[y + h // 2 - 10:y + h // 2 + 10, x + w // 2 - 10:x + w // 2 + 10]
        same("feathered selection: its middle corrected", got[middle], fixed[middle])
        got, before, fixed = got.astype(int), before.astype(int), fixed.astype(int)
        between = (np.minimum(before, fixed) <= got) & (got <= np.maximum(before, fixed))
        if not between.all() or np.count_nonzero(np.any((got != before) & (got != fixed), axis=2)) < 100:
            failures.append("feathered selection: the edge is not a blend of the layer and the correction")

    return check


def refusal_checks(args, s):
    rgb8 = s.path("small.png")
    write(rgb8, scaled(os.path.join(args.samples, "s08_sunset_warm.jpg"), 160))
    s.run_on(rgb8, None, call({"black-clip": 7}))
    s.run_on(rgb8, None, "(gimp-image-convert-grayscale img)", AUTO)
    s.run_on(rgb8, None, "(gimp-image-convert-indexed img CONVERT-DITHER-NONE CONVERT-PALETTE-GENERATE 16 0 0 \"\")", AUTO)
    s.run_on(rgb8, None, "(gimp-image-convert-precision img PRECISION-FLOAT-GAMMA)", call({}))
    s.run_on(rgb8, None, "(gimp-image-convert-precision img PRECISION-U16-LINEAR)", call({}))
    s.run_on(rgb8, None, "(let ((mask (car (gimp-layer-create-mask drw ADD-MASK-WHITE))))"
             " (gimp-layer-add-mask drw mask) (plug-in-lumarex-auto RUN-NONINTERACTIVE img mask))")
    # A layer whose pixels are locked refuses the corrected pixels.
    s.run_on(rgb8, None, "(gimp-item-set-lock-content drw TRUE)", AUTO)
    # The dialog without a display (gimp-console has none).
    s.run_on(rgb8, None, call({}, "RUN-INTERACTIVE"))
    # GIMP goes on after the refusals: a good call still corrects.
    s.run_on(rgb8, s.path("after.png"), AUTO)

    def check(log, failures):
        for expected in ["black-clip must be between 0 and 5, got '7'", "this one is grayscale", "this one is indexed", "this one has a higher precision",
                         "this one is linear light", "this is a layer mask or a channel",
                         "the dialog needs a display", "the layer cannot take the corrected pixels"]:
            if expected not in log:
                failures.append(f"no refusal '{expected}'")
        if "crashed" in log or "terminated" in log:
            failures.append("the plug-in crashed")
        if not os.path.exists(s.path("after.png")):
            failures.append("no correction after the refusals")

    return check


def main():
    p = argparse.ArgumentParser()
    p.add_argument("--gimp", required=True)
    p.add_argument("--plugins", required=True)
    p.add_argument("--command", required=True)
    p.add_argument("--samples", required=True)
    args = p.parse_args()
    with tempfile.TemporaryDirectory(prefix="lumarex-gimp-") as tmp:
        failures, log = [], ""
        try:
            s = Session(args, tmp)
            checks = [pixel_checks(args, s), refusal_checks(args, s)]
            log = s.finish()
            for check in checks:
                check(log, failures)
        except RuntimeError as e:
            failures.append(str(e))
    if failures:
        print("GIMP said:\n" + log)
        print("\n".join(failures))
        return 1
    print("gimp: all checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
