// SPDX-License-Identifier: MIT
// The twins behind CopyPixels: the plain form, the reference, and the fast
// form (SIMD, row_copy_hwy.cpp; the plain form again in a build without
// SIMD, simd/no_simd.cpp). The same bytes either way. Both are
// instantiated for uint8_t and uint16_t.
#pragma once

#include <cstdint>

#include "image/image_view.h"
#include "pipeline/row_copy.h"

namespace lx {

// CopyPixels pixel by pixel.
template <class T>
void CopyPixelsPlain(const ImageView<const T>& from, const ImageView<T>& to) {
    for (int32_t y = 0; y < to.height; ++y) {
        const T* in[3];
        T* out[3];
        from.Row(y, in);
        to.Row(y, out);
        for (int32_t x = 0; x < to.width; ++x) {
            const int64_t i = int64_t{x} * from.pixelStride, o = int64_t{x} * to.pixelStride;
            for (int k = 0; k < 3; ++k) out[k][o] = in[k][i];
        }
    }
}

template <class T>
void CopyPixelsFast(const ImageView<const T>& from, const ImageView<T>& to, Stores stores = Stores::kCached);

}  // namespace lx
