# SPDX-License-Identifier: MIT
# Shared by the module's and the batch's tests: the command built beside the
# module (LUMAREX_COMMAND, set by the test command), the bundled samples, and
# small photos made here with OpenImageIO.
import os
import pathlib
import subprocess
import sys

import numpy as np
import OpenImageIO as oiio
import pytest

SAMPLES = pathlib.Path(__file__).resolve().parents[2] / "samples"
QUALITY_SAMPLES = pathlib.Path(__file__).resolve().parents[1] / "quality" / "samples"
# The ICC profiles made for the judging sheets and the tests.
sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "tools" / "quality"))


@pytest.fixture(scope="session")
def command():
    path = os.environ.get("LUMAREX_COMMAND")
    if not path or not os.access(path, os.X_OK):
        pytest.fail("LUMAREX_COMMAND must name the built lumarex command")
    return path


@pytest.fixture(scope="session")
def run(command):
    """Runs `lumarex ARGS...`; returns the completed process."""

    def go(*args, check=True):
        p = subprocess.run([command, *map(str, args)], capture_output=True, text=True)
        if check and p.returncode != 0:
            raise AssertionError(f"lumarex {' '.join(map(str, args))}: {p.returncode}\n{p.stderr}")
        return p

    return go


def samples(pattern="*"):
    return sorted(p for p in SAMPLES.glob(pattern) if p.suffix in (".jpg", ".png", ".tif"))


def read_pixels(path):
    """A file's stored pixels as OpenImageIO gives them (no turning)."""
    img = oiio.ImageInput.open(str(path))
    assert img, oiio.geterror()
    spec = img.spec()
    px = img.read_image(0, 0, 0, spec.nchannels, spec.format)
    img.close()
    return px


def write_image(path, pixels):
    spec = oiio.ImageSpec(pixels.shape[1], pixels.shape[0], pixels.shape[2],
                          "uint16" if pixels.dtype == np.uint16 else "uint8")
    out = oiio.ImageOutput.create(str(path))
    assert out and out.open(str(path), spec), oiio.geterror()
    assert out.write_image(pixels)
    out.close()
    return path


def scene(height, width, seed=1, dtype=np.uint8):
    """A dim, warm picture with texture: something to brighten and a cast
    to remove, the same on every run."""
    rng = np.random.default_rng(seed)
    y, x = np.mgrid[0:height, 0:width]
    base = 30 + 90 * (x / width) * (y / height)
    rgb = np.stack([base * 1.3, base, base * 0.7], axis=-1) + rng.normal(0, 6, (height, width, 3))
    top = 65535 if dtype == np.uint16 else 255
    return np.clip(rgb * (top / 255), 0, top).astype(dtype)


def dies_on_its_file(task):
    """A batch worker's task that ends its process on a file named dies.png
    (as a crash or the out-of-memory killer would) and reports the others as
    corrected; here, not in a test file, so that a spawned worker imports it."""
    import lumarex.batch

    if task[0].endswith("dies.png"):
        os._exit(1)
    return lumarex.batch.FileReport(task[0], task[1], True, "", "", 0.0, "")
