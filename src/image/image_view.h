// SPDX-License-Identifier: MIT
// One view of an image for every stage: three channel pointers (red, green,
// blue at pixel (0, 0)), strides in samples, width and height. Planar images
// (pixel stride 1), interleaved ones (three pointers one sample apart, pixel
// stride 3) and blobs are described alike. Offsets are formed in 64 bits, so
// no stride or size of a real image can overflow them.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <type_traits>

#include "image/sample_depth.h"
#include "lumarex/lumarex.h"

namespace lx {

template <class T>
struct ImageView {
    using Sample = T;

    T* channel[3] = {nullptr, nullptr, nullptr};  // channel 1, 2, 3: red, green, blue
    int64_t rowStride = 0;                        // samples from a row to the next
    int64_t pixelStride = 0;                      // samples from a pixel to the next
    int32_t width = 0;
    int32_t height = 0;

    bool Empty() const { return width <= 0 || height <= 0; }
    int64_t Offset(int32_t x, int32_t y) const { return int64_t{y} * rowStride + int64_t{x} * pixelStride; }
    T& At(int k, int32_t x, int32_t y) const { return channel[k][Offset(x, y)]; }
    // Pointers to the first pixel of row y, one per channel.
    void Row(int32_t y, T* out[3]) const {
        const int64_t o = int64_t{y} * rowStride;
        for (int k = 0; k < 3; ++k) out[k] = channel[k] + o;
    }

    // The same pixels, read only.
    operator ImageView<const T>() const
        requires(!std::is_const_v<T>)
    {
        return ImageView<const T>{{channel[0], channel[1], channel[2]}, rowStride, pixelStride, width, height};
    }

    // The w x h pixels from (x, y); the caller keeps them inside the image.
    ImageView Region(int32_t x, int32_t y, int32_t w, int32_t h) const {
        const int64_t o = Offset(x, y);
        return ImageView{{channel[0] + o, channel[1] + o, channel[2] + o}, rowStride, pixelStride, w, h};
    }

    // True when no two pixels share a sample, so that a pixel's result can
    // depend only on its own samples whatever order pixels are visited in.
    // Checked conservatively for the layouts images have: interleaved (all
    // three channels within one pixel step) or planar (three channel extents
    // apart), each with positive strides and rows that stay out of the next
    // row. Any other layout (a pixel stride of 0, overlapping rows) answers
    // false, and stages then keep the plain visiting order.
    bool PixelsAreDisjoint() const {
        if (Empty()) return true;
        if (pixelStride <= 0 || rowStride < int64_t{width} * pixelStride) return false;
        const auto at = [](const T* p) { return reinterpret_cast<uintptr_t>(p); };
        const uintptr_t b[3] = {at(channel[0]), at(channel[1]), at(channel[2])};
        const uintptr_t lowest = std::min({b[0], b[1], b[2]});
        const uintptr_t highest = std::max({b[0], b[1], b[2]});
        if (highest - lowest + sizeof(T) <= uint64_t(pixelStride) * sizeof(T)) return true;  // interleaved
        const uint64_t extent = (uint64_t(Offset(width - 1, height - 1)) + 1) * sizeof(T);
        for (int i = 0; i < 3; ++i)
            for (int j = i + 1; j < 3; ++j)
                if (b[i] < b[j] + extent && b[j] < b[i] + extent) return false;
        return true;
    }
};

// A caller's descriptor as a view of T samples: strides in bytes become
// samples (16-bit ones rounded down to an even byte count first). The
// descriptor's sampleType is not looked at: the caller chose T.
template <class T>
ImageView<T> ViewOf(const ImageDesc& image) {
    // 16-bit strides count whole samples: an odd byte stride counts as the
    // even one below (>> rounds toward minus infinity, for negative strides too).
    constexpr int shift = sizeof(T) == 2 ? 1 : 0;
    return ImageView<T>{{static_cast<T*>(image.channel1), static_cast<T*>(image.channel2),
                         static_cast<T*>(image.channel3)},
                        int64_t{image.rowStride >> shift}, int64_t{image.pixelStride >> shift}, image.width,
                        image.height};
}

// True when a stage may write the view's pixels: none (an empty image), or
// three non-null channel pointers aligned for T.
template <class T>
bool IsWritable(const ImageView<T>& v) {
    if (v.Empty()) return true;
    for (T* c : v.channel)
        if (c == nullptr || reinterpret_cast<uintptr_t>(c) % alignof(T) != 0) return false;
    return true;
}

// A float plane: width x height floats, row after row with no gap.
struct Plane {
    float* data = nullptr;
    int32_t width = 0;
    int32_t height = 0;

    int64_t Size() const { return int64_t{std::max(width, 0)} * std::max(height, 0); }
    float* Row(int32_t y) const { return data + int64_t{y} * width; }
};

}  // namespace lx
