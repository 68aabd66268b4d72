// SPDX-License-Identifier: MIT
#include "stages/log_gain_tables.h"

#include <gtest/gtest.h>

#include <climits>
#include <cmath>
#include <vector>

namespace lx {
namespace {

struct Pair {
    std::vector<float> primary, secondary;
    explicit Pair(int32_t levels, float fill = 0.0f) : primary(levels, fill), secondary(levels, fill) {}
};

Pair Build(int32_t black, int32_t strength, float amount, int32_t levels) {
    Pair t(levels);
    EXPECT_EQ(BuildLogGainTables(t.primary.data(), t.secondary.data(), black, 1, strength, amount, levels), 1);
    return t;
}

// The one-shot pipeline's trial table (black 12, 100 %, amount 0): exact
// gains, and the output levels gain * i against the curve's known values.
// 73 is the wave's quarter point, where the two curves meet.
TEST(LogGainTables, OneShotTableOutputLevels) {
    const Pair t = Build(12, 100, 0.0f, 256);
    struct Anchor { int i; float primary, secondary, primaryLevel, secondaryLevel; };
    const Anchor anchors[] = {
        {32, 0x1.19fe58p+1f, 0x1.faf47p+0f, 70.50f, 63.37f},
        {64, 0x1.f5353ep+0f, 0x1.f7f0dp+0f, 125.30f, 125.99f},
        {73, 0x1.df580ap+0f, 0x1.df580ap+0f, 136.69f, 136.69f},
        {128, 0x1.77d9bcp+0f, 0x1.139a1ap+0f, 187.93f, 137.80f},
        {192, 0x1.2e9cdp+0f, 0x1.56ac1p-1f, 226.96f, 128.50f},
        {255, 0x1p+0f, 0x1.fcb51cp-1f, 255.0f, 253.36f},
    };
    for (const Anchor& a : anchors) {
        SCOPED_TRACE(a.i);
        EXPECT_EQ(t.primary[a.i], a.primary);
        EXPECT_EQ(t.secondary[a.i], a.secondary);
        EXPECT_NEAR(t.primary[a.i] * a.i, a.primaryLevel, 0.006);
        EXPECT_NEAR(t.secondary[a.i] * a.i, a.secondaryLevel, 0.006);
    }
    for (int i = 0; i < 12; ++i) EXPECT_EQ(t.primary[i], 1.0f) << "below black the curve is the identity";
    EXPECT_NEAR(t.primary[12], 1.0f, 1e-5f);
}

TEST(LogGainTables, ZeroStrengthAndFullAmountGiveUnitGains) {
    for (const int32_t levels : {256, 65536}) {
        const Pair t = Build(levels / 256 * 12, 0, 1.0f, levels);
        for (int32_t i = 0; i < levels; ++i) {
            ASSERT_NEAR(t.primary[i], 1.0f, 1e-6f) << levels << " levels, level " << i;
            ASSERT_NEAR(t.secondary[i], 1.0f, 1e-6f) << levels << " levels, level " << i;
        }
    }
}

// Above 100 % the curve is built at half strength (integer halving) and
// composed with itself in increasing order through truncated indices.
TEST(LogGainTables, StrengthAboveHundredComposesTheHalfCurve) {
    const struct { int32_t strength; float half; } cases[] = {{150, 0.75f}, {101, 0.50f}, {200, 1.0f}};
    for (const auto& c : cases) {
        for (const int32_t levels : {256, 65536}) {
            SCOPED_TRACE(testing::Message() << c.strength << " % at " << levels << " levels");
            const int32_t black = levels / 256 * 12;
            std::vector<float> composed(levels);
            const int32_t start = FillLogLiftLevels(composed.data(), black, c.half, levels);
            // In place: 16-bit levels above 65280 map below themselves and
            // read entries that are already composed.
            for (int32_t i = start; i < levels; ++i) composed[i] = composed[static_cast<int32_t>(composed[i])];
            const Pair t = Build(black, c.strength, 0.0f, levels);
            const Pair secondaryAtHalf = Build(black, c.strength / 2, 0.0f, levels);
            for (int32_t i = start; i < levels; ++i)
                ASSERT_EQ(t.primary[i], composed[i] / static_cast<float>(i)) << "level " << i;
            EXPECT_EQ(t.secondary, secondaryAtHalf.secondary) << "the secondary curve is not composed";
        }
    }
    // The start level's output truncates to the level below it, where the
    // identity range gives it back: 150 % maps 12 to 11.
    EXPECT_EQ(Build(12, 150, 0.0f, 256).primary[12], 11.0f / 12.0f);
    EXPECT_GT(Build(12, 150, 0.0f, 256).primary[64], Build(12, 100, 0.0f, 256).primary[64]);
}

// 16-bit tables scale to 65280 (255 x 256): levels above it stay just below
// the identity, also when composed, and never index outside the table.
TEST(LogGainTables, SixteenBitFullScaleAndLevelsAboveIt) {
    for (const int32_t strength : {100, 200}) {
        const Pair t = Build(3072, strength, 0.0f, 65536);
        EXPECT_NEAR(t.primary[65280], 1.0f, 1e-6f);
        for (int32_t i = 65281; i < 65536; ++i) {
            ASSERT_LT(t.primary[i], 1.0f) << i;
            ASSERT_GT(t.primary[i], 0.99f) << i;
        }
    }
}

// Black levels the curve is not meant for still give finite tables: above
// levels - 2q the curve of levels - 2q is used, below 0 the curve starts at 1.
TEST(LogGainTables, OutOfRangeBlackLevelsStayFinite) {
    for (const int32_t levels : {256, 65536}) {
        const int32_t top = levels - 2 * (levels / 256);
        const Pair atTop = Build(top, 200, 0.0f, levels);
        for (const int32_t black : {-5, INT_MIN, top + 1, levels, INT_MAX}) {
            SCOPED_TRACE(testing::Message() << "black " << black << " at " << levels << " levels");
            const Pair t = Build(black, 200, 0.0f, levels);
            for (int32_t i = 0; i < levels; ++i) {
                ASSERT_TRUE(std::isfinite(t.primary[i]) && std::isfinite(t.secondary[i])) << i;
                ASSERT_GE(t.primary[i], 0.0f) << i;
            }
            if (black > top) {
                EXPECT_EQ(t.primary, atTop.primary);
            }
        }
    }
}

TEST(LogGainTables, UnsupportedLevelCountIsRefused) {
    Pair t(1024, -7.0f);
    for (const int32_t levels : {0, 1, 255, 1024})
        EXPECT_EQ(BuildLogGainTables(t.primary.data(), t.secondary.data(), 12, 1, 100, 0.0f, levels), 0);
    EXPECT_EQ(t.primary, std::vector<float>(1024, -7.0f));
    EXPECT_EQ(t.secondary, std::vector<float>(1024, -7.0f));
}

}  // namespace
}  // namespace lx
