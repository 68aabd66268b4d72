// SPDX-License-Identifier: MIT
#include "stages/local_contrast_map.h"

#include "math/float_math.h"
#include "simd/kernels.h"
#include "stages/local_contrast_map_twins.h"

namespace lx {

int32_t SmoothingRadius(int32_t width, int32_t height) {
    return static_cast<int32_t>(int64_t{std::max(width, height)} * 20 / 100);
}

float SmoothingDecay(int32_t radius) { return math::Exp(-(1.0f / (static_cast<float>(radius) * 0.5f))); }

namespace contrast_detail {

void DetailRowPlain(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n,
                    float forward, float backward, float a) {
    if (below == nullptr) {
        for (int32_t x = 0; x < n; ++x) z[x] = d[x] * forward;
    } else {
        for (int32_t x = 0; x < n; ++x) z[x] = d[x] * forward + a * below[x];
    }
    for (int32_t x = 0; x < n; ++x) {
        d[x] = v[x] - z[x] * backward;
        magnitude[x] = std::fabs(d[x]);
    }
}

void MapRowPlain(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
                 const LocalContrastScale& scale, int32_t* bins) {
    if (bottom) {
        for (int32_t x = 0; x < n; ++x) z[x] = e[x] * forward;
    } else {
        for (int32_t x = 0; x < n; ++x) z[x] = e[x] * forward + a * z[x];
    }
    const float h = static_cast<float>(scale.half);
    for (int32_t x = 0; x < n; ++x) {
        e[x] = std::max(z[x] * backward, scale.floor) * d[x] / scale.divisor;
        bins[x] = ContrastBin(e[x], h, scale);
    }
}

void DetailRow(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n, float forward,
               float backward, float a) {
    if (simd::ReferenceKernels()) DetailRowPlain(d, v, magnitude, z, below, n, forward, backward, a);
    else DetailRowFast(d, v, magnitude, z, below, n, forward, backward, a);
}

void MapRow(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
            const LocalContrastScale& scale, int32_t* bins) {
    if (simd::ReferenceKernels()) MapRowPlain(e, d, z, bottom, n, forward, backward, a, scale, bins);
    else MapRowFast(e, d, z, bottom, n, forward, backward, a, scale, bins);
}

}  // namespace contrast_detail
}  // namespace lx
