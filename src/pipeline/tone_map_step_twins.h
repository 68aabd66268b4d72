// SPDX-License-Identifier: MIT
// The twins behind ToneMapGlobalRow and ToneMapLocalRow: the plain forms,
// the reference, and the fast forms (SIMD, tone_map_step_hwy.cpp; the plain
// forms again in a build without SIMD, simd/no_simd.cpp). The same bits
// either way. Instantiated for uint8_t and uint16_t.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/sample_depth.h"
#include "pipeline/base_map_row.h"
#include "pipeline/tone_map_step.h"

namespace lx {

// v' = primary[trunc(v) & (levels - 1)] x v, clamped to 0 .. full scale, on
// the n values of one row. The values must be finite and within the int32
// range (the levels step gives 0 .. full scale).
template <class T>
void ToneMapGlobalRowPlain(float* v, int32_t n, const float* primary) {
    using D = SampleDepth<T>;
    for (int32_t x = 0; x < n; ++x)
        v[x] = std::clamp(primary[static_cast<int32_t>(v[x]) & (D::kLevels - 1)] * v[x], 0.0f, D::kFullF);
}

// v' = ((1 - t) x secondary[i] + t x primary[i]) x v, i = trunc(v) & (levels - 1),
// clamped to 0 .. full scale, for the value row[x] whose map sample is u.
template <class T>
inline void ToneMapLocalPixel(float* row, int32_t x, float u, const float* primary, const float* secondary,
                              const BaseMapBlend& b) {
    using D = SampleDepth<T>;
    float t = b.flatRange ? (u > b.low ? 1.0f : 0.0f) : (u - b.low) * b.q;
    if (t > 1.0f) t = 1.0f;
    else if (t < 0.0f) t = 0.0f;
    const float v = row[x];
    const int32_t i = static_cast<int32_t>(v) & (D::kLevels - 1);
    row[x] = std::clamp(((1.0f - t) * secondary[i] + t * primary[i]) * v, 0.0f, D::kFullF);
}

// ToneMapLocalPixel on the n values of image row y.
template <class T>
void ToneMapLocalRowPlain(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                          const BaseMapBlend& b) {
    const BaseMapRow mapRow(b.map, b.scale, b.mapWidth, b.mapHeight, b.offsetX, b.offsetY, y);
    for (int32_t x = 0; x < n; ++x) ToneMapLocalPixel<T>(row, x, mapRow.At(x), primary, secondary, b);
}

template <class T>
void ToneMapGlobalRowFast(float* v, int32_t n, const float* primary);
template <class T>
void ToneMapLocalRowFast(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                         const BaseMapBlend& b, const GainForms& forms = {});

}  // namespace lx
