// SPDX-License-Identifier: MIT
#include "pipeline/base_map.h"

#include <algorithm>
#include <cmath>

#include "host/host_buffers.h"
#include "image/sample_depth.h"
#include "simd/kernels.h"
#include "stages/exp_smooth_plane.h"
#include "stages/local_contrast_map.h"

namespace lx {

namespace {

// The map's blocks, in the order they are taken: the SmoothNorm table, the
// detail histogram (32-bit counters: N floats fit one host block, under
// 2^31 bytes, so no bin can count more than 2^29 pixels), a detail plane
// and the map.
struct MapBlocks {
    HostArray<float> norm;
    HostArray<int32_t> hist;
    HostArray<float> detail, map;

    bool Allocate(const Plane& value, const LocalContrastScale& scale) {
        if (!(norm = HostArray<float>::Allocate(std::max(value.width, value.height)))) return false;
        if (!(hist = HostArray<int32_t>::Allocate(scale.Bins()))) return false;
        if (!(detail = HostArray<float>::Allocate(value.Size()))) return false;
        return bool(map = HostArray<float>::Allocate(value.Size()));
    }
};

template <class T>
LocalContrastScale BaseMapScale() {
    using D = SampleDepth<T>;
    return LocalContrastScale{8.0f * D::kScale, D::kFullF, 1275 * D::kScale};
}

// Builds the map with build(blocks, alpha) and hands it to the record.
template <class T, class Build>
bool BuildInto(const Plane& value, ImageParam& param, const Build& build) {
    const LocalContrastScale scale = BaseMapScale<T>();
    const float alpha = SmoothingDecay(SmoothingRadius(value.width, value.height));
    MapBlocks b;
    if (!b.Allocate(value, scale)) return false;
    BuildSmoothNorm(b.norm.data(), std::max(value.width, value.height), alpha);
    const ContrastRange range = build(b, alpha, scale);
    param.baseMapHigh = range.high;
    param.baseMapLow = range.low;
    param.baseMap = b.map.release();
    param.baseMapValid = 1;
    return true;
}

}  // namespace

template <class T>
bool BuildBaseMap(const Plane& value, ImageParam& param) {
    return BuildInto<T>(value, param, [&](MapBlocks& b, float alpha, const LocalContrastScale& scale) {
        const float* v = value.data;
        return BuildLocalContrastMap([v](int64_t i) { return v[i]; }, Plane{b.detail.data(), value.width, value.height},
                                     Plane{b.map.data(), value.width, value.height}, b.hist.data(), b.norm.data(),
                                     alpha, scale);
    });
}

template <class T>
bool BuildBaseMapFromRows(const ValueRows& rows, const Plane& room, ImageParam& param) {
    if (simd::ReferenceKernels()) {
        for (int32_t y = 0; y < room.height; ++y) rows.Row(y, room.Row(y));
        return BuildBaseMap<T>(room, param);
    }
    return BuildInto<T>(room, param, [&](MapBlocks& b, float alpha, const LocalContrastScale& scale) {
        return BuildLocalContrastMapFromRows([&rows](int32_t y, float* out) { rows.Row(y, out); },
                                             Plane{b.detail.data(), room.width, room.height},
                                             Plane{b.map.data(), room.width, room.height}, room.data, b.hist.data(),
                                             b.norm.data(), alpha, scale);
    });
}

template bool BuildBaseMap<uint8_t>(const Plane&, ImageParam&);
template bool BuildBaseMap<uint16_t>(const Plane&, ImageParam&);
template bool BuildBaseMapFromRows<uint8_t>(const ValueRows&, const Plane&, ImageParam&);
template bool BuildBaseMapFromRows<uint16_t>(const ValueRows&, const Plane&, ImageParam&);

}  // namespace lx
