// SPDX-License-Identifier: MIT
#include "stages/tint_factors.h"

#include <gtest/gtest.h>

#include <array>
#include <climits>
#include <cmath>

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

}  // namespace
}  // namespace lx
