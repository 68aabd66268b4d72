// SPDX-License-Identifier: MIT
#include "stages/knee_gain_tables.h"

#include <algorithm>

#include "host/host_buffers.h"
#include "stages/gain_table_pair.h"
#include "stages/log_gain_tables.h"

namespace lx {

bool BuildKneeGainTables(float* primary, float* secondary, int32_t black, int32_t /*reserved1*/,
                         int32_t /*reserved2*/, float blend, int32_t /*reserved3*/, float slope, int32_t levels) {
    if (!IsGainTableLevels(levels)) return false;
    const HostArray<float> kneeBlock = HostArray<float>::Allocate(levels);
    if (!kneeBlock) return false;
    float* knee = kneeBlock.data();

    const int32_t q = levels / 256;
    const int32_t full = levels - q;
    black = std::min(black, levels - 2 * q);
    // Formed in 64 bits: F - black cannot wrap for any int32 black.
    const int64_t m = black + (int64_t{full} - black) / 3;

    // The primary curve is the lift at full strength: ((L c + b) - t) * 1 + t
    // equals ((L c + b) - t) + t exactly.
    const int32_t start = FillLogLiftLevels(primary, black, 1.0f, levels);

    for (int32_t i = 0; i < start; ++i) knee[i] = static_cast<float>(i);
    const int64_t kneeEnd = std::min<int64_t>(m, levels);
    for (int64_t i = start; i < kneeEnd; ++i) knee[i] = static_cast<float>(i);
    const float rise = (1.0f - slope) * blend + slope;
    const float kneeLevel = static_cast<float>(m);
    for (int64_t i = std::max<int64_t>(m, 0); i < levels; ++i)
        knee[i] = static_cast<float>(i - m) * rise + kneeLevel;

    for (int32_t i = 0; i < levels; ++i) secondary[i] = (1.0f - blend) * knee[i] + blend * primary[i];

    ConvertLevelsToGains(primary, secondary, levels);
    return true;
}

}  // namespace lx
