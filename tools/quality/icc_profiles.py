# SPDX-License-Identifier: MIT
"""ICC display profiles (version 2.1) made here, for the judging sheets
(sRGB, which every picture is converted to for the judge) and for tests
(Display P3, as phones keep photos): colorants at D50 as the spaces'
published profiles hold them, sRGB's curve (both spaces have it) as a
1024-point table. Also 8-bit sRGB samples turned into Display P3's numbers
for the same colours."""
import struct

SRGB = [[0.436066, 0.222488, 0.013916], [0.385147, 0.716873, 0.097076], [0.143066, 0.060608, 0.714096]]
DISPLAY_P3 = [[0.515102, 0.241182, -0.001049], [0.291965, 0.692236, 0.041882], [0.157153, 0.066574, 0.784073]]


def _srgb_linear(v):
    return v / 12.92 if v <= 0.04045 else ((v + 0.055) / 1.055) ** 2.4


def display_profile(name, colorants):
    """The profile named `name` (bytes) of the red, green and blue colorants
    given (XYZ at D50), with sRGB's curve."""
    def fixed(x):
        return struct.pack(">i", round(x * 65536))

    def xyz(c):
        return b"XYZ \0\0\0\0" + b"".join(fixed(v) for v in c)

    curve = b"curv\0\0\0\0" + struct.pack(">I", 1024) + b"".join(
        struct.pack(">H", round(65535 * _srgb_linear(i / 1023))) for i in range(1024))
    text = name.encode()
    desc = b"desc\0\0\0\0" + struct.pack(">I", len(text) + 1) + text + b"\0" + bytes(4 + 4 + 2 + 1 + 67)
    tags = [(b"desc", desc), (b"wtpt", xyz([0.9642, 1.0, 0.8249])), (b"rXYZ", xyz(colorants[0])),
            (b"gXYZ", xyz(colorants[1])), (b"bXYZ", xyz(colorants[2])), (b"rTRC", curve), (b"gTRC", curve),
            (b"bTRC", curve)]
    header = bytearray(128)
    header[8:12] = bytes([2, 0x10, 0, 0])
    header[12:24] = b"mntrRGB XYZ "
    header[36:40] = b"acsp"
    header[68:80] = fixed(0.9642) + fixed(1.0) + fixed(0.8249)
    table, body = struct.pack(">I", len(tags)), b""
    start = 128 + 4 + 12 * len(tags)
    for signature, data in tags:
        table += signature + struct.pack(">II", start + len(body), len(data))
        body += data + bytes(-len(data) % 4)
    profile = header + table + body
    profile[0:4] = struct.pack(">I", len(profile))
    return bytes(profile)


def in_display_p3(rgb8):
    """An H x W x 3 uint8 array of sRGB samples turned into Display P3's
    numbers for the same colours, rounded (numpy)."""
    import numpy as np

    v = rgb8.astype(np.float64) / 255
    lin = np.where(v <= 0.04045, v / 12.92, ((v + 0.055) / 1.055) ** 2.4)
    p3 = np.clip(lin @ np.array([[0.8224621, 0.1775380, 0.0],
                                 [0.0331941, 0.9668058, 0.0],
                                 [0.0170827, 0.0723974, 0.9105199]]).T, 0, 1)
    encoded = np.where(p3 <= 0.0031308, 12.92 * p3, 1.055 * p3 ** (1 / 2.4) - 0.055)
    return np.rint(encoded * 255).astype(np.uint8)


def with_png_profile(path, profile):
    """Puts `profile` into the PNG file at `path`, in an iCCP chunk after
    its IHDR."""
    import zlib

    with open(path, "rb") as f:
        png = f.read()
    data = b"icc\0\0" + zlib.compress(profile)
    chunk = struct.pack(">I", len(data)) + b"iCCP" + data + struct.pack(">I", zlib.crc32(b"iCCP" + data))
    at = 8 + 8 + 13 + 4  # the signature, then IHDR
    with open(path, "wb") as f:
        f.write(png[:at] + chunk + png[at:])
