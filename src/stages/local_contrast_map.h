// SPDX-License-Identifier: MIT
// The local-contrast map of both pipelines: the signed local detail of a
// value plane, scaled by how strong detail is around it, and the range that
// holds all but 1 % of it at either end. Pixels above their surroundings get
// positive values; the pipelines blend their two tone curves by where a
// pixel's value lies in the range.
//
//   detail  D = V - smooth(V)
//   level   L = smooth(|D|)
//   map     E = max(L, floor) x D / divisor        (product first)
//
// smooth is ExpSmoothPlane with the caller's SmoothNorm table and decay. E is
// counted in 2H + 1 bins: E >= H in the last, E <= -H in the first, else in
// trunc(E) + H - 1. Scanning from either end for the first bin where the
// running count passes N / 100 gives bins k (up) and m (down), and the range
// low = k - H, high = m - H - 2.
//
//   caller          floor   divisor   H
//   one-shot        8       256       1280 (5 x 256)
//   apply, 8-bit    8       255       1275
//   apply, 16-bit   2048    65280     326400
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/image_view.h"
#include "stages/detail_range.h"
#include "stages/exp_smooth_plane.h"

namespace lx {

// The smoothing radius of a W x H map: 20 % of its larger side (integer),
// and the decay a = exp(-1 / (0.5 r)) of the smoothing (0 for r = 0: no
// smoothing at all below 5 pixels).
int32_t SmoothingRadius(int32_t width, int32_t height);
float SmoothingDecay(int32_t radius);

struct LocalContrastScale {
    float floor;      // lower bound of the local detail level
    float divisor;
    int32_t half;     // H: the histogram has 2H + 1 bins
    int32_t Bins() const { return 2 * half + 1; }
};

struct ContrastRange {
    int32_t low = 0;
    int32_t high = 0;
};

// Builds E into `map` from the value plane V read through value(i) (entry i
// of the W x H plane, row after row), using `detail` as scratch; both planes
// have V's size. `hist` holds scale.Bins() counters, overwritten: a wide
// enough type for every pixel to land in one bin (64 bits for any image,
// 32 bits for images under 2^31 pixels). `norm` is SmoothNorm for `alpha`
// with max(W, H) entries. Nothing is allocated.
template <class Count, class Value>
ContrastRange BuildLocalContrastMap(const Value& value, const Plane& detail, const Plane& map, Count* hist,
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
        int32_t bin;
        if (v >= h) bin = scale.Bins() - 1;
        else if (v <= -h) bin = 0;
        else bin = static_cast<int32_t>(v) + scale.half - 1;  // |v| < H: in range
        ++hist[bin];
    }
    const DetailBins bins = FindDetailBins(hist, scale.Bins(), n / 100);
    return ContrastRange{bins.low - scale.half, bins.high - scale.half - 2};
}

}  // namespace lx
