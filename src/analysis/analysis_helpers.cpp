// SPDX-License-Identifier: MIT
#include "analysis/analysis_helpers.h"

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <utility>

#include "math/float_math.h"
#include "platform/float_convert.h"

namespace lx {
namespace {

// Sum of hist[a..b] in ascending order, the range cut to 0..n-1; an empty
// range sums to 0.
float SumRange(const float* hist, int64_t a, int64_t b, int32_t n) {
    a = std::max<int64_t>(a, 0);
    b = std::min<int64_t>(b, n - 1);
    float sum = 0.0f;
    for (int64_t i = a; i <= b; ++i) sum += hist[i];
    return sum;
}

// Number of leading cells that `percent` % of the 10201 cells amounts to.
int32_t CellCount(float percent) {
    return TruncClamp(percent * float(kChromaCells) / 100.0f, 0, kChromaCells);
}

float GainAt(int32_t v) { return RatioToGain(float(v) / 50.0f); }

}  // namespace

bool IsHistogramUsable(const float* hist, float factor, float bandPercent, float sharePercent,
                      int32_t n) {
    if (n <= 0 || hist == nullptr) return true;

    // Occupied range: bins holding more than half a count.
    int32_t hi = n - 1;
    while (hist[hi] <= 0.5f && hi >= 1) --hi;
    int32_t lo = 0;
    while (hist[lo] <= 0.5f && lo < n - 1) ++lo;

    float peak = 0.0f;
    for (int32_t i = lo + 1; i <= hi - 1; ++i) peak = std::max(peak, hist[i]);
    peak *= factor;
    const bool topSpike = hist[hi] > peak;
    const bool bottomSpike = hist[lo] > peak;

    // Band width. For an empty histogram hi < lo, w is negative and every
    // range below is empty. |w| beyond n changes nothing, so it is limited
    // there before the conversion.
    const int32_t bound = std::min(n, 1 << 30) + 1;
    const int64_t w = TruncClamp(float(hi - lo + 1) * bandPercent / 100.0f, -bound, bound);
    const float sumLow = SumRange(hist, lo, lo + w, n);
    const float sumHigh = SumRange(hist, hi - w, hi, n);
    const float sumMid = SumRange(hist, lo + w + 1, hi - w - 1, n);

    const float limit = (sumHigh + sumMid + sumLow) * sharePercent / 100.0f;
    const bool lowHeavy = sumLow >= limit;
    const bool highHeavy = sumHigh >= limit;
    if (bottomSpike && lowHeavy) return false;
    if (topSpike && highHeavy) return false;
    return true;
}

void SortCells(float* keys, int32_t* payloadA, int32_t* payloadB, int32_t n) {
    for (int32_t gap = n / 2; gap > 0; gap /= 2) {
        int32_t count = n - gap;
        int32_t last;
        do {
            last = 0;
            for (int32_t i = 0; i < count; ++i) {
                if (keys[i] > keys[i + gap]) {
                    std::swap(keys[i], keys[i + gap]);
                    std::swap(payloadA[i], payloadA[i + gap]);
                    std::swap(payloadB[i], payloadB[i + gap]);
                    last = i + 1;
                }
            }
            // Entries past the last exchange are in order at this gap.
            count = last - gap;
        } while (last != 0);
    }
}

void SmoothChromaGrid(float* grid, float halfLife) {
    // A non-positive or NaN half-life has no meaningful decay; leave the grid.
    if (!(halfLife > 0.0f)) return;
    const float a = math::Exp(-0.6931472f / halfLife);
    constexpr int32_t N = kChromaSide;

    for (int32_t x = 0; x < N; ++x) {
        float* row = grid + x * N;
        for (int32_t j = 1; j < N; ++j) row[j] = a * row[j - 1] + row[j];
        for (int32_t j = N - 2; j >= 0; --j) row[j] = a * row[j + 1] + row[j];
    }
    // Columns are independent, so they are run side by side, row after row;
    // every cell sees the same operations in the same order as column by
    // column.
    for (int32_t i = 1; i < N; ++i) {
        const float* prev = grid + (i - 1) * N;
        float* cur = grid + i * N;
        for (int32_t y = 0; y < N; ++y) cur[y] = a * prev[y] + cur[y];
    }
    for (int32_t i = N - 2; i >= 0; --i) {
        const float* next = grid + (i + 1) * N;
        float* cur = grid + i * N;
        for (int32_t y = 0; y < N; ++y) cur[y] = a * next[y] + cur[y];
    }
}

float RatioToGain(float r) {
    if (r < 1.0f) return 1.0f / r;
    if (r > 1.0f) return 2.0f - r;
    return r;
}

GainTriple TintFromNearestCell(const int32_t* xs, const int32_t* ys, float boxPercent,
                               float searchPercent) {
    const int32_t boxCount = CellCount(boxPercent);
    int32_t minX = 100, maxX = 0, minY = 100, maxY = 0;
    for (int32_t i = 0; i < boxCount; ++i) {
        minX = std::min(minX, xs[i]);
        maxX = std::max(maxX, xs[i]);
        minY = std::min(minY, ys[i]);
        maxY = std::max(maxY, ys[i]);
    }
    if (minX <= kChromaNeutral && kChromaNeutral <= maxX && minY <= kChromaNeutral &&
        kChromaNeutral <= maxY)
        return {};  // the neutral point lies among the dominant cells

    const int32_t searchCount = CellCount(searchPercent);
    float best = 1e30f;
    int32_t bestIndex = -1;
    for (int32_t i = 0; i < searchCount; ++i) {
        const int64_t dx = int64_t{xs[i]} - kChromaNeutral;
        const int64_t dy = int64_t{ys[i]} - kChromaNeutral;
        const float d = float(dx * dx + dy * dy);
        if (d < best) {  // strictly: the earliest of equally near cells wins
            best = d;
            bestIndex = i;
        }
    }
    if (bestIndex < 0) return {};

    const float rx = std::clamp(float(xs[bestIndex]) / 50.0f, 0.2f, 1.8f);
    const float ry = std::clamp(float(ys[bestIndex]) / 50.0f, 0.2f, 1.8f);
    return {1.0f, RatioToGain(rx), RatioToGain(ry)};
}

GainTriple TintFromCellBox(const int32_t* xs, const int32_t* ys, float percent) {
    const int32_t n = CellCount(percent);
    if (n == 0) return {};
    int32_t minX = 30000, maxX = -30000, minY = 30000, maxY = -30000;
    for (int32_t i = 0; i < n; ++i) {
        minX = std::min(minX, xs[i]);
        maxX = std::max(maxX, xs[i]);
        minY = std::min(minY, ys[i]);
        maxY = std::max(maxY, ys[i]);
    }
    enum Side { kBelow, kStraddling, kAbove };
    auto classify = [](int32_t lo, int32_t hi) {
        if (hi < kChromaNeutral) return kBelow;
        if (lo <= kChromaNeutral) return kStraddling;  // and hi >= 50
        return kAbove;
    };
    const Side sx = classify(minX, maxX);
    const Side sy = classify(minY, maxY);

    // Opposite sides on the two axes: the box edges do not point one way, so
    // no correction. Otherwise each axis that lies off 50 moves its nearest
    // edge onto 50.
    if ((sx == kBelow && sy == kAbove) || (sx == kAbove && sy == kBelow)) return {};
    GainTriple g;
    if (sx == kBelow) g.second = GainAt(maxX);
    if (sx == kAbove) g.second = GainAt(minX);
    if (sy == kBelow) g.third = GainAt(maxY);
    if (sy == kAbove) g.third = GainAt(minY);
    return g;
}

GainTriple TintFromCentroid(const float* weights, const int32_t* xs, const int32_t* ys) {
    float w = 0.0f, x = 0.0f, y = 0.0f;
    for (int32_t i = 0; i < kChromaCells; ++i) {
        w += weights[i];
        x += weights[i] * float(xs[i]);
        y += weights[i] * float(ys[i]);
    }
    if (!(w > 0.0f)) return {};  // no mass, no mean: leave the channels alone
    return {1.0f, RatioToGain(x / w / 50.0f), RatioToGain(y / w / 50.0f)};
}

}  // namespace lx
