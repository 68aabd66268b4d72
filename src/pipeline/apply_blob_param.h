// SPDX-License-Identifier: MIT
// The parameter-driven correction: turns an image blob into a corrected
// image, steered by the blob's analysis record and the caller's settings.
// The same pipeline serves 8-bit and 16-bit images, and the whole blob or a
// region of it.
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "api/image_blob.h"
#include "lumarex/lumarex.h"

namespace lx {

// Curve types of the gain-table builders.
inline constexpr int32_t kCurveKnee = 6;
inline constexpr int32_t kCurveLogExp = 18;
inline constexpr int32_t kCurveLog = 2;  // any value other than 6 and 18

// The pipeline's settings, in the order of its parameters 4 to 38.
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
    int32_t sharpen = 0;
    float sharpenAmount = 0.0f;
    int32_t warmTone = 0;
    int32_t reserved22 = 0;       // never read
    float warmToneStrength = 0.0f;
    int32_t colorCube = 0;        // colour table A or B ...
    int32_t cubeSelect = 0;       // ... 0: A, 1: B
    int32_t cubeAlsoC = 0;        // also table C, or C alone
    int32_t curveType = kCurveLog;
    int32_t colorMode = 0;        // 0: proportional channel rebuild; else colour restoration mode
    float colorAmount = 0.0f;
    int32_t denoise = 0;          // remove noise from a copy of the source first
    int32_t noisePreset = 0;
    int32_t noiseAdjustA = 0;
    int32_t noiseAdjustB = 0;
    int32_t noiseLevelOverride = -1;
    int32_t noiseWord0 = -1;
    int64_t noiseQword = 0;
    ProgressCallback progress = nullptr;  // called with steps 1..6 of 6; non-zero stops
    void* progressContext = nullptr;
};

// The blob region a Local call corrects: its first row and column. The
// region's size is the destination's size.
struct BlobRegion {
    int32_t top = 0;
    int32_t left = 0;
};

// Strength of the value-plane sharpening of a whole W x H image before the
// caller's amount: sqrt(W x H / 7 000 000), kept within 0.1 .. 1.0, so that
// larger photos take more (0.209 at 640 x 480, 0.926 at 3000 x 2000).
float SharpenStrengthForSize(int32_t width, int32_t height);

// Correct the whole blob into `image`. Of the destination only the three
// channel pointers and the two strides are read: it must hold the blob's
// width x height pixels. Return 1 when every stage ran and the last progress
// call did not ask to stop; 0 on a memory failure, a noise-library failure,
// a stop request, or a call that cannot be served (a blob of another sample
// type, a tint mode, percentile index or tone row out of range, a null or
// (16-bit) misaligned channel pointer, or a base map to build for a blob of
// another size than the record's). A blob without pixels (width or height
// 0) succeeds with every progress call and nothing written.
int32_t ApplyBlobParam8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s);
int32_t ApplyBlobParam16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s);

// Correct the region of the blob at `region` of the destination's size.
// Both widths sample the base map at ((x + mapOffsetX + left) / mapScale,
// (y + mapOffsetY + top) / mapScale), so the 8-bit one honours mapScale too.
// Besides the cases above, 0 for a region that leaves the blob, and (8-bit)
// a destination that is not interleaved with a pixel stride of at least 3
// bytes (exactly 3 when denoising), since the region copy takes its layout.
int32_t ApplyBlobParamLocal8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                             const ApplySettings& s, BlobRegion region);
int32_t ApplyBlobParamLocal16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                              const ApplySettings& s, BlobRegion region);

}  // namespace lx
