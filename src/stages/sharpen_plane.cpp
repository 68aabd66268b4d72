// SPDX-License-Identifier: MIT
#include "stages/sharpen_plane.h"

#include <algorithm>
#include <cstddef>
#include <utility>

#include "simd/kernels.h"
#include "stages/sharpen_plane_twins.h"

namespace lx {
namespace {

inline float Clamp(float x, float limit) { return x > limit ? limit : (x < 0.0f ? 0.0f : x); }

// Samples of a row copied per step of an in-place row walk, and columns
// walked side by side down the plane: 4 KB and 2 x 2 KB of stack.
constexpr int32_t kChunk = 1024;
constexpr int32_t kStrip = 512;

// One walk along a contiguous row of n >= 2 samples, in place. Every output
// reads old values only: a chunk copies the old samples it needs (its own and
// the one after it, which is still old) and carries the old sample before
// it, which the previous chunk has overwritten.
void WalkRowInPlace(float* p, int32_t n, bool forward, const SharpenKernel& k) {
    float old[kChunk + 2];  // old[j - a + 1] = p[j] before the walk, a - 1 <= j <= min(b, n - 1)
    float carry = 0.0f;     // p[a - 1] before the walk
    for (int32_t a = 0; a < n; a += kChunk) {
        const int32_t b = std::min(a + kChunk, n), hi = std::min(b, n - 1);
        old[0] = carry;
        std::copy(p + a, p + hi + 1, old + 1);
        carry = old[b - a];
        const auto at = [&](int32_t j) { return old + (j - a + 1); };
        const int32_t j0 = std::max(a, 1), j1 = std::min(b, n - 1);
        if (a == 0) SharpenLineEnds(at(1), at(0), p, 1, k);
        if (j1 > j0) {
            if (forward) SharpenLines(at(j0 - 1), at(j0), at(j0 + 1), p + j0, j1 - j0, k);
            else SharpenLines(at(j0 + 1), at(j0), at(j0 - 1), p + j0, j1 - j0, k);
        }
        if (b == n) SharpenLineEnds(at(n - 2), at(n - 1), p + n - 1, 1, k);
    }
}

// One walk down (or up) every column, kStrip columns at a time: the walk
// keeps the old values of the row it has just left and of the row it
// rewrites; the row ahead is still old.
void WalkColumnsInPlace(float* plane, int32_t width, int32_t height, bool down, const SharpenKernel& k) {
    float saved[2][kStrip];
    const ptrdiff_t pitch = width;
    for (int32_t x0 = 0; x0 < width; x0 += kStrip) {
        const int32_t s = std::min(kStrip, width - x0);
        const auto row = [&](int32_t i) { return plane + ptrdiff_t{down ? i : height - 1 - i} * pitch + x0; };
        float* behind = saved[0];
        float* cur = saved[1];
        std::copy(row(0), row(0) + s, behind);
        SharpenLineEnds(row(1), behind, row(0), s, k);
        for (int32_t i = 1; i + 1 < height; ++i) {
            std::copy(row(i), row(i) + s, cur);
            SharpenLines(behind, cur, row(i + 1), row(i), s, k);
            std::swap(behind, cur);
        }
        std::copy(row(height - 1), row(height - 1) + s, cur);
        SharpenLineEnds(behind, cur, row(height - 1), s, k);
    }
}

void SharpenPlane(const Plane& plane, float amount, float limit) {
    const int32_t width = plane.width, height = plane.height;
    if (width <= 0 || height <= 0) return;
    const SharpenKernel k = MakeSharpenKernel(amount, limit);
    if (width > 1) {
        for (int32_t y = 0; y < height; ++y) {
            WalkRowInPlace(plane.Row(y), width, true, k);
            WalkRowInPlace(plane.Row(y), width, false, k);
        }
    }
    if (height > 1) {
        WalkColumnsInPlace(plane.data, width, height, true, k);
        WalkColumnsInPlace(plane.data, width, height, false, k);
    }
}

}  // namespace

SharpenKernel MakeSharpenKernel(float s, float limit) {
    const float sum = (s * -0.25f + 0.0f) + (s * 0.5f + 1.0f) + s * -0.25f;  // 1 up to rounding
    SharpenKernel k;
    k.side = (s * -0.25f) / sum;
    k.centre = (s * 0.5f + 1.0f) / sum;
    k.edge = 1.0f / (k.side + 0.0f + k.centre);
    k.limit = limit;
    return k;
}

void SharpenLinesPlain(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                       const SharpenKernel& k) {
    for (int32_t i = 0; i < n; ++i) out[i] = Clamp((k.side * behind[i] + k.centre * cur[i]) + k.side * ahead[i], k.limit);
}

void SharpenLineEndsPlain(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k) {
    for (int32_t i = 0; i < n; ++i) out[i] = Clamp((k.side * neighbour[i] + k.centre * cur[i]) * k.edge, k.limit);
}

void SharpenLines(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                  const SharpenKernel& k) {
    if (simd::ReferenceKernels()) SharpenLinesPlain(behind, cur, ahead, out, n, k);
    else SharpenLinesFast(behind, cur, ahead, out, n, k);
}

void SharpenLineEnds(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k) {
    if (simd::ReferenceKernels()) SharpenLineEndsPlain(neighbour, cur, out, n, k);
    else SharpenLineEndsFast(neighbour, cur, out, n, k);
}

void SharpenRow(const float* in, float* scratch, float* out, int32_t n, const SharpenKernel& k) {
    // Left to right: the walk has just left sample j - 1.
    SharpenLineEnds(in + 1, in, scratch, 1, k);
    SharpenLines(in, in + 1, in + 2, scratch + 1, n - 2, k);
    SharpenLineEnds(in + n - 2, in + n - 1, scratch + n - 1, 1, k);
    // Right to left: it has just left sample j + 1.
    SharpenLineEnds(scratch + n - 2, scratch + n - 1, out + n - 1, 1, k);
    SharpenLines(scratch + 2, scratch + 1, scratch, out + 1, n - 2, k);
    SharpenLineEnds(scratch + 1, scratch, out, 1, k);
}

void SharpenPlane8(const Plane& plane, float amount) { SharpenPlane(plane, amount, SampleDepth<uint8_t>::kFullF); }

void SharpenPlane16(const Plane& plane, float amount) { SharpenPlane(plane, amount, SampleDepth<uint16_t>::kFullF); }

}  // namespace lx
