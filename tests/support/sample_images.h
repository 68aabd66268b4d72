// SPDX-License-Identifier: MIT
// Real photographs for tests, read from the repository's samples/ folder.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

// Path of a bundled sample, e.g. SamplePath("s01_tungsten_indoor_wine.jpg").
std::string SamplePath(const std::string& name);

// Reads a bundled sample and shrinks it (box filter, integer factor) until its
// longer side is at most `maxSide`. The result is deterministic for a given
// file. Aborts the test on a read failure.
Rgb8 LoadSample8(const std::string& name, int maxSide);
Rgb16 LoadSample16(const std::string& name, int maxSide);

}  // namespace lx::test
