// SPDX-License-Identifier: MIT
// The settings of the parameter-driven correction, as the two apply exports
// hand them over.
#pragma once

#include <cstdint>

#include "lumarex/lumarex.h"
#include "stages/finishing_settings.h"

namespace lx {

// Curve types of the gain-table builders.
inline constexpr int32_t kCurveKnee = 6;
inline constexpr int32_t kCurveLogExp = 18;
inline constexpr int32_t kCurveLog = 2;  // any value other than 6 and 18

// The pipeline's settings: its parameters 4 to 38, the finishing ones
// gathered in `finish` (parameter 25 is never read and not kept).
struct ApplySettings {
    int32_t mapOffsetX = 0;       // added to a pixel's x before scaling into the base map
    int32_t mapOffsetY = 0;
    float mapScale = 1.0f;        // image coordinates / mapScale = base-map coordinates
    int32_t useVariant = 0;       // statistics of tint mode `tintMode` and its gains
    int32_t tintMode = 0;         // 0..3
    float variantStrength = 1.0f; // blend from the untinted statistics and gains, 0..1
    int32_t useShadowClip = 0;    // black point from the dark percentiles
    int32_t shadowClipIndex = 0;  // which percentile, (index + 1) x 0.1 % of all samples, 0..49
    int32_t curveBlack = 0;       // black argument of the gain-table builders (not the knee)
    int32_t useToneLevel = 0;     // strength from the record's tone levels, written back
    int32_t toneLevelRow = 0;     // 0..2: target level 140, 153 or 165
    int32_t strengthLimit = 100;  // upper bound of a computed strength
    int32_t* toneStrength = nullptr;  // in/out strength, percent
    int32_t localContrast = 0;    // tone mapping blended by the cached base map
    float curveAmount = 0.0f;     // last float argument of the builders
    int32_t curveType = kCurveLog;
    FinishingSettings finish;     // sharpening on the value plane
    int32_t denoise = 0;          // remove noise from a copy of the source first
    int32_t noisePreset = 0;
    int32_t noiseAdjustA = 0;
    int32_t noiseAdjustB = 0;
    int32_t noiseLevelOverride = -1;
    int32_t noiseWord0 = -1;
    int64_t noiseQword = 0;
    ProgressCallback progress = nullptr;  // called with steps 1..6 of 6; non-zero stops
    void* progressContext = nullptr;

    // Not a parameter of the exports: the caller throws the destination
    // away and runs the pass only for the record's base map. A pass that
    // builds the map then computes nothing after it and leaves the
    // destination unwritten; its blocks, progress calls and record are
    // those of a full pass.
    bool mapOnly = false;
};

// The blob region a Local call corrects: its first row and column. The
// region's size is the destination's size.
struct BlobRegion {
    int32_t top = 0;
    int32_t left = 0;
};

}  // namespace lx
