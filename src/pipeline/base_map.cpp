// SPDX-License-Identifier: MIT
#include "pipeline/base_map.h"

#include <algorithm>
#include <cmath>

#include "host/host_buffers.h"
#include "image/sample_depth.h"
#include "stages/exp_smooth_plane.h"
#include "stages/local_contrast_map.h"

namespace lx {

template <class T>
bool BuildBaseMap(const Plane& value, ImageParam& param) {
    using D = SampleDepth<T>;
    const LocalContrastScale scale{8.0f * D::kScale, D::kFullF, 1275 * D::kScale};
    const int32_t n = std::max(value.width, value.height);
    const float alpha = SmoothingDecay(SmoothingRadius(value.width, value.height));
    HostArray<float> norm = HostArray<float>::Allocate(n);
    if (!norm) return false;
    // 32-bit counters: N floats fit one host block (under 2^31 bytes), so no
    // bin can count more than 2^29 pixels.
    HostArray<int32_t> hist = HostArray<int32_t>::Allocate(scale.Bins());
    if (!hist) return false;
    HostArray<float> detail = HostArray<float>::Allocate(value.Size());
    if (!detail) return false;
    HostArray<float> map = HostArray<float>::Allocate(value.Size());
    if (!map) return false;

    BuildSmoothNorm(norm.data(), n, alpha);
    const float* v = value.data;
    const ContrastRange range = BuildLocalContrastMap(
        [v](int64_t i) { return v[i]; }, Plane{detail.data(), value.width, value.height},
        Plane{map.data(), value.width, value.height}, hist.data(), norm.data(), alpha, scale);
    param.baseMapHigh = range.high;
    param.baseMapLow = range.low;
    param.baseMap = map.release();
    param.baseMapValid = 1;
    return true;
}

template bool BuildBaseMap<uint8_t>(const Plane&, ImageParam&);
template bool BuildBaseMap<uint16_t>(const Plane&, ImageParam&);

}  // namespace lx
