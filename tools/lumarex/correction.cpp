// SPDX-License-Identifier: MIT
#include "correction.h"

#include <algorithm>
#include <cmath>

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
    LumarexComprehensive(&image, s.cast, s.castMethod, /*unused4=*/0, s.castStrength, FloorLevel(s),
                         permille != 0, permille, &strength, s.localContrast, s.curve, s.localDepth, s.colour,
                         s.colourAmount, s.sharpen > 0.0f, s.sharpen, measure, TargetStep(s.target), s.maxBrighten,
                         s.warmTone > 0.0f, s.warmTone, s.flatten, s.look != kNoLook, std::max(s.look, 0));
    return strength;
}

bool ApplyCorrection(const ImageDesc& out, const ImageBlob* blob, ImageParam* param, const Settings& s,
                     const Region* region, ProgressCallback progress, void* context, int32_t& strength,
                     const MapPlacement& map) {
    const int32_t clip = ShadowPercentileIndex(BlackClip(s));
    const bool measure = s.brighten == kMeasured;
    strength = measure ? 0 : s.brighten;
    // The gain tables' amount: 1 with no depth, 0.5 at the default 50 %.
    const float amount = float(100 - s.localDepth) / 100.0f;
    const int32_t look = s.look != kNoLook, cube = std::max(s.look, 0);
    const int32_t denoise = s.denoise != kNoDenoise, preset = std::max(s.denoise, 0);
    // The noise library's own word and its 64-bit option: left to it.
    const int32_t noiseWord0 = -1;
    const int64_t noiseQword = 0;
    if (region != nullptr) {
        return ApplyImageBlobParamLocal(&out, blob, param, map.offsetX, map.offsetY, map.scale, region->x, region->y, region->w, region->h,
                                        s.cast, s.castMethod, s.castStrength, clip >= 0, std::max(clip, 0), measure,
                                        TargetStep(s.target), s.maxBrighten, &strength, s.localContrast, amount,
                                        s.curve, FloorLevel(s), s.colour, s.colourAmount, s.sharpen > 0.0f, s.sharpen,
                                        s.warmTone > 0.0f, 0, s.warmTone, look, cube, s.flatten, denoise, preset,
                                        s.denoiseLuma, s.denoiseColour, s.noiseLevel, noiseWord0, noiseQword,
                                        progress, context) == 1;
    }
    return ApplyImageBlobParam(&out, blob, param, map.offsetX, map.offsetY, map.scale, s.cast, s.castMethod, s.castStrength, clip >= 0,
                               std::max(clip, 0), measure, TargetStep(s.target), s.maxBrighten, &strength,
                               s.localContrast, amount, s.curve, FloorLevel(s), s.colour, s.colourAmount,
                               s.sharpen > 0.0f, s.sharpen, s.warmTone > 0.0f, 0, s.warmTone, look, cube, s.flatten,
                               denoise, preset, s.denoiseLuma, s.denoiseColour, s.noiseLevel, noiseWord0, noiseQword,
                               progress, context) == 0;
}

}  // namespace lumarex_cli
