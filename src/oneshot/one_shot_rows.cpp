// SPDX-License-Identifier: MIT
#include "oneshot/one_shot_rows.h"

#include <algorithm>
#include <cmath>

#include "analysis/estimate_tint_gains.h"
#include "platform/float_convert.h"
#include "simd/gather_pairs.h"
#include "simd/kernels.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

// Walks the row's pixels: f(x, c) with c the pixel's three sample pointers.
template <class F>
void ForEachPixel(const RowPixels& row, int32_t n, F&& f) {
    uint8_t* c[3] = {row.c[0], row.c[1], row.c[2]};
    for (int32_t x = 0; x < n; ++x) {
        f(x, c);
        for (uint8_t*& q : c) q += row.step;
    }
}

// The pixel's samples as stored now, into the planar rows.
inline void ReadBack(uint8_t* const c[3], int32_t x, const PlanarRow& out, uint8_t* largest) {
    out.c[0][x] = *c[0], out.c[1][x] = *c[1], out.c[2][x] = *c[2];
    largest[x] = std::max({*c[0], *c[1], *c[2]});
}

// The fast forms need pixels that share no samples: they read a whole row
// before they write it.
bool Fast(const RowPixels& row) { return row.disjoint && simd::FastKernels(); }

}  // namespace

TintTables::TintTables(const int32_t factors[3]) {
    small = true;
    for (int k = 0; k < 3; ++k) {
        factor[k] = factors[k];
        small = small && factors[k] >= 0 && factors[k] <= 4000;
        for (int i = 0; i < 256; ++i) {
            scaled[k][i] = int64_t{i} * factors[k] / 1000;
            scaled32[k][i] = small ? int32_t(scaled[k][i]) : 0;
        }
    }
}

BrightenTables::BrightenTables(int32_t c0, int32_t s, const float* p, const float* q, int32_t lo, int32_t hi)
    : clip(c0), scale(s) {
    for (int i = 0; i < 256; ++i) stretched[i] = uint8_t(std::clamp((i - clip) * scale / 1000, 0, 255));
    std::copy(p, p + 256, primary);
    std::copy(q, q + 256, secondary);
    simd::MakeGatherPairs(primary, secondary, 256, pairs);
    low = float(lo);
    ramp = 1.0f / float(hi - lo);
    flat = hi == lo;
}

uint8_t RowMinimumPlain(const RowPixels& row, int32_t n, uint8_t lowest) {
    ForEachPixel(row, n, [&](int32_t, uint8_t* const c[3]) { lowest = std::min({lowest, *c[0], *c[1], *c[2]}); });
    return lowest;
}

void RemoveBlackRowPlain(const RowPixels& row, int32_t n, uint8_t black, const PlanarRow& out, uint8_t* largest) {
    ForEachPixel(row, n, [&](int32_t x, uint8_t* const c[3]) {
        for (int k = 0; k < 3; ++k) *c[k] = uint8_t(*c[k] - black);
        ReadBack(c, x, out, largest);
    });
}

void ApplyTintRowPlain(const RowPixels& row, int32_t n, const TintTables& t, const PlanarRow& out,
                       uint8_t* largest, int64_t* moved) {
    ForEachPixel(row, n, [&](int32_t x, uint8_t* const c[3]) {
        int64_t a[3] = {t.scaled[0][*c[0]], t.scaled[1][*c[1]], t.scaled[2][*c[2]]};
        const int64_t plain[3] = {a[0], a[1], a[2]};
        CompressHighlights(a, 255);
        for (int k = 0; k < 3; ++k) *c[k] = uint8_t(std::clamp<int64_t>(a[k], 0, 255));
        ReadBack(c, x, out, largest);
        if (moved != nullptr && std::max({plain[0], plain[1], plain[2]}) > 255) {
            for (int k = 0; k < 3; ++k) {
                --moved[std::clamp<int64_t>(plain[k], 0, 255)];
                ++moved[out.c[k][x]];
            }
        }
    });
}

void ReadRowPlain(const RowPixels& row, int32_t n, const PlanarRow& out, uint8_t* largest) {
    ForEachPixel(row, n, [&](int32_t x, uint8_t* const c[3]) { ReadBack(c, x, out, largest); });
}

void ChromaCellsRowPlain(const PlanarRow& px, int32_t n, int32_t tintMode, int16_t* cells) {
    for (int32_t x = 0; x < n; ++x)
        cells[x] = int16_t(TintGridCell8(px.c[0][x], px.c[1][x], px.c[2][x], tintMode));
}

void BrightenRowPlain(const RowPixels& row, int32_t n, const float* map, const BrightenTables& t) {
    ForEachPixel(row, n, [&](int32_t x, uint8_t* const c[3]) {
        const uint8_t s[3] = {t.stretched[*c[0]], t.stretched[*c[1]], t.stretched[*c[2]]};
        const uint8_t m = std::max({s[0], s[1], s[2]});
        float gain = t.primary[m];
        if (map != nullptr) {
            // An empty range has no ramp: pixels above its level take the
            // primary curve, the rest the secondary.
            const float e = map[x];
            const float u = std::clamp(t.flat ? (e > t.low ? 1.0f : 0.0f) : (e - t.low) * t.ramp, 0.0f, 1.0f);
            gain = u * t.primary[m] + (1.0f - u) * t.secondary[m];
        }
        for (int k = 0; k < 3; ++k) *c[k] = uint8_t(TruncClamp(float(s[k]) * gain, 0, 255));
    });
}

void StretchValuesRowPlain(const uint8_t* v, int32_t n, float stretch, float* out) {
    for (int32_t x = 0; x < n; ++x) out[x] = std::min(float(v[x]) * stretch, 255.0f);
}

void StretchValuesRow(const uint8_t* v, int32_t n, float stretch, float* out) {
    if (simd::FastKernels()) StretchValuesRowFast(v, n, stretch, out);
    else StretchValuesRowPlain(v, n, stretch, out);
}

uint8_t RowMinimum(const RowPixels& row, int32_t n, uint8_t lowest) {
    return Fast(row) ? RowMinimumFast(row, n, lowest) : RowMinimumPlain(row, n, lowest);
}

void RemoveBlackRow(const RowPixels& row, int32_t n, uint8_t black, const PlanarRow& out, uint8_t* largest) {
    if (Fast(row)) RemoveBlackRowFast(row, n, black, out, largest);
    else RemoveBlackRowPlain(row, n, black, out, largest);
}

void ApplyTintRow(const RowPixels& row, int32_t n, const TintTables& t, const PlanarRow& out,
                  uint8_t* largest, int64_t* moved) {
    if (Fast(row) && t.small) ApplyTintRowFast(row, n, t, out, largest, moved);
    else ApplyTintRowPlain(row, n, t, out, largest, moved);
}

void ReadRow(const RowPixels& row, int32_t n, const PlanarRow& out, uint8_t* largest) {
    if (Fast(row)) ReadRowFast(row, n, out, largest);
    else ReadRowPlain(row, n, out, largest);
}

void ChromaCellsRow(const PlanarRow& px, int32_t n, int32_t tintMode, int16_t* cells) {
    if (simd::FastKernels()) ChromaCellsRowFast(px, n, tintMode, cells);
    else ChromaCellsRowPlain(px, n, tintMode, cells);
}

void BrightenRow(const RowPixels& row, int32_t n, const float* map, const BrightenTables& t,
                 const PlanarRow& scratch) {
    if (Fast(row) && t.clip >= -1 && t.clip <= 255 && t.scale >= 0 && t.scale <= 255000)
        BrightenRowFast(row, n, map, t, scratch);
    else BrightenRowPlain(row, n, map, t);
}

#if !defined(LUMAREX_SIMD)
uint8_t RowMinimumFast(const RowPixels& row, int32_t n, uint8_t lowest) { return RowMinimumPlain(row, n, lowest); }
void StretchValuesRowFast(const uint8_t* v, int32_t n, float stretch, float* out) {
    StretchValuesRowPlain(v, n, stretch, out);
}
void RemoveBlackRowFast(const RowPixels& row, int32_t n, uint8_t black, const PlanarRow& out, uint8_t* largest) {
    RemoveBlackRowPlain(row, n, black, out, largest);
}
void ApplyTintRowFast(const RowPixels& row, int32_t n, const TintTables& t, const PlanarRow& out,
                      uint8_t* largest, int64_t* moved) {
    ApplyTintRowPlain(row, n, t, out, largest, moved);
}
void ReadRowFast(const RowPixels& row, int32_t n, const PlanarRow& out, uint8_t* largest) {
    ReadRowPlain(row, n, out, largest);
}
void ChromaCellsRowFast(const PlanarRow& px, int32_t n, int32_t tintMode, int16_t* cells) {
    ChromaCellsRowPlain(px, n, tintMode, cells);
}
void BrightenRowFast(const RowPixels& row, int32_t n, const float* map, const BrightenTables& t,
                     const PlanarRow&) {
    BrightenRowPlain(row, n, map, t);
}
#endif

}  // namespace lx
