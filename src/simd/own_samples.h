// SPDX-License-Identifier: MIT
// The layout condition of the SIMD pixel kernels.
#pragma once

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

}  // namespace lx::simd
