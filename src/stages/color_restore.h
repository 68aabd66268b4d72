// SPDX-License-Identifier: MIT
// Colour restoration: pulls the weaker channels of red-dominated pixels
// towards the brightest one, then puts the pixel through a fixed contrast
// curve (a gain for most pixels, an equal offset for red-dominated ones).
#pragma once

#include <array>
#include <cstdint>

#include "image/image_view.h"

namespace lx {

inline constexpr int kColorRestoreLevels = 256;

// The three fixed 256-entry tables the per-call tables are made from.
//
//   level   KA        DB                   DC
//       0   0.2        0                    0
//      14   0.2       -0.0380              -0.0094 (minimum)
//      23   0.2       -0.0451 (minimum)    -0.0073
//      51   0.2       -0.0333               0
//     115   0.2       -0.0054               0.0167
//     128   0.1973     0.0002               0.0201
//     140   0.1902     0.0054               0.0233
//     204   0.14       0.0333               0.04
//     231   0.1188     0.0450               0.0469 (maximum)
//     232   0.1180     0.0451 (maximum)     0.0469
//     255   0.1        0                    0
//
// The hand-tuned entries (the KA bend at 116..139, DB 1..25, DC 1..15 and
// 231..254) are 6-decimal float literals. Entries given by a formula
// (KA 140..255 = 0.3 - 0.2 i / 255, DB 26..229 = (i - 127.5) / 2295,
// DC 16..230 = (i - 51) / 3825) hold the float nearest the formula's exact
// value, computed at compile time as one correctly rounded division of exact
// integers: (765 - 2i) / 2550, (2i - 255) / 4590 and (i - 51) / 3825. So the
// tables are the same bits on every IEEE platform and compiler. DB is odd
// about the middle: DB[255 - i] = -DB[i].
extern const std::array<float, kColorRestoreLevels> kRetentionKA;
extern const std::array<float, kColorRestoreLevels> kContrastDB;
extern const std::array<float, kColorRestoreLevels> kContrastDC;

// Per-call tables for amount s (any finite float; 0 gives A = 1 and B, C the
// identity i / 255). `out` holds 256 floats, owned by the caller; nothing
// else is kept.
//   A[i] = 1 - s * KA[i]           retention (share of the level kept)
//   B[i] = i / 255 + s * DB[i]     curve of modes 1 and 2 (output in 0..1)
//   C[i] = i / 255 + s * DC[i]     curve of mode 3
void BuildRetentionTable(float amount, float* out);
void BuildContrastCurveB(float amount, float* out);
void BuildContrastCurveC(float amount, float* out);

// The tables of one call: the retention table A and the curve T (B or C) of
// the mode, with its red weight factor f. `active` is false for the modes
// that change nothing (0 and anything but 1, 2, 3) and for a NaN or
// infinite amount.
struct ColorRestoreTables {
    bool active = false;
    // |A[m]| and |1 - A[m]| are at most 2^14 at every level, so the
    // retention's products c x A[m] and (1 - A[m]) x m stay within 2^30 for
    // every sample up to 65535 (and between the entries, where 16-bit levels
    // interpolate): their truncation needs no saturation. False only for
    // huge amounts.
    bool retentionInRange = false;
    // Every curve entry is at most 1e33 in size, so each level's gain and
    // offset are finite at both depths (x 255, x 65280). A pixel whose red
    // weights are 0 then comes out as exactly c x gain; with an infinite
    // offset the full form gives (c + inf) x 0 = NaN, which truncates to 0.
    // False only for huge amounts.
    bool gainOnlyExact = false;
    float f = 1.0f;
    float retention[kColorRestoreLevels];
    float curve[kColorRestoreLevels];
    // What 8-bit pixels take from the curve at their maximum m: the gain
    // curve[m] / (m / 255) (1 for m = 0) and the offset (curve[m] - m / 255)
    // x 255, as the per-pixel arithmetic forms them, and both as pairs for
    // the SIMD gathers (simd/gather_pairs.h).
    float gain8[kColorRestoreLevels];
    float offset8[kColorRestoreLevels];
    uint64_t curvePairs8[kColorRestoreLevels];
    // The retention, gain8 and offset8 tables as byte planes
    // (simd/byte_planes.h), for look-ups of 64 8-bit pixels at a time.
    uint8_t retentionBytes[4][kColorRestoreLevels];
    uint8_t gainBytes8[4][kColorRestoreLevels];
    uint8_t offsetBytes8[4][kColorRestoreLevels];
    // For 16-bit images, optionally: the retention and the curve's (gain,
    // offset) pairs at every level 0 .. 65535, for the SIMD form to gather
    // instead of interpolating (MakeColorRestoreLevels16); owned by the caller.
    const float* retention16 = nullptr;
    const uint64_t* curvePairs16 = nullptr;
};
ColorRestoreTables MakeColorRestoreTables(int32_t mode, float amount);

// The retention (65536 floats) and the curve's gain and offset (65536 pairs
// as simd::MakeGatherPairs makes them) at every 16-bit level, as a pixel
// whose maximum is that level takes them; then attached to `t`.
void MakeColorRestoreLevels16(ColorRestoreTables& t, float* retention, uint64_t* curvePairs);

// Reworks every pixel of an 8-bit image in place.
//
// mode: 1 = retention A + curve B, red weight factor f = 1.0
//       2 = retention A + curve B, f = 0.5
//       3 = retention A + curve C, f = 1.0
//       anything else leaves the image unchanged.
// amount: strength s of the tables; 0 leaves every pixel unchanged up to
// float truncation (each of the two steps may drop a level). A NaN or
// infinite amount leaves the image unchanged. Huge finite amounts are
// computed as written; the integer conversions saturate and then wrap to
// 8 bits. The per-call tables live on the stack: no allocation, no failure.
//
// Per pixel (c1, c2, c3), m = max:
//   w  = f * clamp((c1 / m - 0.8) / 0.2, 0, 1)   0 below red at 80 % of m,
//        (c1 / m taken as 1 when m = 0)          f when red is the brightest
//   retention: ck' = int(ck (1 - w) + ((int(ck A[m]) + lift) mod 256) w),
//              lift = int((1 - A[m]) m) mod 256
//   curve: m' = max ck', gain = T[m'] / (m' / 255) (1 when m' = 0),
//          d = (T[m'] - m' / 255) * 255, w' from c1' and m';
//          ck'' = clamp(int(ck' gain (1 - w') + (ck' + d) w'), 0, 255)
// Pixels are independent; an empty image is left alone.
void ColorRestore8(const ImageView<uint8_t>& image, int32_t mode, float amount);

// ColorRestore8 that also rescales each pixel to a target brightness: with
// v = tone / max(c1, c2, c3) taken before the retention step, every result is
// multiplied by v before its clamp. `tone` holds `width` floats per row, row
// after row (entry y * width + x), in levels (0..255), read only.
// v is 0 when the tone is 0 and when the pixel is black (max 0): a black
// pixel stays black. Negative and NaN tones give 0; huge or infinite tones
// give 255 (a channel already at 0 before the scaling stays 0).
void ColorRestoreTone8(const ImageView<uint8_t>& image, const float* tone, int32_t mode, float amount);

// ColorRestoreTone8 for 16-bit samples. Full scale is 65280 (255 * 256):
// n = m' / 65280, d in units of 65280 and results clamped to 0..65280. The
// retention lift and sums wrap to 16 bits. Tables are read at a 16-bit level
// m by linear interpolation between the 256 entries: j = m / 256,
// r = m mod 256,
//   T(m) = T[j]                                     r = 0 or j = 255
//        = T[j] + (T[j + 1] - T[j]) * r * (1/256)   otherwise
// so levels above 65280 read T[255]. `tone` is in 16-bit levels.
void ColorRestoreTone16(const ImageView<uint16_t>& image, const float* tone, int32_t mode, float amount);

// The tone form with tables made once, for callers that restore an image
// in parts (e.g. a row at a time): the same results as ColorRestoreTone8/16.
// Every form runs the SIMD twin (color_restore_twins.h) when the build has
// it and no two pixels share a sample, else the plain one; the same bytes.
void ColorRestoreTone(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables);
void ColorRestoreTone(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables);

}  // namespace lx
