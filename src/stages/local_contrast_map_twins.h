// SPDX-License-Identifier: MIT
// The twins behind BuildLocalContrastMap and its row kernels: the plain
// form, the reference, and the fast form, which give the same map and range
// bit for bit. The row kernels' fast forms are SIMD
// (local_contrast_map_hwy.cpp; the plain form again in a build without
// SIMD, simd/no_simd.cpp). local_contrast_map.h includes this header at its
// end for the template bodies; the SIMD file and the tests that compare the
// twins include it themselves.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "simd/kernels.h"
#include "stages/local_contrast_map.h"

namespace lx {

namespace contrast_detail {

void DetailRowPlain(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n,
                    float forward, float backward, float a);
void DetailRowFast(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n,
                   float forward, float backward, float a);
void MapRowPlain(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
                 const LocalContrastScale& scale, int32_t* bins);
void MapRowFast(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
                const LocalContrastScale& scale, int32_t* bins);

}  // namespace contrast_detail

// The plain form runs the steps one after the other over whole planes; the
// fast form streams them through four sweeps, with the same float
// operations on every value, so the two agree bit for bit:
//   down  V into `detail` a band of rows at a time, smoothed along the rows,
//         then each row's forward column sum (kept raw: ColumnForwardStep)
//   up    the backward column pass row by row from the bottom: D into
//         `detail`, |D| into `map`
//   down  |D| smoothed along the rows a band at a time, forward column sums
//   up    the backward column pass: L, then E and its bin (32 KB of
//         running sums on the stack; wider planes go in strips)
// Each sweep reads and writes each plane once, about half the memory
// traffic of the plain form, and a band stays in cache while it is
// smoothed along its rows and down the columns.
template <class Count, class Value>
ContrastRange BuildLocalContrastMapPlain(const Value& value, const Plane& detail, const Plane& map, Count* hist,
                                         const float* norm, float alpha, const LocalContrastScale& scale) {
    const int64_t n = detail.Size();
    float* d = detail.data;
    float* e = map.data;
    for (int64_t i = 0; i < n; ++i) d[i] = value(i);
    ExpSmoothPlane(detail, norm, alpha);
    for (int64_t i = 0; i < n; ++i) {
        d[i] = value(i) - d[i];
        e[i] = std::fabs(d[i]);
    }
    ExpSmoothPlane(map, norm, alpha);

    const float h = static_cast<float>(scale.half);
    std::fill_n(hist, scale.Bins(), Count{0});
    for (int64_t i = 0; i < n; ++i) {
        const float v = std::max(e[i], scale.floor) * d[i] / scale.divisor;
        e[i] = v;
        ++hist[ContrastBin(v, h, scale)];
    }
    const DetailBins bins = FindDetailBins(hist, scale.Bins(), n / 100);
    return ContrastRange{bins.low - scale.half, bins.high - scale.half - 2};
}

template <class Count, class Value>
ContrastRange BuildLocalContrastMapFast(const Value& value, const Plane& detail, const Plane& map, Count* hist,
                                        const float* norm, float alpha, const LocalContrastScale& scale) {
    const int32_t W = std::max(detail.width, 0), H = std::max(detail.height, 0);
    float* d = detail.data;
    float* e = map.data;
    const bool columns = H > 1;  // a plane one row high has no column passes
    const int64_t pitch = W;

    // Down: V into the plane, the rows smoothed a band at a time, then each
    // row's raw forward column sum.
    contrast_detail::SmoothBandsDown(d, W, H, norm, alpha, [&](int32_t y0, int32_t rows, float* band) {
        for (int64_t i = 0; i < rows * pitch; ++i) band[i] = value(y0 * pitch + i);
    });
    // Up, D: the backward column pass of the smoothed V. A row's raw sum Z
    // waits in its map row until the row above has read it; that map row
    // then takes |D|.
    for (int32_t y = H - 1; y >= 0; --y) {
        float* dr = d + y * pitch;
        float* er = e + y * pitch;
        const int64_t base = y * pitch;
        if (!columns) {
            for (int32_t x = 0; x < W; ++x) dr[x] = value(base + x) - dr[x];
            continue;
        }
        const float forward = norm[y], backward = norm[H - 1 - y];
        if (y == H - 1) {
            for (int32_t x = 0; x < W; ++x) er[x] = dr[x] * forward;
        } else {
            float* below = er + pitch;
            for (int32_t x = 0; x < W; ++x) er[x] = dr[x] * forward + alpha * below[x];
            const float* belowDetail = dr + pitch;
            for (int32_t x = 0; x < W; ++x) below[x] = std::fabs(belowDetail[x]);
        }
        for (int32_t x = 0; x < W; ++x) dr[x] = value(base + x) - er[x] * backward;
        if (y > 0) contrast_detail::PrefetchRows(dr - pitch, er - pitch, W);
    }
    for (int64_t x = 0; x < (H > 0 ? W : 0); ++x) e[x] = std::fabs(d[x]);
    return contrast_detail::MapFromDetail(detail, map, hist, norm, alpha, scale);
}

template <class Count, class Value>
ContrastRange BuildLocalContrastMap(const Value& value, const Plane& detail, const Plane& map, Count* hist,
                                    const float* norm, float alpha, const LocalContrastScale& scale) {
    if (simd::ReferenceKernels()) return BuildLocalContrastMapPlain(value, detail, map, hist, norm, alpha, scale);
    return BuildLocalContrastMapFast(value, detail, map, hist, norm, alpha, scale);
}

}  // namespace lx
