# SPDX-License-Identifier: MIT
"""Lumarex: automatic photo correction, numpy in, numpy out.

    import lumarex
    fixed = lumarex.auto(photo)          # photo: height x width x 3, uint8

Settings are keyword arguments with the names of the ``lumarex`` command's
options (``black_clip`` for ``--black-clip``), the same units, ranges and
defaults; ``help(lumarex.auto)`` lists them. Results are the command's to the
byte: ``lumarex.auto(lumarex.read_photo(path))`` holds exactly the pixels
``lumarex auto path -o out.png`` writes.

The library works without the GIL. Every long call takes ``progress``, a
callable given the share done (0..1) at each of the library's steps;
returning True stops the call with :class:`Cancelled`, and Ctrl-C
(KeyboardInterrupt) stops it at the next step. A stopped call leaves its
input untouched. A callback must not close or apply the analysis it reports
for (RuntimeError); a MemoryError says how much was asked for and what for.
``lumarex.batch`` corrects files, on a process pool or a Dask cluster.
"""

import json as _json
import os as _os

from . import _lumarex

__all__ = ["Analysis", "Cancelled", "analyse", "auto", "detect_noise", "read_photo", "settings", "version"]

Cancelled = _lumarex.Cancelled
Cancelled.__doc__ = "A progress callback returned True: the call stopped, its input untouched."
Cancelled.__module__ = "lumarex"

_TABLE = _lumarex.settings_table()


def settings(command="auto"):
    """The settings of ``command`` ('auto' or 'correct') as a list of dicts:
    keyword, option name, unit, range, default and help text."""
    if command not in ("auto", "correct"):
        raise ValueError(f"command must be 'auto' or 'correct', got {command!r}")
    return [
        {
            "keyword": t["keyword"],
            "option": "--" + t["name"],
            "unit": t["unit"],
            "range": t["range"],
            "default": t["default_" + command],
            "help": t["help_" + command],
        }
        for t in _TABLE
        if t[command]
    ]


def _settings_help(command):
    """The settings as the command's --help lists them, one block each."""
    import textwrap

    lines = []
    for s in settings(command):
        head = f"{s['keyword']}={s['range']}"
        lines.append(head)
        lines.extend(textwrap.wrap(s["help"], 72, initial_indent="    ", subsequent_indent="    "))
    return "\n".join(lines)


def version():
    """The library's version as ``lumarex --version`` gives it, "5.1"."""
    return _lumarex.version()


def auto(image, *, profile=None, out=None, progress=None, **settings):
    """Corrects an 8-bit photo automatically and returns the result.

    ``image`` is a height x width x 3 uint8 array, red first: C-contiguous or
    any strided view (a crop, ``bgr[..., ::-1]``). ``profile`` is its ICC
    colour profile (bytes, as ``read_photo(..., with_profile=True)`` gives
    it), whose colour space the choice of settings measures colours in (a
    Display P3 or Adobe RGB photo's numbers mean more saturated colours than
    sRGB's); None measures them as sRGB. It is analysed, then the
    black offset and a colour cast the analysis finds are removed, the levels
    stretched and shadows and mid-tones brightened, without newly clipping
    more than 1 % of the pixels at white or 1.5 % at black (guard), exactly
    as ``lumarex auto`` corrects it. The result is a new array, or ``out``
    (same shape, uint8, writable) when given. The input is never changed.

    Raises TypeError/ValueError for a wrong dtype, shape or setting before
    any work, KeyboardInterrupt or Cancelled when stopped.

    Settings (the options of ``lumarex auto``):

    {settings}
    """
    return _lumarex.auto(image, profile, out, progress, settings)


class Analysis:
    """What the analysis of one picture measured, to correct it as often as
    wanted with different settings (``lumarex correct``'s two halves).

    Made by :func:`analyse`. Holds a working copy of the picture and the
    analysis; :meth:`close` (or a ``with`` block) releases them.
    """

    def __init__(self, image, *, profile=None, progress=None):
        self._native = _lumarex.Analysis(image, profile, progress)

    @property
    def bits(self):
        """8 or 16: the analysed picture's sample depth."""
        return self._native.bits

    @property
    def record(self):
        """The analysis record as a dict, the fields ``lumarex analyse``
        prints: bits, width, height, blackLevel, needTint, tintGains,
        whitePoint, toneLevels, shadowPercentiles, baseMap. A new dict each
        time: changing it changes nothing in the analysis or in the next
        one read."""
        return _json.loads(self._native.record_json)

    @property
    def closed(self):
        return self._native.closed

    def apply(self, image=None, *, region=None, out=None, progress=None, **settings):
        """Corrects the analysed picture (or ``image``, of its shape and dtype)
        with this analysis and returns the result, 8 or 16 bits as analysed.

        ``region`` (x, y, width, height) corrects only that part of the
        picture, as it looks in the corrected whole; the result then has the
        region's size. ``out`` receives the result when given. Exactly as
        ``lumarex correct`` corrects (with ``--region`` for a region).

        ``progress`` may read this analysis (``record``, ``closed``) but not
        apply or close it: that raises RuntimeError, which stops this call
        unless the callback catches it. Another thread's apply or close
        waits until this call returns.

        Settings (the options of ``lumarex correct``):

        {settings}
        """
        return self._native.apply(image, region, out, progress, settings)

    def close(self):
        """Releases the working copy and the analysis; apply then fails.
        Waits for an apply under way on another thread; from inside this
        analysis' own apply (its progress callback) raises RuntimeError."""
        self._native.close()

    def __enter__(self):
        return self

    def __exit__(self, *exc):
        self.close()
        return False


def analyse(image, *, profile=None, progress=None):
    """Analyses an H x W x 3 uint8 or uint16 picture once: returns an
    :class:`Analysis` whose ``apply`` corrects it and whose ``record`` tells
    what was measured. ``profile`` is the picture's ICC colour profile, as
    for :func:`auto`."""
    return Analysis(image, profile=profile, progress=progress)


def detect_noise(image, **settings):
    """Asks the noise library to measure the noise of an H x W x 3 uint8 or
    uint16 picture with the ``denoise`` preset (0..4; off measures as 0)
    and ``noise_level`` (-1..10). True when it could (the noise library is
    there and took the picture), False otherwise. The picture is not
    changed."""
    return _lumarex.detect_noise(image, settings)


def read_photo(path, *, bits=8, progress=None, with_profile=False):
    """Reads a photo file (JPEG, PNG, TIFF, WebP, HEIC, AVIF, camera raw and
    the other formats the command reads) exactly as the ``lumarex`` command
    does: turned upright by its EXIF orientation, grey as RGB, alpha left
    aside, premultiplied colour unpremultiplied; ``bits=16`` keeps deep files
    at 16 bits (uint16), ``bits=8`` reduces them with rounding. Returns an
    H x W x 3 array; with ``with_profile=True``, the array and the photo's
    RGB colour profile (bytes, or None), the one the command writes and
    measures with. The file is read in a process of its own, so a decoder
    that crashes or hangs on a damaged file costs that call only.
    ValueError names the file and the problem."""
    given = _os.fspath(path)
    if isinstance(given, bytes):
        given = _os.fsdecode(given)
    if "\0" in given:
        raise ValueError("embedded null byte")  # as open() says
    # The reader keeps the folder this process was in when it started, so it
    # is given the path made absolute here; as bytes in the file system's
    # encoding, so that a name that is not UTF-8 (as os.listdir gives it) is
    # read too. Messages name the file as the caller did.
    name = given.encode("utf-8", "surrogateescape").decode("utf-8", "backslashreplace")
    return _lumarex.read_photo(_os.fsencode(_os.path.abspath(given)), name, bits, progress, with_profile)


# The settings' help goes into the docstrings; python -OO strips them.
if auto.__doc__ is not None:
    auto.__doc__ = auto.__doc__.replace("{settings}", _settings_help("auto").replace("\n", "\n    "))
if Analysis.apply.__doc__ is not None:
    Analysis.apply.__doc__ = Analysis.apply.__doc__.replace(
        "{settings}", _settings_help("correct").replace("\n", "\n        ")
    )
