// SPDX-License-Identifier: MIT
#include "pipeline/tone_map_step.h"

#include <algorithm>

#include "pipeline/tone_map_step_twins.h"
#include "simd/kernels.h"

namespace lx {

BaseMapBlend BlendOf(const ImageParam& param, float scale, int64_t offsetX, int64_t offsetY) {
    BaseMapBlend b;
    b.map = param.baseMap->As<float>();
    b.mapWidth = param.width, b.mapHeight = param.height;
    b.scale = scale;
    b.offsetX = int32_t(std::clamp<int64_t>(offsetX, INT32_MIN, INT32_MAX));
    b.offsetY = int32_t(std::clamp<int64_t>(offsetY, INT32_MIN, INT32_MAX));
    b.low = float(param.baseMapLow);
    b.flatRange = param.baseMapHigh == param.baseMapLow;
    b.q = 1.0f / float(int64_t{param.baseMapHigh} - param.baseMapLow);
    return b;
}

template <class T>
void ToneMapGlobalRow(float* v, int32_t n, const float* primary) {
    if (simd::ReferenceKernels()) ToneMapGlobalRowPlain<T>(v, n, primary);
    else ToneMapGlobalRowFast<T>(v, n, primary);
}

template <class T>
void ToneMapLocalRow(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                     const BaseMapBlend& b, const GainForms& forms) {
    if (simd::ReferenceKernels()) ToneMapLocalRowPlain<T>(row, n, y, primary, secondary, b);
    else ToneMapLocalRowFast<T>(row, n, y, primary, secondary, b, forms);
}

template void ToneMapGlobalRow<uint8_t>(float*, int32_t, const float*);
template void ToneMapGlobalRow<uint16_t>(float*, int32_t, const float*);
template void ToneMapLocalRow<uint8_t>(float*, int32_t, int32_t, const float*, const float*, const BaseMapBlend&,
                                       const GainForms&);
template void ToneMapLocalRow<uint16_t>(float*, int32_t, int32_t, const float*, const float*, const BaseMapBlend&,
                                        const GainForms&);

}  // namespace lx
