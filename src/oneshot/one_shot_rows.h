// SPDX-License-Identifier: MIT
// The per-row work of the one-shot correction. Each pass of the correction
// walks the image row by row and hands a row to one of these kernels; the
// histograms are counted by the caller from the planar copies the kernels
// leave behind, so that a kernel is pure arithmetic on one row. Every
// kernel runs its plain or its fast twin (one_shot_rows_twins.h); the same
// bytes and floats.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// Planar rows (first, second, third channel) and the per-pixel outputs below
// (largest, cells) hold RowCapacity(n) entries for a row of n pixels: the
// fast forms work in whole vectors of up to 64 lanes and may write past n.
inline int64_t RowCapacity(int32_t n) { return (int64_t{n} + 63) / 64 * 64; }

// The lowest of `lowest` and every sample of the row's n pixels.
uint8_t RowMinimum(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest);

// Lowers every sample of the row by `black` (no sample is below it), and
// leaves the samples as now stored in `out` and each pixel's largest in
// `largest`.
void RemoveBlackRow(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3], uint8_t* largest);

// The per-mille tint factors of three channels as level tables: entry i of
// channel k is TintLevel(i, k) (64-bit, any factor).
struct TintTables {
    explicit TintTables(const int32_t factors[3]);
    int32_t factor[3];
    int64_t scaled[3][256];
    // Every factor lies in 0..4000 (levels up to 1020), where the fast
    // form's highlight compression stays exact in 32-bit lanes.
    bool small;
};

// Multiplies each pixel of the row by the tint factors, drawing a pixel whose
// largest result passes 255 together about its middle (CompressHighlights)
// and clamping to 0..255. `out` gets the samples as now stored and
// `largest` their largest. Unless null, `moved` (256 counts) tallies what
// the compression changed: for each sample of a compressed pixel -1 at
// clamp(level x factor / 1000, 0, 255), where the sample would have landed
// without it, and +1 where it did land; so the samples' histogram is that
// of the scaled levels plus `moved`.
void ApplyTintRow(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                  uint8_t* largest, int64_t* moved);

// The samples of the row in `out` and each pixel's largest in `largest`.
void ReadRow(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest);

// cells[x] = TintGridCell8 of pixel x of the planar row under `tintMode`
// (-1 when the pixel is left out of the grid).
void ChromaCellsRow(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells);

// The level stretch and the brightening of a row. A sample c becomes
// s = stretched[c] = clamp((c - low clip) x scale / 1000, 0, 255); the
// pixel's largest stretched sample m picks the gains and each s becomes
// clamp(trunc(s x gain)) with
//   gain = u primary[m] + (1 - u) secondary[m],
//   u = clamp((E - low) x ramp, 0, 1)          (flat: E > low ? 1 : 0)
// E from the row of the contrast map `map`; without a map (null) the gain
// is primary[m]. `scratch` is planar room for the row.
struct BrightenTables {
    // clip: levels up to it go to 0; scale: per mille, 0..255000; low,
    // high: the contrast map's range.
    BrightenTables(int32_t clip, int32_t scale, const float* primary, const float* secondary, int32_t low,
                   int32_t high);
    int32_t clip;
    int32_t scale;
    uint8_t stretched[256];
    float primary[256];
    float secondary[256];
    uint64_t pairs[256];  // primary and secondary for the SIMD gathers (simd/gather_pairs.h)
    float low;
    float ramp;  // 1 / (high - low)
    bool flat;   // high == low: no ramp
};
void BrightenRow(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                 uint8_t* const scratch[3]);

// The stretched values of a row of the local-contrast map's input:
// out[x] = min(v[x] x stretch, 255).
void StretchValuesRow(const uint8_t* v, int32_t n, float stretch, float* out);

}  // namespace lx
