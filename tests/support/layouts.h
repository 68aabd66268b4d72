// SPDX-License-Identifier: MIT
// An image in one of the memory layouts the one-shot and apply tests walk.
#pragma once

#include <cstdint>
#include <vector>

#include "image/image_view.h"

namespace lx::test {

// w x h pixels, rows padded, in layout `kind`: 0 RGB and 1 BGR (three
// samples a pixel), 2 planar, 3 four samples a pixel (blue, green, red,
// spare). Every sample, padding included, starts as `fill`.
template <class T = uint8_t>
struct LayoutImage {
    int32_t w, h;
    int64_t pixelStride, rowStride, offset[3];
    std::vector<T> mem;

    LayoutImage(int32_t width, int32_t height, int kind, T fill = T(0xA5)) : w(width), h(height) {
        const int64_t plane = (int64_t{w} + 5) * h;
        const int64_t layouts[4][5] = {{3, w * 3 + 7, 0, 1, 2}, {3, w * 3 + 2, 2, 1, 0},
                                       {1, w + 5, 0, plane, 2 * plane}, {4, w * 4 + 4, 2, 1, 0}};
        const int64_t* l = layouts[kind];
        pixelStride = l[0], rowStride = l[1], offset[0] = l[2], offset[1] = l[3], offset[2] = l[4];
        mem.assign(size_t(kind == 2 ? 3 * plane : rowStride * h), fill);
    }
    ImageView<T> View() { return {{&mem[offset[0]], &mem[offset[1]], &mem[offset[2]]}, rowStride, pixelStride, w, h}; }
    ImageDesc Desc() {
        const ImageView<T> v = View();
        const int32_t s = int32_t(sizeof(T));
        return ImageDesc{s == 1 ? 0 : 1, w, h, int32_t(rowStride * s), int32_t(pixelStride * s),
                         v.channel[0], v.channel[1], v.channel[2]};
    }
    // Sample i of the image read as interleaved RGB.
    T& At(int64_t i) { return View().At(int(i % 3), int32_t(i / 3 % w), int32_t(i / 3 / w)); }
};

}  // namespace lx::test
