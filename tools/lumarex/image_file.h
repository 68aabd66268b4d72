// SPDX-License-Identifier: MIT
// Reading and writing photographs for the lumarex command: PNG, JPEG and TIFF
// through OpenImageIO, metadata (EXIF, ICC profile) carried from input to
// output, and outputs written through a temporary file that is renamed into
// place, so that a failure never leaves a half-written file.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <string>
#include <vector>

#include "lumarex/lumarex.h"

namespace lumarex_cli {

// A photograph as the correction sees it: interleaved RGB (red first) of 8 or
// 16 bits, plus what is needed to write it back as it came.
struct Picture {
    int width = 0;
    int height = 0;
    int bits = 8;                  // 8 or 16
    std::vector<uint8_t> rgb8;     // width * height * 3, when bits == 8
    std::vector<uint16_t> rgb16;   // width * height * 3, when bits == 16
    bool grey = false;             // the file had one colour channel
    bool hasAlpha = false;         // an alpha channel is kept aside, untouched
    std::vector<uint16_t> alpha;   // width * height, 16-bit scale (0..65535)
    OIIO::ImageSpec spec;          // the input's description and metadata
};

// The library's description of the picture's interleaved RGB samples
// (8 or 16-bit by pic.bits); it points into `pic`.
ImageDesc DescribeRgb(Picture& pic);

// Reads `path`. On failure returns false and sets `error` to a short reason
// ("no such file", "not an image file: ...", "unsupported: 2 colour
// channels", ...). `want16` keeps 16-bit files at 16 bits; otherwise they
// are reduced to 8 bits with rounding and `note` says so.
bool ReadPicture(const std::string& path, bool want16, Picture& out, std::string& error, std::string& note);

// Output formats by file name extension.
bool IsSupportedOutput(const std::string& path);

// Writes `pic` to `path` in the format its extension names, at pic.bits,
// with the input's metadata. The data goes to a temporary file in the same
// folder that is renamed over `path` only when complete. `jpegQuality` 1..100.
bool WritePicture(const std::string& path, const Picture& pic, int jpegQuality, std::string& error);

// Puts `before` and `after` (same size and depth) side by side with a thin
// gap, scaled down so the result is at most `maxWidth` wide, and writes it.
bool WriteSideBySide(const std::string& path, const Picture& before, const Picture& after, int maxWidth,
                     std::string& error);

// Removes temporary files still being written (for a stop on Ctrl-C).
void RemovePendingTemporaries();

}  // namespace lumarex_cli
