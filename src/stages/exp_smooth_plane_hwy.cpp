// SPDX-License-Identifier: MIT
// ExpSmoothPlane with SIMD: the same recurrences as the plain form, every
// lane running one line's sums with the same float operations in the same
// order, so the bits are the same:
//   forward   Y[i] = v[i] + a Y[i - 1] (Y[0] = v[0]),   v[i] = Y[i] norm[i]
//   backward  Z[j] = f[j] + a Z[j + 1] (Z[n-1] = f[n-1]), v[j] = Z[j] norm[n - 1 - j]
// Columns are walked a strip of adjacent columns at a time, one vector per
// row. Rows are walked 16 at a time, a square of rows by columns transposed
// in registers, so that a vector again holds one sample of several lines.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/exp_smooth_plane_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>

#include "stages/exp_smooth_plane_twins.h"

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

// Transposes N x N floats held in N vectors of N lanes (N = 1, 4, 8 or 16):
// lane c of v[r] becomes lane r of v[c]. Within each 128-bit block two
// interleaving steps transpose 4 x 4; across blocks the 4 x 4 tiles change
// places as whole blocks.
template <class D, class V>
HWY_INLINE void Transpose(D d, V* v) {
#if HWY_TARGET == HWY_SCALAR
    (void)d, (void)v;  // one lane: nothing to move
#else
    constexpr size_t N = HWY_LANES(float) < 16 ? HWY_LANES(float) : 16;
    static_assert(N == 4 || N == 8 || N == 16, "four, eight or sixteen lanes");
    {
        const hn::Repartition<double, D> dd;
        for (size_t g = 0; g < N; g += 4) {
            const V t0 = hn::InterleaveLower(d, v[g], v[g + 1]);
            const V t1 = hn::InterleaveLower(d, v[g + 2], v[g + 3]);
            const V t2 = hn::InterleaveUpper(d, v[g], v[g + 1]);
            const V t3 = hn::InterleaveUpper(d, v[g + 2], v[g + 3]);
            v[g] = hn::BitCast(d, hn::InterleaveLower(dd, hn::BitCast(dd, t0), hn::BitCast(dd, t1)));
            v[g + 1] = hn::BitCast(d, hn::InterleaveUpper(dd, hn::BitCast(dd, t0), hn::BitCast(dd, t1)));
            v[g + 2] = hn::BitCast(d, hn::InterleaveLower(dd, hn::BitCast(dd, t2), hn::BitCast(dd, t3)));
            v[g + 3] = hn::BitCast(d, hn::InterleaveUpper(dd, hn::BitCast(dd, t2), hn::BitCast(dd, t3)));
        }
        // Now block b of v[g + k] holds column 4b + k of rows g .. g + 3.
        if constexpr (N == 8) {
            for (size_t k = 0; k < 4; ++k) {
                const V a = v[k], b = v[4 + k];
                v[k] = hn::ConcatLowerLower(d, b, a);
                v[4 + k] = hn::ConcatUpperUpper(d, b, a);
            }
        } else if constexpr (N == 16) {
            for (size_t k = 0; k < 4; ++k) {
                const V a = v[k], b = v[4 + k], c = v[8 + k], e = v[12 + k];
                const V p = hn::ConcatLowerLower(d, c, a);  // blocks a0 a1 c0 c1
                const V q = hn::ConcatUpperUpper(d, c, a);  // a2 a3 c2 c3
                const V r = hn::ConcatLowerLower(d, e, b);  // b0 b1 e0 e1
                const V s = hn::ConcatUpperUpper(d, e, b);  // b2 b3 e2 e3
                v[k] = hn::OddEvenBlocks(hn::SwapAdjacentBlocks(r), p);
                v[4 + k] = hn::OddEvenBlocks(r, hn::SwapAdjacentBlocks(p));
                v[8 + k] = hn::OddEvenBlocks(hn::SwapAdjacentBlocks(s), q);
                v[12 + k] = hn::OddEvenBlocks(s, hn::SwapAdjacentBlocks(q));
            }
        }
    }
#endif
}

// kRows consecutive rows, forward then backward. Each square of N rows by N
// columns is loaded row by row, transposed so that a vector holds one column
// of N rows, run through its N steps and transposed back. Columns beyond
// the last whole square take the same steps one row at a time.
void SmoothRowGroup(float* rows, int32_t width, const float* norm, float a) {
    const hn::ScalableTag<float> d;
    using V = hn::Vec<decltype(d)>;
    constexpr int32_t N = int32_t(HWY_LANES(float) < 16 ? HWY_LANES(float) : 16);
    static_assert(kRows % N == 0, "whole squares of rows");
    constexpr int32_t S = kRows / N;  // squares side by side
    const ptrdiff_t pitch = width;
    const int32_t whole = width / N * N;
    const V va = hn::Set(d, a);
    alignas(64) float sums[kRows];
    V sum[S];

    // Forward over the whole squares, then the columns left over.
    for (int32_t x0 = 0; x0 < whole; x0 += N) {
        for (int32_t sq = 0; sq < S; ++sq) {
            float* base = rows + ptrdiff_t{sq} * N * pitch + x0;
            V v[N];
            for (int32_t r = 0; r < N; ++r) v[r] = hn::LoadU(d, base + r * pitch);
            Transpose(d, v);
            for (int32_t k = 0; k < N; ++k) {
                sum[sq] = x0 + k == 0 ? v[k] : hn::Add(v[k], hn::Mul(va, sum[sq]));
                v[k] = hn::Mul(sum[sq], hn::Set(d, norm[x0 + k]));
            }
            Transpose(d, v);
            for (int32_t r = 0; r < N; ++r) hn::StoreU(v[r], d, base + r * pitch);
        }
    }
    for (int32_t sq = 0; sq < S && whole > 0; ++sq) hn::Store(sum[sq], d, sums + sq * N);
    for (int32_t r = 0; r < kRows; ++r) {
        float* row = rows + r * pitch;
        float y = sums[r];
        for (int32_t x = whole; x < width; ++x) {
            y = x == 0 ? row[x] : row[x] + a * y;
            row[x] = y * norm[x];
        }
        sums[r] = y;
    }

    // Backward: the columns beyond the last whole square first, from the
    // right end, then the squares right to left. Sample x gets norm[width - 1 - x].
    for (int32_t r = 0; r < kRows; ++r) {
        float* row = rows + r * pitch;
        float z = 0.0f;
        for (int32_t x = width - 1; x >= whole; --x) {
            z = x == width - 1 ? row[x] : row[x] + a * z;
            row[x] = z * norm[width - 1 - x];
        }
        sums[r] = z;
    }
    for (int32_t sq = 0; sq < S; ++sq) sum[sq] = hn::Load(d, sums + sq * N);
    for (int32_t x0 = whole - N; x0 >= 0; x0 -= N) {
        for (int32_t sq = 0; sq < S; ++sq) {
            float* base = rows + ptrdiff_t{sq} * N * pitch + x0;
            V v[N];
            for (int32_t r = 0; r < N; ++r) v[r] = hn::LoadU(d, base + r * pitch);
            Transpose(d, v);
            for (int32_t k = N - 1; k >= 0; --k) {
                const int32_t x = x0 + k;
                sum[sq] = x == width - 1 ? v[k] : hn::Add(v[k], hn::Mul(va, sum[sq]));
                v[k] = hn::Mul(sum[sq], hn::Set(d, norm[width - 1 - x]));
            }
            Transpose(d, v);
            for (int32_t r = 0; r < N; ++r) hn::StoreU(v[r], d, base + r * pitch);
        }
    }
}

// row = row + a x above, the forward column step of a row.
void ForwardStep(float* row, const float* above, int64_t n, float a) {
    const hn::ScalableTag<float> d;
    const int64_t N = int64_t(hn::Lanes(d));
    const auto va = hn::Set(d, a);
    int64_t x = 0;
    for (; x + N <= n; x += N) hn::StoreU(hn::Add(hn::LoadU(d, row + x), hn::Mul(va, hn::LoadU(d, above + x))), d, row + x);
    if (x < n) ColumnForwardStepPlain(row + x, above + x, n - x, a);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(SmoothColumns);
HWY_EXPORT(SmoothRowGroup);
HWY_EXPORT(ForwardStep);

void ColumnForwardStepFast(float* row, const float* above, int64_t n, float a) {
    HWY_DYNAMIC_DISPATCH(ForwardStep)(row, above, n, a);
}

void ExpSmoothRowsFast(const Plane& p, const float* norm, float a) {
    const int32_t width = p.width, height = p.height;
    if (width <= 1 || height <= 0) return;
    int32_t y = 0;
    for (; y + 16 <= height; y += 16)
        HWY_DYNAMIC_DISPATCH(SmoothRowGroup)(p.data + ptrdiff_t{y} * width, width, norm, a);
    // The last rows, fewer than a group, take the plain walk, which gives
    // the same bits.
    if (y < height) ExpSmoothRowsPlain(Plane{p.data + ptrdiff_t{y} * width, width, height - y}, norm, a);
}

void ExpSmoothPlaneFast(const Plane& p, const float* norm, float a) {
    const int32_t width = p.width, height = p.height;
    if (width <= 0 || height <= 0) return;
    ExpSmoothRowsFast(p, norm, a);
    if (height > 1) HWY_DYNAMIC_DISPATCH(SmoothColumns)(p.data, width, height, norm, a);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
