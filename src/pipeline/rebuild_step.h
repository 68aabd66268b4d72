// SPDX-License-Identifier: MIT
// The channel rebuild of the apply pipelines: the levelled channels are
// scaled so that their largest lands on the tone-mapped value, keeping the
// ratios between them (hue and saturation).
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/image_view.h"
#include "image/sample_depth.h"
#include "platform/float_convert.h"

namespace lx {

// Per pixel, mx = the largest channel, v = the value-plane entry:
// ratio = v / mx (0 when v is 0, and a pixel whose channels are all 0 stays
// 0); each channel = clamp(trunc(channel x ratio), 0, full scale). Rows
// y0 .. y1 - 1.
template <class T>
void RebuildProportional(const ImageView<T>& image, const Plane& value, int32_t y0, int32_t y1) {
    using D = SampleDepth<T>;
    for (int32_t y = y0; y < y1; ++y) {
        T* c[3];
        image.Row(y, c);
        const float* v = value.Row(y);
        for (int32_t x = 0; x < image.width; ++x) {
            const int64_t o = int64_t{x} * image.pixelStride;
            const T mx = std::max({c[0][o], c[1][o], c[2][o]});
            const float ratio = (v[x] == 0.0f || mx == 0) ? 0.0f : v[x] / float(mx);
            for (int k = 0; k < 3; ++k) c[k][o] = T(TruncClamp(float(c[k][o]) * ratio, 0, D::kFull));
        }
    }
}

}  // namespace lx
