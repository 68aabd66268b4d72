// SPDX-License-Identifier: MIT
#include "pipeline/level_params.h"

#include <algorithm>

#include "platform/float_convert.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

// trunc(a + (b - a) x s): a statistic of variant 0 blended toward variant r.
std::optional<int32_t> Blend(int32_t a, int32_t b, float s) {
    const float v = float(a) + float(int64_t{b} - a) * s;
    if (!FitsInt32(v)) return std::nullopt;
    return static_cast<int32_t>(v);
}

}  // namespace

std::optional<LevelParams> LevelParamsOf(const ImageParam& param, const ApplySettings& s, float fullScale) {
    LevelParams p;
    p.blackLevel = param.blackLevel;
    const int32_t r = s.useVariant != 0 ? s.tintMode + 1 : 0;
    const float sv = s.variantStrength;
    if (s.useShadowClip != 0) {
        const auto b = Blend(param.shadowPercentiles[0][s.shadowClipIndex], param.shadowPercentiles[r][s.shadowClipIndex], sv);
        if (!b) return std::nullopt;
        p.blackPoint = *b;
    }
    const auto wp = Blend(param.whitePoint[0], param.whitePoint[r], sv);
    if (!wp) return std::nullopt;
    p.whitePoint = *wp;
    p.strength = s.toneStrength != nullptr ? *s.toneStrength : 0;
    if (s.useToneLevel != 0) {
        const auto t = Blend(param.toneLevels[s.toneLevelRow][0], param.toneLevels[s.toneLevelRow][r], sv);
        if (!t) return std::nullopt;
        p.strength = std::min(*t, s.strengthLimit);
    }
    // A white point below the black point gives a negative scale
    // (|K| <= 255000, 16-bit 65280000).
    const int64_t range = int64_t{p.whitePoint} - p.blackPoint;
    p.scale = range != 0 ? int64_t(fullScale / float(range) * 1000.0f) : 1000;

    p.tinted = s.useVariant != 0 && param.needTint[s.tintMode] != 0;
    if (p.tinted) {
        float g[3];
        int32_t k[3];
        for (int i = 0; i < 3; ++i) g[i] = SoftenedGain(param.tintGains[s.tintMode][i], sv);
        TintFactorsPerMille(g, k);
        for (int i = 0; i < 3; ++i) p.factors[i] = k[i];
    }
    return p;
}

}  // namespace lx
