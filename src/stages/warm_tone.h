// SPDX-License-Identifier: MIT
// Warm tone correction: recolours bright warm pixels (red well above green,
// green well above blue) toward one fixed warm hue, green -> 0.77 R and
// blue -> 0.6 R. Red is never changed.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// A smooth 0-to-1 step over levels lo..hi, written to out[0..count-1]
// (caller-owned, `count` floats):
//   out[i] = 0                                                 i < lo
//          = cos^2((hi - i) * 1.5707964 / (hi - lo + 1))       lo <= i <= hi
//          = 1                                                 i > hi
// in float; near 0 at lo, exactly 1 at hi. For (128, 191, 256):
//   level   <128   128      129     140    160    180    191..255
//   out     0      0.0006   0.0024  0.098  0.52   0.93   1
// With hi < lo the step is abrupt (0 below lo, 1 from lo). count <= 0 writes
// nothing; entries outside 0..count-1 are never touched.
void CosRamp(int32_t lo, int32_t hi, float* out, int32_t count);

// A 101-entry percentage table (caller-owned) that is 1 outside a band and
// dips smoothly to 0 inside it. With A, B, C = trunc(a * 100), trunc(b * 100),
// trunc(c * 100) (float products):
//   out[i] = 1                                              i < A
//          = 1 - cos^2((i - B) * 1.5707964 / (B - A))       A <= i <= B  (1 at A, 0 at B)
//          = 1 - cos^2((i - B) * 1.5707964 / (C - B))       B < i <= C   (back to 1 at C)
//          = 1                                              i > C
// Meant for a < b < c in [0, 1]; for (0.35, 0.6, 0.85) the notch spans 35..85
// with its zero at 60. Out of order bounds are taken rule by rule in the
// order above (an empty falling edge when B = A gives out[B] = 0); NaN bounds
// count as 0. No entry is ever NaN.
void CosNotch(float a, float b, float c, float* out /*101*/);

// The per-call weight tables: by red level (8-bit: 256 entries on the
// stack; 16-bit: 65536 from host memory, made by the caller), by how far blue
// climbs above green, and by green/red ratio.
struct WarmToneTables {
    const float* ramp = nullptr;  // CosRamp by red level
    float hueFade[101];           // cos^2(i * 1.5707964 / 100): 1 at 0, 0 at 100
    float notch[101];             // CosNotch(0.35, 0.6, 0.85)
    // For 8-bit images, the three tables as byte planes (simd/byte_planes.h),
    // the percentage tables padded to 256 entries with zeros, for look-ups
    // of 64 pixels at a time; made by AddWarmToneBytes8.
    bool hasBytes8 = false;
    uint8_t rampBytes8[4][256];
    uint8_t hueFadeBytes[4][256];
    uint8_t notchBytes[4][256];
};
// Fills hueFade and notch; `ramp` is the caller's.
void MakeWarmToneTables(const float* ramp, WarmToneTables* tables);
// Adds the byte planes to tables made for the 256-entry 8-bit ramp.
void AddWarmToneBytes8(WarmToneTables* tables);

// Warm tone correction of an 8-bit image in place. Red is read, green and
// blue are rewritten. Nothing happens for an empty image, or when strength
// is NaN or infinite. strength: 0 to 1 multiplies every weight (0 leaves the
// image unchanged).
//
// A pixel (R, G, B) is changed only when R > 128, 0.35 < G/R < 0.85 (both
// strict) and (G - B) / (R - G) > -0.2. Its weight is
//   k = (1 - (notch[G/R %] * 0.35000002 + 0.65))      up to 0.35 at G/R = 0.6
//       * hueFade[(B - G) / (R - G) / 0.2 %]          1 while B <= G
//       * ramp[R] * strength                          fades in over R 129..191
// and green = trunc(trunc(0.77 R) k + G (1 - k)),
//     blue  = trunc(trunc(0.6 R) k + B (1 - k)), clamped to 0..255.
// E.g. (200, 120, 80) at strength 1 becomes (200, 131, 94).
void WarmToneCorrect8(const ImageView<uint8_t>& image, float strength);

// WarmToneCorrect8 for 16-bit samples: the brightness threshold is
// R > 32768, the ramp is CosRamp(32768, 49151, 65536) and results are
// clamped to 0..65535. The 65536-float ramp (262144 bytes) comes from host
// memory and is released before returning; when the host refuses it the
// image is left unchanged and the result is false.
bool WarmToneCorrect16(const ImageView<uint16_t>& image, float strength);

// The brightness ramps of the two forms: CosRamp(128, 191, ramp, 256) and
// CosRamp(32768, 49151, ramp, 65536) (49151: the last 16-bit level of 8-bit
// level 191). `ramp` holds 256 or 65536 floats, owned by the caller.
void MakeWarmToneRamp8(float* ramp);
void MakeWarmToneRamp16(float* ramp);

// The correction with tables made once, for callers that correct an image
// in parts: the same results as the whole-image forms. Every form runs the
// SIMD twin (warm_tone_twins.h) when the build has it and no two pixels
// share a sample, else the plain one; the same bytes.
void WarmToneCorrect(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables);
void WarmToneCorrect(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables);

}  // namespace lx
