// SPDX-License-Identifier: MIT
// Images for tests: views over raw channel pointers, interleaved and planar
// images that own their samples, and owners for blobs and records.
#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "image/image_view.h"
#include "lumarex/lumarex.h"

namespace lx::test {

// A view over three channel pointers; strides in samples.
template <class T>
ImageView<T> View(T* red, T* green, T* blue, int64_t width, int64_t height, int64_t pixelStride, int64_t rowStride) {
    return ImageView<T>{{red, green, blue}, rowStride, pixelStride, int32_t(width), int32_t(height)};
}

// One interleaved RGB pixel as a 1 x 1 view.
template <class T>
ImageView<T> PixelView(T* rgb) {
    return View(rgb, rgb + 1, rgb + 2, 1, 1, 3, 3);
}

// An interleaved RGB image (red first) with `pad` spare samples after each
// row, owning its samples.
template <class T>
struct Interleaved {
    int w = 0, h = 0, pad = 0;
    std::vector<T> px;

    Interleaved(int width, int height, int padding = 0, T fill = T(0))
        : w(width), h(height), pad(padding), px(size_t(RowStride()) * height, fill) {}
    int64_t RowStride() const { return int64_t{w} * 3 + pad; }
    T* at(int x, int y) { return px.data() + y * RowStride() + int64_t{x} * 3; }
    ImageView<T> view() { return View(px.data(), px.data() + 1, px.data() + 2, w, h, 3, RowStride()); }
    ImageDesc desc() {
        const int32_t s = int32_t(sizeof(T));
        return ImageDesc{s == 1 ? 0 : 1, w, h, int32_t(RowStride() * s), 3 * s, px.data(), px.data() + 1,
                         px.data() + 2};
    }
};

// Three planes of width x height samples (rows padded by `pad`), owning them.
template <class T>
struct Planar {
    int w = 0, h = 0, pad = 0;
    std::vector<T> c[3];

    Planar(int width, int height, int padding = 0, T fill = T(0)) : w(width), h(height), pad(padding) {
        for (auto& p : c) p.assign(size_t(w + pad) * h, fill);
    }
    T& at(int k, int x, int y) { return c[k][size_t(y) * (w + pad) + x]; }
    T at(int k, int x, int y) const { return c[k][size_t(y) * (w + pad) + x]; }
    ImageView<T> view() { return View(c[0].data(), c[1].data(), c[2].data(), w, h, 1, w + pad); }
    ImageDesc desc() {
        const int32_t s = int32_t(sizeof(T));
        return ImageDesc{s == 1 ? 0 : 1, w, h, (w + pad) * s, s, c[0].data(), c[1].data(), c[2].data()};
    }
};

// Owners that free through the exports, so that a failing assertion leaks
// nothing.
struct BlobFreer {
    void operator()(ImageBlob* blob) const { FreeImageBlob(blob); }
};
using BlobPtr = std::unique_ptr<ImageBlob, BlobFreer>;
struct ParamFreer {
    void operator()(ImageParam* param) const { FreeImageParam(param); }
};
using ParamPtr = std::unique_ptr<ImageParam, ParamFreer>;

}  // namespace lx::test
