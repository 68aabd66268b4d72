// SPDX-License-Identifier: MIT
// The levels of a parameter-driven correction, from the analysis record and
// the caller's settings: black point, white point, level scale, tint factors
// and tone strength.
#pragma once

#include <cstdint>
#include <optional>

#include "analysis/image_param.h"
#include "pipeline/apply_settings.h"

namespace lx {

struct LevelParams {
    int32_t blackLevel = 0;  // L: subtracted from every sample first
    int32_t blackPoint = 0;  // B
    int32_t whitePoint = 0;  // Wp
    int64_t scale = 1000;    // K, per mille: fullScale / (Wp - B) x 1000, truncated
    bool tinted = false;     // tint factors apply
    int64_t factors[3] = {1000, 1000, 1000};  // channel 1, 2, 3, per mille
    int32_t strength = 0;    // S, percent
};

// Statistics variant r = tintMode + 1 with useVariant, else 0; every
// statistic is blended from variant 0 toward r by variantStrength s:
//   B  = trunc(P0 + (Pr - P0) s)       shadowPercentiles[.][index] (0 without shadow clip)
//   Wp = trunc(Q0 + (Qr - Q0) s)       whitePoint
//   S  = min(trunc(T0 + (Tr - T0) s), strengthLimit) with useToneLevel,
//        else the integer behind toneStrength (0 when there is none)
//   K  = trunc(fullScale / (Wp - B) x 1000)
// and the tint factors of tintMode softened by s, when useVariant is on and
// that mode's needTint is set. A white point on the black point (a flat
// image) leaves no range: K is then 1000. Empty when a blend has no int32
// value (a non-finite strength). Writes nothing: the caller stores S.
// `fullScale` is 255 (8-bit) or 65280 (16-bit). The settings' indices must
// be in range (the caller checks).
std::optional<LevelParams> LevelParamsOf(const ImageParam& param, const ApplySettings& s, float fullScale);

}  // namespace lx
