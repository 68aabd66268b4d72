// SPDX-License-Identifier: MIT
// Builds image blobs for tests through the library's own AllocImageBlob.
#pragma once

#include <cstdint>
#include <functional>
#include <vector>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/images.h"

namespace lx::test {

// An interleaved RGB image (red first) whose pixels come from `rgb(x, y, c)`,
// copied into a blob.
template <class T>
BlobPtr MakeBlob(int width, int height, const std::function<T(int x, int y, int c)>& rgb) {
    std::vector<T> px(size_t(width) * height * 3);
    for (int y = 0; y < height; ++y)
        for (int x = 0; x < width; ++x)
            for (int c = 0; c < 3; ++c) px[(size_t(y) * width + x) * 3 + c] = rgb(x, y, c);
    const int32_t s = int32_t(sizeof(T));
    ImageDesc d{s == 1 ? 0 : 1, width, height, width * 3 * s, 3 * s, px.data(), px.data() + 1, px.data() + 2};
    return BlobPtr(AllocImageBlob(&d));
}

// The blob's sample bytes, padding excluded, for before/after comparisons.
inline std::vector<uint8_t> BlobBytes(const ImageBlob& b) {
    const int64_t rowBytes = int64_t{b.width} * 3 * (b.sampleType == 1 ? 2 : 1);
    std::vector<uint8_t> out;
    for (int y = 0; y < b.height; ++y) {
        const uint8_t* row = b.pixels->Data() + int64_t{y} * b.rowStride;
        out.insert(out.end(), row, row + rowBytes);
    }
    return out;
}

}  // namespace lx::test
