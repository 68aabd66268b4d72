// SPDX-License-Identifier: MIT
// The twins behind RebuildProportional: the plain form, the reference, and
// the fast form (SIMD, rebuild_step_hwy.cpp; the plain form again in a build
// without SIMD, simd/no_simd.cpp). The same bytes either way. Both are
// instantiated for uint8_t and uint16_t.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/image_view.h"
#include "image/sample_depth.h"
#include "pipeline/rebuild_step.h"
#include "platform/float_convert.h"

namespace lx {

// RebuildProportional's arithmetic, pixel by pixel.
template <class T>
void RebuildProportionalPlain(const ImageView<T>& image, const float* value) {
    using D = SampleDepth<T>;
    for (int32_t y = 0; y < image.height; ++y) {
        T* c[3];
        image.Row(y, c);
        const float* v = value + int64_t{y} * image.width;
        for (int32_t x = 0; x < image.width; ++x) {
            const int64_t o = int64_t{x} * image.pixelStride;
            const T mx = std::max({c[0][o], c[1][o], c[2][o]});
            const float ratio = (v[x] == 0.0f || mx == 0) ? 0.0f : v[x] / float(mx);
            for (int k = 0; k < 3; ++k) c[k][o] = T(TruncClamp(float(c[k][o]) * ratio, 0, D::kFull));
        }
    }
}

template <class T>
void RebuildProportionalFast(const ImageView<T>& image, const float* value);

}  // namespace lx
