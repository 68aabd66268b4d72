// SPDX-License-Identifier: MIT
// Real photographs for tests, read from the repository's samples/ folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "lumarex/lumarex.h"

namespace lx::test {

// An interleaved RGB image (red first), 8 or 16 bits per sample.
template <class T>
struct Rgb {
    int width = 0;
    int height = 0;
    std::vector<T> px;  // width * height * 3 samples, red, green, blue
    T* at(int x, int y) { return px.data() + (size_t(y) * width + x) * 3; }
    const T* at(int x, int y) const { return px.data() + (size_t(y) * width + x) * 3; }
};
using Rgb8 = Rgb<uint8_t>;
using Rgb16 = Rgb<uint16_t>;

// Reads a bundled sample (e.g. "s01_tungsten_indoor_wine.jpg") and shrinks
// it (box filter, integer factor) until its longer side is at most `maxSide`;
// a read failure fails the test.
Rgb8 LoadSample8(const std::string& name, int maxSide);
Rgb16 LoadSample16(const std::string& name, int maxSide);

// The same for a photo anywhere else, by its path.
Rgb8 LoadPhoto8(const std::string& path, int maxSide);

// A photo as one interleaved RGB buffer of 8-bit (bytes 1) or 16-bit
// (bytes 2) samples, red first, with a descriptor over it.
struct Photo {
    int w = 0, h = 0, bytes = 1;
    std::vector<uint8_t> px;
    ImageDesc desc() {
        return ImageDesc{bytes == 2 ? 1 : 0, w, h, w * 3 * bytes, 3 * bytes, px.data(), px.data() + bytes,
                         px.data() + 2 * bytes};
    }
};

// The 16-bit sample s06 (a lossless PNG, so its decoding cannot vary),
// shrunk as LoadSample16 does, in 16 bits or reduced to 8 (top byte).
Photo LoadBacklitRoom(bool sixteenBit, int maxSide);

}  // namespace lx::test
