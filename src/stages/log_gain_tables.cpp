// SPDX-License-Identifier: MIT
#include "stages/log_gain_tables.h"

#include <algorithm>
#include <cmath>

#include "math/float_math.h"
#include "simd/kernels.h"
#include "stages/gain_table_pair.h"

namespace lx {
namespace {

// pi one unit in the last place below the float nearest pi; the wave's
// period is defined with it.
constexpr float kPi = 3.1415925f;

}  // namespace

int32_t FillLogLiftLevels(float* out, int32_t black, float strength, int32_t levels) {
    const int32_t q = levels / 256;
    const int32_t top = levels - 2 * q;  // 254 or 65024: the highest black the curve is finite for
    const float full = static_cast<float>(levels - q);
    // Above `top`, 1 - b reaches 0 and the logarithm's argument goes negative;
    // the curve of `top` is used instead (the start level saturates there anyway).
    black = std::min(black, top);
    const float b = static_cast<float>(black) / full;
    const float g = 9.0f / (1.0f - b);
    const float c = (1.0f - b) / math::LogToFloat(10.0);
    const int32_t start = std::min(top, std::max(black, 1));
    const auto logToFloat = math::FunctionsFor(!simd::ReferenceKernels()).logToFloat;

    for (int32_t i = 0; i < start; ++i) out[i] = static_cast<float>(i);
    for (int32_t i = start; i < levels; ++i) {
        const float t = static_cast<float>(i) / full;
        // t >= b here, so x >= 1 (up to rounding) and the logarithm is finite.
        const double x = 10.0 - (1.0 - static_cast<double>(t)) * static_cast<double>(g);
        const float l = logToFloat(x);
        float v = (l * c + b - t) * strength + t;
        if (v < 0.0f) v = 0.0f;
        out[i] = v * full;
    }
    return start;
}

bool BuildLogGainTables(float* primary, float* secondary, int32_t black, int32_t /*reserved*/,
                           int32_t strengthPercent, float amount, int32_t levels) {
    if (!IsGainTableLevels(levels)) return false;

    int32_t p = strengthPercent;
    const bool twice = p > 100;
    if (twice) p /= 2;
    const float s = static_cast<float>(p) / 100.0f;

    const int32_t start = FillLogLiftLevels(primary, black, s, levels);
    for (int32_t i = 0; i < start; ++i) secondary[i] = static_cast<float>(i);

    // Wave amplitude: the lift at the quarter point, read before composition.
    const int32_t span = levels - start;
    const int32_t qi = start + span / 4;
    const float amp = (primary[qi] - static_cast<float>(qi)) * (1.0f - amount);
    const auto sine = math::FunctionsFor(!simd::ReferenceKernels()).sin;
    for (int32_t i = start; i < levels; ++i) {
        const float k = static_cast<float>(i - start);
        secondary[i] = static_cast<float>(i) + amp * sine(k * 2.0f * kPi / static_cast<float>(span));
    }

    if (twice) {
        // Compose the primary curve with itself, in place and in increasing
        // order. In range every output is below `levels`; the index is still
        // clamped to the table so that no black level can read outside it.
        const float last = static_cast<float>(levels - 1);
        for (int32_t i = start; i < levels; ++i) {
            const float v = primary[i];
            const int32_t index = v >= last ? levels - 1 : (v > 0.0f ? static_cast<int32_t>(v) : 0);
            primary[i] = primary[index];
        }
    }

    ConvertLevelsToGains(primary, secondary, levels);
    return true;
}

}  // namespace lx
