// SPDX-License-Identifier: MIT
// Finding a block of metadata in a JPEG file's segments without decoding
// it: the EXIF (adobe_rgb.h) and the XMP packet (xmp_packet.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <fstream>
#include <functional>

namespace lumarex_cli {

// Where the data of the JPEG file's first APP1 segment that starts with the
// `signatureSize` bytes of `signature`, and holds at least `least` bytes
// after them, lies: `base` and `size` are those bytes' offset and count.
// False when no such segment comes before the picture's data.
bool FindJpegApp1(std::ifstream& file, const char* signature, size_t signatureSize, size_t least, uint64_t& base,
                  uint64_t& size);

// Calls `f(base, size)` for each APP1 segment before the picture's data that
// starts with `signature` and holds at least `least` bytes after it, in the
// file's order, until f returns false. False when the segments could not
// all be read (the file is cut short or damaged) or f asked to stop.
bool ForEachJpegApp1(std::ifstream& file, const char* signature, size_t signatureSize, size_t least,
                     const std::function<bool(uint64_t base, uint64_t size)>& f);

}  // namespace lumarex_cli
