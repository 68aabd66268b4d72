// SPDX-License-Identifier: MIT
// Finding a block of metadata in a JPEG file's segments without decoding
// it: the EXIF (adobe_rgb.h) and the XMP packet (xmp_packet.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>

namespace lumarex_cli {

// Where the data of the JPEG file's first APP1 segment that starts with the
// `signatureSize` bytes of `signature`, and holds at least `least` bytes
// after them, lies: `base` and `size` are those bytes' offset and count.
// False when no such segment comes before the picture's data.
bool FindJpegApp1(std::ifstream& file, const char* signature, size_t signatureSize, size_t least, uint64_t& base,
                  uint64_t& size);

}  // namespace lumarex_cli
