// SPDX-License-Identifier: MIT
// The levels' inputs: per-mille tint factors, highlight compression and the
// histogram mean.
#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <vector>

#include "stages/histogram_mean.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

using Factors = std::array<int32_t, 3>;

Factors Of(float g0, float g1, float g2, float strength = 1.0f) {
    const float g[3] = {SoftenedGain(g0, strength), SoftenedGain(g1, strength), SoftenedGain(g2, strength)};
    Factors f;
    TintFactorsPerMille(g, f.data());
    return f;
}

TEST(TintFactors, PerMilleAboutTheMiddleGainSaturatingAtInt32) {
    EXPECT_EQ(Of(1.0f, 0.9f, 1.2f), (Factors{952, 857, 1142})) << "mid 1.05";
    EXPECT_EQ(Of(1.0f, 1.25f, 0.8f, 0.0f), (Factors{1000, 1000, 1000})) << "strength 0";
    // A negative strength turns the cast the other way; factors below 0 stand.
    EXPECT_EQ(Of(1.2f, 1.0f, 0.8f, -10.0f), (Factors{-1000, 1000, 3000}));
    // Saturated beyond int32 (mid 1: -1e7 and 10000002 give +-1e10).
    EXPECT_EQ(Of(-1e7f, 1.0f, 10000002.0f), (Factors{INT32_MIN, 1000, INT32_MAX}));
    // mid 0: a gain of 0 over it has no value, the others are infinite.
    EXPECT_EQ(Of(-1.0f, 0.0f, 1.0f), (Factors{INT32_MIN, 1000, INT32_MAX}));
    EXPECT_EQ(Of(NAN, 1.0f, 1.0f), (Factors{1000, 1000, 1000}));
}

std::array<int64_t, 3> Compressed(std::array<int64_t, 3> v, int64_t top) {
    CompressHighlights(v.data(), top);
    return v;
}

TEST(TintFactors, HighlightsAreDrawnTogetherBelowTheTop) {
    using V = std::array<int64_t, 3>;
    EXPECT_EQ(Compressed({300, 200, 100}, 255), (V{255, 200, 145}));
    EXPECT_EQ(Compressed({255, -40, 0}, 255), (V{255, -40, 0})) << "nothing above the top: untouched";
    EXPECT_EQ(Compressed({70000, 70000, 70000}, 65535), (V{70000, 70000, 70000})) << "no spread: each stays at its middle";
    // The largest 16-bit level times the largest factor stays exact.
    const V huge = Compressed({int64_t{65535} * INT32_MAX / 1000, 0, -int64_t{65535} * INT32_MAX / 1000}, 65535);
    EXPECT_LE(huge[0], 65535);
    EXPECT_GE(huge[0], 65535 - 1);
}

TEST(HistogramMean, LevelsAreCountedFromOne) {
    const struct { std::vector<int32_t> counts; float mean; } cases[] = {
        {{0, 0, 5}, 3.0f},          // not 2: bin 2 is level 3
        {{7}, 1.0f},                // n = 1
        {{1, 2, 3}, 14.0f / 6.0f},  // odd n: the last level is added alone
        {{0, 0, 0}, 0.0f},          // empty: 0 rather than 0/0
        // The total wraps modulo 2^32 and is read unsigned: 2^32 + 2 -> 2.
        {{INT32_MAX, INT32_MAX, 4}, (2147483648.0f + 2.0f * 2147483648.0f + 12.0f) / 2.0f},
    };
    for (const auto& c : cases)
        EXPECT_EQ(HistogramMean(c.counts.data(), int32_t(c.counts.size())), c.mean) << testing::PrintToString(c.counts);
}

}  // namespace
}  // namespace lx
