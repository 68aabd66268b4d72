// SPDX-License-Identifier: MIT
#include "oneshot/one_shot_rows.h"

#include <algorithm>
#include <cmath>

#include "analysis/estimate_tint_gains.h"
#include "oneshot/one_shot_rows_twins.h"
#include "platform/float_convert.h"
#include "simd/gather_pairs.h"
#include "simd/kernels.h"
#include "simd/own_samples.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

// Walks the pixels of row y: f(x, c) with c the pixel's three sample pointers.
template <class F>
void ForEachPixel(const ImageView<uint8_t>& image, int32_t y, F&& f) {
    uint8_t* c[3];
    image.Row(y, c);
    for (int32_t x = 0; x < image.width; ++x) {
        f(x, c);
        for (uint8_t*& q : c) q += image.pixelStride;
    }
}

// The pixel's samples as stored now, into the planar rows.
inline void ReadBack(uint8_t* const c[3], int32_t x, uint8_t* const out[3], uint8_t* largest) {
    out[0][x] = *c[0], out[1][x] = *c[1], out[2][x] = *c[2];
    largest[x] = std::max({*c[0], *c[1], *c[2]});
}

// The fast forms need samples that are the image's own: they read a whole
// row before they write it.
bool Fast(const ImageView<uint8_t>& image) { return !simd::ReferenceKernels() && simd::SamplesAreOwn(image); }

}  // namespace

TintTables::TintTables(const int32_t factors[3]) {
    small = true;
    for (int k = 0; k < 3; ++k) {
        factor[k] = factors[k];
        small = small && factors[k] >= 0 && factors[k] <= 4000;
        for (int i = 0; i < 256; ++i) scaled[k][i] = TintLevel(i, factors[k]);
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

uint8_t RowMinimumPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest) {
    ForEachPixel(image, y, [&](int32_t, uint8_t* const c[3]) { lowest = std::min({lowest, *c[0], *c[1], *c[2]}); });
    return lowest;
}

void RemoveBlackRowPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                         uint8_t* largest) {
    ForEachPixel(image, y, [&](int32_t x, uint8_t* const c[3]) {
        for (int k = 0; k < 3; ++k) *c[k] = uint8_t(*c[k] - black);
        ReadBack(c, x, out, largest);
    });
}

void ApplyTintRowPlain(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                       uint8_t* largest, int64_t* moved) {
    ForEachPixel(image, y, [&](int32_t x, uint8_t* const c[3]) {
        int64_t a[3] = {t.scaled[0][*c[0]], t.scaled[1][*c[1]], t.scaled[2][*c[2]]};
        const int64_t plain[3] = {a[0], a[1], a[2]};
        FinishTint<uint8_t>(a);
        for (int k = 0; k < 3; ++k) *c[k] = uint8_t(a[k]);
        ReadBack(c, x, out, largest);
        if (moved != nullptr && std::max({plain[0], plain[1], plain[2]}) > 255) {
            for (int k = 0; k < 3; ++k) {
                --moved[std::clamp<int64_t>(plain[k], 0, 255)];
                ++moved[out[k][x]];
            }
        }
    });
}

void ReadRowPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest) {
    ForEachPixel(image, y, [&](int32_t x, uint8_t* const c[3]) { ReadBack(c, x, out, largest); });
}

void ChromaCellsRowPlain(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells) {
    for (int32_t x = 0; x < n; ++x)
        cells[x] = int16_t(TintGridCell8(px[0][x], px[1][x], px[2][x], tintMode));
}

void BrightenRowPlain(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t) {
    ForEachPixel(image, y, [&](int32_t x, uint8_t* const c[3]) {
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
    if (simd::ReferenceKernels()) StretchValuesRowPlain(v, n, stretch, out);
    else StretchValuesRowFast(v, n, stretch, out);
}

uint8_t RowMinimum(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest) {
    return Fast(image) ? RowMinimumFast(image, y, lowest) : RowMinimumPlain(image, y, lowest);
}

void RemoveBlackRow(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                    uint8_t* largest) {
    if (Fast(image)) RemoveBlackRowFast(image, y, black, out, largest);
    else RemoveBlackRowPlain(image, y, black, out, largest);
}

void ApplyTintRow(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                  uint8_t* largest, int64_t* moved) {
    if (Fast(image) && t.small) ApplyTintRowFast(image, y, t, out, largest, moved);
    else ApplyTintRowPlain(image, y, t, out, largest, moved);
}

void ReadRow(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest) {
    if (Fast(image)) ReadRowFast(image, y, out, largest);
    else ReadRowPlain(image, y, out, largest);
}

void ChromaCellsRow(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells) {
    if (simd::ReferenceKernels()) ChromaCellsRowPlain(px, n, tintMode, cells);
    else ChromaCellsRowFast(px, n, tintMode, cells);
}

void BrightenRow(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                 uint8_t* const scratch[3]) {
    if (Fast(image) && t.clip >= -1 && t.clip <= 255 && t.scale >= 0 && t.scale <= 255000)
        BrightenRowFast(image, y, map, t, scratch);
    else BrightenRowPlain(image, y, map, t);
}

}  // namespace lx
