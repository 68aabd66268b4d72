// SPDX-License-Identifier: MIT
// The gain table pair shared by the tone-curve builders.
//
// A pair is two caller-owned float tables, PrimaryGains and SecondaryGains,
// of `levels` entries (256 for 8-bit samples, 65536 for 16-bit samples).
// Entry i (i >= 1) is a tone curve's output level at input level i divided
// by i; entry 0 is 1.0. A pipeline looks the gain up at a pixel's largest
// channel and multiplies by it, so brightness changes while the ratios
// between the channels stay. The builders first fill both tables with output
// levels in sample units and convert them to gains as their last step.
#pragma once

#include <cstdint>

namespace lx {

// The table sizes the builders accept: 256 (8-bit) and 65536 (16-bit).
inline bool IsGainTableLevels(int32_t levels) { return levels == 256 || levels == 65536; }

// Turns two tables of output levels into gains: entry 0 becomes 1.0 and
// every entry i from 1 to levels - 1 is divided by i (float division).
inline void ConvertLevelsToGains(float* primary, float* secondary, int32_t levels) {
    primary[0] = 1.0f;
    secondary[0] = 1.0f;
    for (int32_t i = 1; i < levels; ++i) {
        const float level = static_cast<float>(i);
        primary[i] /= level;
        secondary[i] /= level;
    }
}

}  // namespace lx
