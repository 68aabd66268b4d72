// SPDX-License-Identifier: MIT
// Row-at-a-time reading of the cached base map for the tone-mapping step.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "platform/float_convert.h"

namespace lx {

// Reads image row y of a float map (mapWidth x mapHeight, row after row)
// exactly as SampleBaseMap reads it pixel by pixel, bit for bit, with the
// row's share of the work done once: the row coordinate, its two map rows
// and its interpolation distance. Two divisions of the pixel-by-pixel read
// drop out: after the clamps the two neighbours of a coordinate are either
// the same sample (no interpolation) or one apart, and x / 1.0f is x in
// IEEE arithmetic. What remains per pixel is one division by the scale
// (none at scale 1, where it is exact), the clamps and four loads.
// `map` must be non-null and mapWidth, mapHeight > 0 (the caller checks).
class BaseMapRow {
public:
    BaseMapRow(const float* map, float scale, int32_t mapWidth, int32_t mapHeight, int32_t offsetX,
               int32_t offsetY, int32_t y)
        : scale_(scale), unitScale_(scale == 1.0f), offsetX_(offsetX), lastX_(mapWidth - 1) {
        const float fy = static_cast<float>(int64_t{offsetY} + y) / scale;
        finite_ = std::isfinite(fy);
        if (!finite_) return;  // the whole row reads as 0
        const int64_t y0 = TruncSaturate(fy);
        const int64_t r0 = std::clamp<int64_t>(y0, 0, mapHeight - 1);
        const int64_t r1 = std::clamp<int64_t>(y0 + 1, 0, mapHeight - 1);
        row0_ = map + r0 * mapWidth;
        row1_ = map + r1 * mapWidth;
        sameRow_ = r0 == r1;
        dy_ = fy - static_cast<float>(r0);
    }

    float At(int32_t x) const {
        if (!finite_) return 0.0f;
        const float n = static_cast<float>(int64_t{offsetX_} + x);
        const float fx = unitScale_ ? n : n / scale_;  // n / 1.0f is n
        if (!std::isfinite(fx)) return 0.0f;
        const int64_t t = TruncSaturate(fx);
        const int64_t x0 = std::clamp<int64_t>(t, 0, lastX_);
        const int64_t x1 = std::clamp<int64_t>(t + 1, 0, lastX_);
        const float tl = row0_[x0], tr = row0_[x1];
        const float bl = row1_[x0], br = row1_[x1];
        float top = tl, bottom = bl;
        if (x0 != x1) {
            const float u = fx - static_cast<float>(x0);  // over x1 - x0 = 1
            top = tl + (tr - tl) * u;
            bottom = bl + (br - bl) * u;
        }
        if (sameRow_) return top;
        return top + (bottom - top) * dy_;  // over r1 - r0 = 1
    }

    // At scale 1 the pixels x of [Begin(), End()) read map columns
    // c = offsetX + x from 0 up to the last but one, whole numbers in float
    // (below 2^24): their column distance u = fx - c is exactly +0, so
    //   top = row0[c] + (row0[c + 1] - row0[c]) x 0,  bottom likewise,
    //   At(x) = top, or top + (bottom - top) x RowDistance() between rows,
    // the same operations as At's. Empty at any other scale, and for a row
    // that reads as 0.
    int32_t Begin(int32_t width) const { return DirectSpan(width).first; }
    int32_t End(int32_t width) const { return DirectSpan(width).second; }
    const float* Row0() const { return row0_; }
    const float* Row1() const { return row1_; }
    bool SameRow() const { return sameRow_; }
    float RowDistance() const { return dy_; }
    int64_t Column(int32_t x) const { return int64_t{offsetX_} + x; }

private:
    std::pair<int32_t, int32_t> DirectSpan(int32_t width) const {
        if (!unitScale_ || !finite_) return {0, 0};
        const int64_t limit = std::min<int64_t>(lastX_, int64_t{1} << 24);  // columns 0 .. limit - 1
        const int64_t begin = std::clamp<int64_t>(-int64_t{offsetX_}, 0, width);
        const int64_t end = std::clamp<int64_t>(limit - offsetX_, begin, width);
        return {int32_t(begin), int32_t(end)};
    }

    float scale_;
    bool unitScale_;
    int32_t offsetX_;
    int64_t lastX_;
    bool finite_ = false;
    bool sameRow_ = true;
    const float* row0_ = nullptr;
    const float* row1_ = nullptr;
    float dy_ = 0.0f;
};

}  // namespace lx
