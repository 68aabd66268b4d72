// SPDX-License-Identifier: MIT
// The analysis record of a blob: what CalcImageBlobParam measures once and
// every apply call reads. Levels are sample values after the black level was
// removed (0..255 for 8-bit blobs, 0..65535 for 16-bit blobs).
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_buffers.h"
#include "lumarex/lumarex.h"

// Statistics variant v: 0 for the blob as analysed, 1..4 for the blob after
// the tint gains of tint mode v - 1. Tint modes are 0..3.
inline constexpr int kTintModes = 4;
inline constexpr int kStatVariants = 5;
inline constexpr int kShadowPercentiles = 50;
inline constexpr int kToneRows = 3;

// Field order is fixed: word m of the record is needTint[m], which is what
// NeedTintCorrection returns to the host.
struct ImageParam {
    int32_t needTint[kTintModes];               // 1 when tintGains[m] is not (1, 1, 1)
    float tintGains[kTintModes][3];             // gains of channel 1, 2, 3; channel 1 is 1.0
    int32_t blackLevel;                         // smallest sample of the blob
    int32_t shadowPercentiles[kStatVariants][kShadowPercentiles];  // 0.1 % .. 5.0 % of all samples
    int32_t whitePoint[kStatVariants];          // brightest 0.1 % of pixel maxima lie at or above
    int32_t toneLevels[kToneRows][kStatVariants];  // tone strengths (percent) for targets 140/153/165
    int32_t baseMapValid;                       // 1 once the base map is cached
    int32_t baseMapLow;                         // value range of the base map
    int32_t baseMapHigh;
    lx::HostBlock* baseMap;                     // width x height floats, owned by the record
    int32_t width;                              // of the analysed blob and of the base map
    int32_t height;
};

static_assert(offsetof(ImageParam, needTint) == 0, "needTint[m] must be word m of the record");
static_assert(offsetof(ImageParam, tintGains) == 16);
static_assert(offsetof(ImageParam, blackLevel) == 64);
static_assert(offsetof(ImageParam, shadowPercentiles) == 68);
static_assert(offsetof(ImageParam, whitePoint) == 68 + 4 * 250);
static_assert(offsetof(ImageParam, toneLevels) == 1088);
static_assert(offsetof(ImageParam, baseMapValid) == 1148);
static_assert(offsetof(ImageParam, baseMap) == 1160);
static_assert(offsetof(ImageParam, height) == 1172);
