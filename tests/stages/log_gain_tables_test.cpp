// SPDX-License-Identifier: MIT
#include "stages/log_gain_tables.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <vector>

namespace lx {
namespace {

struct Pair {
    std::vector<float> primary, secondary;
    Pair(int32_t black, int32_t strength, int32_t levels) : primary(levels), secondary(levels) {
        EXPECT_EQ(BuildLogGainTables(primary.data(), secondary.data(), black, 1, strength, 0.0f, levels), 1);
    }
};

// Above 100 % the curve is built at half strength (integer halving: 150 and
// 151 both build at 75 %) and composed with itself in place, in increasing
// order, through truncated indices; the secondary table is the half-strength
// one, not composed. Output levels worked out in double precision: at 75 %,
// level 32 lifts to 60.87 and level 60 to 104.86, so the composed 32 gives
// 104.86. 16-bit levels above 65280 map below themselves and read entries
// that are already composed: 65535 -> 65418.4 -> 65280.
TEST(LogGainTables, StrengthAboveHundredComposesTheHalfCurve) {
    const struct { int32_t levels, black, at; float level; } anchors[] = {
        {256, 12, 32, 104.864f}, {256, 12, 128, 205.177f}, {256, 12, 255, 255.0f},
        {65536, 3072, 8192, 27134.88f}, {65536, 3072, 49152, 59958.66f}, {65536, 3072, 65535, 65280.0f},
    };
    for (const auto& a : anchors) {
        const Pair t(a.black, 150, a.levels);
        EXPECT_NEAR(t.primary[a.at] * float(a.at), a.level, a.levels == 256 ? 0.01 : 0.5) << a.levels << ": " << a.at;
    }
    for (const int32_t levels : {256, 65536}) {
        const int32_t black = levels / 256 * 12;
        EXPECT_EQ(Pair(black, 151, levels).primary, Pair(black, 150, levels).primary) << "151 builds at 75 % too";
        EXPECT_EQ(Pair(black, 150, levels).secondary, Pair(black, 75, levels).secondary);
        EXPECT_NE(Pair(black, 150, levels).primary, Pair(black, 75, levels).primary);
    }
    // The start level's output truncates to 11, where the identity gives 11 back.
    EXPECT_EQ(Pair(12, 150, 256).primary[12], 11.0f / 12.0f);
}

// Black levels beyond levels - 2q use the curve of levels - 2q; negative
// ones start the curve at level 1 and stay finite.
TEST(LogGainTables, OutOfRangeBlackLevels) {
    for (const int32_t levels : {256, 65536}) {
        const int32_t top = levels - 2 * (levels / 256);
        EXPECT_EQ(Pair(INT_MAX, 200, levels).primary, Pair(top, 200, levels).primary);
        const Pair low(INT_MIN, 200, levels);
        const auto finite = [](const std::vector<float>& t) { return std::all_of(t.begin(), t.end(), [](float g) { return std::isfinite(g); }); };
        EXPECT_TRUE(finite(low.primary) && finite(low.secondary)) << levels;
    }
}

}  // namespace
}  // namespace lx
