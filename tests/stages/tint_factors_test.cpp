// SPDX-License-Identifier: MIT
#include "stages/tint_factors.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>

namespace lx {
namespace {

struct Factors {
    int32_t k[3];
    bool operator==(const Factors& o) const { return k[0] == o.k[0] && k[1] == o.k[1] && k[2] == o.k[2]; }
};
void PrintTo(const Factors& f, std::ostream* os) { *os << f.k[0] << ' ' << f.k[1] << ' ' << f.k[2]; }

Factors Of(float g0, float g1, float g2, float strength = 1.0f) {
    const float g[3] = {SoftenedGain(g0, strength), SoftenedGain(g1, strength), SoftenedGain(g2, strength)};
    Factors f;
    TintFactorsPerMille(g, f.k);
    return f;
}

TEST(TintFactors, PerMilleAboutTheMiddleGain) {
    EXPECT_EQ(Of(1.0f, 0.9f, 1.2f), (Factors{{952, 857, 1142}})) << "mid 1.05";
    EXPECT_EQ(Of(1.0f, 1.0f, 1.0f), (Factors{{1000, 1000, 1000}}));
    EXPECT_EQ(Of(1.0f, 1.25f, 0.8f, 0.0f), (Factors{{1000, 1000, 1000}})) << "strength 0";
    // A negative strength turns the cast the other way; factors below 0 stand.
    EXPECT_EQ(Of(1.2f, 1.0f, 0.8f, -10.0f), (Factors{{-1000, 1000, 3000}}));
}

TEST(TintFactors, SaturateBeyondInt32AndKeepAChannelWithoutAValue) {
    // mid 1: -1e7 and 10000002 give factors of +-1e10.
    EXPECT_EQ(Of(-1e7f, 1.0f, 10000002.0f), (Factors{{INT32_MIN, 1000, INT32_MAX}}));
    // mid 0: a gain of 0 over it has no value, the others are infinite.
    EXPECT_EQ(Of(-1.0f, 0.0f, 1.0f), (Factors{{INT32_MIN, 1000, INT32_MAX}}));
    EXPECT_EQ(Of(NAN, 1.0f, 1.0f), (Factors{{1000, 1000, 1000}}));
}

TEST(TintFactors, HighlightsAreDrawnTogetherBelowTheTop) {
    int64_t v[3] = {300, 200, 100};
    CompressHighlights(v, 255);
    EXPECT_EQ(v[0], 255);
    EXPECT_EQ(v[1], 200);
    EXPECT_EQ(v[2], 145);
    int64_t below[3] = {255, -40, 0};
    CompressHighlights(below, 255);
    EXPECT_EQ(below[1], -40) << "nothing above the top: untouched";
    int64_t even[3] = {70000, 70000, 70000};
    CompressHighlights(even, 65535);
    EXPECT_EQ(even[0], 70000) << "no spread: each stays at its middle";
    // The largest 16-bit level times the largest factor stays exact.
    int64_t huge[3] = {int64_t{65535} * INT32_MAX / 1000, 0, -int64_t{65535} * INT32_MAX / 1000};
    CompressHighlights(huge, 65535);
    EXPECT_LE(huge[0], 65535);
    EXPECT_GE(huge[0], 65535 - 1);
}

}  // namespace
}  // namespace lx
