// SPDX-License-Identifier: MIT
// The layout conditions of the SIMD pixel kernels.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/image_view.h"

namespace lx::simd {

// True when no two samples of the view are the same memory: no two pixels
// share a sample and the three channels are distinct. The SIMD kernels read
// a run of pixels before they write it, and write it a channel at a time;
// on such a view that gives the bytes of the plain per-pixel loops, which
// keep the plain kernels for every other view.
template <class T>
bool SamplesAreOwn(const ImageView<T>& v) {
    return v.PixelsAreDisjoint() && v.channel[0] != v.channel[1] && v.channel[0] != v.channel[2] &&
           v.channel[1] != v.channel[2];
}

// For three channel pointers of interleaved pixels pixelStride samples
// apart: when the pixels are three samples each, which of the three samples
// from the lowest pointer belongs to each channel (a permutation of 0, 1, 2);
// false for any other layout.
template <class T, class Pointer>
bool InterleavedOrder(const Pointer (&channel)[3], int64_t pixelStride, int32_t order[3]) {
    if (pixelStride != 3) return false;
    const auto at = [](const T* p) { return reinterpret_cast<uintptr_t>(p); };
    const uintptr_t lowest = std::min({at(channel[0]), at(channel[1]), at(channel[2])});
    bool seen[3] = {false, false, false};
    for (int k = 0; k < 3; ++k) {
        const uintptr_t bytes = at(channel[k]) - lowest;
        if (bytes % sizeof(T) != 0 || bytes / sizeof(T) > 2 || seen[bytes / sizeof(T)]) return false;
        order[k] = int32_t(bytes / sizeof(T));
        seen[order[k]] = true;
    }
    return true;
}

}  // namespace lx::simd
