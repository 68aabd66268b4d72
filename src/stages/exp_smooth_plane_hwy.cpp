// SPDX-License-Identifier: MIT
// ExpSmoothPlane with SIMD: the same recurrences as the plain form, every
// lane running one line's sums with the same float operations in the same
// order, so the bits are the same:
//   forward   Y[i] = v[i] + a Y[i - 1] (Y[0] = v[0]),   v[i] = Y[i] norm[i]
//   backward  Z[j] = f[j] + a Z[j + 1] (Z[n-1] = f[n-1]), v[j] = Z[j] norm[n - 1 - j]
// Columns are walked a strip of adjacent columns at a time, one vector per
// row. Rows are walked 16 at a time through a small transposed tile on the
// stack, so that a vector again holds one sample of several lines.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/exp_smooth_plane_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>

#include "stages/exp_smooth_plane.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// One step of a pass over `lanes` lines (a multiple of the vector length):
// sums = in + a sums (or in itself on the first step), out = sums x scale.
HWY_INLINE void Step(const float* in, float* out, float* HWY_RESTRICT sums,
                     int32_t lanes, float a, float scale, bool first) {
    const hn::ScalableTag<float> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const auto va = hn::Set(d, a), vs = hn::Set(d, scale);
    for (int32_t l = 0; l < lanes; l += N) {
        const auto v = hn::LoadU(d, in + l);
        const auto sum = first ? v : hn::Add(v, hn::Mul(va, hn::LoadU(d, sums + l)));
        hn::StoreU(sum, d, sums + l);
        hn::StoreU(hn::Mul(sum, vs), d, out + l);
    }
}

constexpr int32_t kStrip = 256;  // columns walked together

// Every column: forward then backward down strips of adjacent columns.
// Columns left over beyond the last whole vector are walked one by one.
void SmoothColumns(float* plane, int32_t width, int32_t height, const float* norm, float a) {
    const hn::ScalableTag<float> d;
    const int32_t N = int32_t(hn::Lanes(d));
    alignas(64) float sums[kStrip] = {};
    const int32_t vectorWidth = width / N * N;
    for (int32_t x = 0; x < vectorWidth; x += kStrip) {
        const int32_t lanes = std::min(kStrip, vectorWidth - x);
        float* col = plane + x;
        for (int32_t i = 0; i < height; ++i) {
            float* row = col + ptrdiff_t{i} * width;
            Step(row, row, sums, lanes, a, norm[i], i == 0);
        }
        for (int32_t j = height - 1; j >= 0; --j) {
            float* row = col + ptrdiff_t{j} * width;
            Step(row, row, sums, lanes, a, norm[height - 1 - j], j == height - 1);
        }
    }
    for (int32_t x = vectorWidth; x < width; ++x) {
        float sum = 0.0f;
        for (int32_t i = 0; i < height; ++i) {
            float& v = plane[ptrdiff_t{i} * width + x];
            sum = i == 0 ? v : v + a * sum;
            v = sum * norm[i];
        }
        for (int32_t j = height - 1; j >= 0; --j) {
            float& v = plane[ptrdiff_t{j} * width + x];
            sum = j == height - 1 ? v : v + a * sum;
            v = sum * norm[height - 1 - j];
        }
    }
}

constexpr int32_t kRows = 16;  // rows walked together: a multiple of any vector length
constexpr int32_t kTile = 64;  // columns of a transposed tile

// Copies columns x0 .. x0 + cols - 1 of kRows rows into the tile, transposed.
inline void TileIn(const float* rows, int32_t width, int32_t x0, int32_t cols, float* tile) {
    for (int32_t r = 0; r < kRows; ++r)
        for (int32_t c = 0; c < cols; ++c) tile[c * kRows + r] = rows[ptrdiff_t{r} * width + x0 + c];
}
inline void TileOut(const float* tile, int32_t width, int32_t x0, int32_t cols, float* rows) {
    for (int32_t r = 0; r < kRows; ++r)
        for (int32_t c = 0; c < cols; ++c) rows[ptrdiff_t{r} * width + x0 + c] = tile[c * kRows + r];
}

// kRows consecutive rows, forward then backward, a tile at a time: the
// forward pass left to right, the backward pass right to left over the
// forward results.
void SmoothRowGroup(float* rows, int32_t width, const float* norm, float a) {
    alignas(64) float tile[kTile * kRows];
    alignas(64) float sums[kRows] = {};
    for (int32_t x0 = 0; x0 < width; x0 += kTile) {
        const int32_t cols = std::min(kTile, width - x0);
        TileIn(rows, width, x0, cols, tile);
        for (int32_t c = 0; c < cols; ++c)
            Step(tile + c * kRows, tile + c * kRows, sums, kRows, a, norm[x0 + c], x0 + c == 0);
        TileOut(tile, width, x0, cols, rows);
    }
    for (int32_t x0 = (width - 1) / kTile * kTile; x0 >= 0; x0 -= kTile) {
        const int32_t cols = std::min(kTile, width - x0);
        TileIn(rows, width, x0, cols, tile);
        for (int32_t c = cols - 1; c >= 0; --c) {
            const int32_t j = x0 + c;
            Step(tile + c * kRows, tile + c * kRows, sums, kRows, a, norm[width - 1 - j], j == width - 1);
        }
        TileOut(tile, width, x0, cols, rows);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(SmoothColumns);
HWY_EXPORT(SmoothRowGroup);

void ExpSmoothPlaneFast(const Plane& p, const float* norm, float a) {
    const int32_t width = p.width, height = p.height;
    if (width <= 0 || height <= 0) return;
    if (width > 1) {
        int32_t y = 0;
        for (; y + 16 <= height; y += 16)
            HWY_DYNAMIC_DISPATCH(SmoothRowGroup)(p.data + ptrdiff_t{y} * width, width, norm, a);
        // The last rows, fewer than a group, take the plain walk, which gives
        // the same bits (rows only: a plane one row high has no columns).
        if (y < height) {
            for (; y < height; ++y) ExpSmoothPlanePlain(Plane{p.data + ptrdiff_t{y} * width, width, 1}, norm, a);
        }
    }
    if (height > 1) HWY_DYNAMIC_DISPATCH(SmoothColumns)(p.data, width, height, norm, a);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
