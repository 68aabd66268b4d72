// SPDX-License-Identifier: MIT
#include "correction.h"

#include <algorithm>
#include <cmath>

#include "lumarex_calls.h"

namespace lumarex_cli {

int32_t BlackClipPermille(float percent) { return int32_t(std::lround(double(percent) * 10.0)); }

int32_t ShadowPercentileIndex(float percent) { return BlackClipPermille(percent) - 1; }

int32_t TargetStep(int percentGrey) { return (percentGrey - 55) / 5; }

namespace {

// A floor left to the photo that reaches the library undecided is the
// default level.
int32_t FloorLevel(const Settings& s) { return s.shadowFloor == kMeasured ? kDefaultShadowFloor : s.shadowFloor; }
float BlackClip(const Settings& s) { return s.blackClip == float(kMeasured) ? kDefaultBlackClip : s.blackClip; }

}  // namespace

int32_t CorrectInOnePass(const ImageDesc& image, const Settings& s, bool measure, int32_t strength) {
    const int32_t permille = BlackClipPermille(BlackClip(s));
    lumarex_calls::OneShot(image, {.tintCorrection = s.cast,
                                   .tintMode = s.castMethod,
                                   .tintStrength = s.castStrength,
                                   .curveBlack = FloorLevel(s),
                                   .shadowClip = permille != 0,
                                   .shadowClipPermille = permille,
                                   .toneStrength = &strength,
                                   .localContrast = s.localContrast,
                                   .curveFamily = s.curve,
                                   .curveReduction = 100 - s.localDepth,
                                   .colorMode = s.colour,
                                   .colorAmount = s.colourAmount,
                                   .sharpen = s.sharpen > 0.0f,
                                   .sharpenAmount = s.sharpen,
                                   .autoTone = measure,
                                   .toneTarget = TargetStep(s.target),
                                   .strengthLimit = s.maxBrighten,
                                   .warmTone = s.warmTone > 0.0f,
                                   .warmToneStrength = s.warmTone,
                                   .cubeAlsoC = s.flatten,
                                   .colorCube = s.look != kNoLook,
                                   .cubeSelect = std::max(s.look, 0)});
    return strength;
}

bool ApplyCorrection(const ImageDesc& out, const ImageBlob* blob, ImageParam* param, const Settings& s,
                     const Region* region, ProgressCallback progress, void* context, int32_t& strength,
                     const MapPlacement& map) {
    const int32_t clip = ShadowPercentileIndex(BlackClip(s));
    const bool measure = s.brighten == kMeasured;
    strength = measure ? 0 : s.brighten;
    // The noise library's own word and its 64-bit option are left to it.
    const lumarex_calls::ApplyArgs a{.mapOffsetX = map.offsetX,
                                     .mapOffsetY = map.offsetY,
                                     .mapScale = map.scale,
                                     .useVariant = s.cast,
                                     .tintMode = s.castMethod,
                                     .variantStrength = s.castStrength,
                                     .useShadowClip = clip >= 0,
                                     .shadowClipIndex = std::max(clip, 0),
                                     .useToneLevel = measure,
                                     .toneLevelRow = TargetStep(s.target),
                                     .strengthLimit = s.maxBrighten,
                                     .toneStrength = &strength,
                                     .localContrast = s.localContrast,
                                     // The gain tables' amount, which weighs the local-contrast map
                                     // against the plain lift: 0 at no depth (the plain lift
                                     // everywhere), 0.5 at the default 50 %, 1 at 100 %.
                                     .curveAmount = float(s.localDepth) / 100.0f,
                                     .strongCurve = s.curve,
                                     .curveBlack = FloorLevel(s),
                                     .colorMode = s.colour,
                                     .colorAmount = s.colourAmount,
                                     .sharpen = s.sharpen > 0.0f,
                                     .sharpenAmount = s.sharpen,
                                     .warmTone = s.warmTone > 0.0f,
                                     .warmToneStrength = s.warmTone,
                                     .colorCube = s.look != kNoLook,
                                     .cubeSelect = std::max(s.look, 0),
                                     .cubeAlsoC = s.flatten,
                                     .denoise = s.denoise != kNoDenoise,
                                     .noisePreset = std::max(s.denoise, 0),
                                     .noiseAdjustA = s.denoiseLuma,
                                     .noiseAdjustB = s.denoiseColour,
                                     .noiseLevelOverride = s.noiseLevel,
                                     .progress = progress,
                                     .progressContext = context};
    if (region != nullptr)
        return lumarex_calls::ApplyLocal(out, blob, param, {region->x, region->y, region->w, region->h}, a) == 1;
    return lumarex_calls::Apply(out, blob, param, a) == 0;
}

}  // namespace lumarex_cli
