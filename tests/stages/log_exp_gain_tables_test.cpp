// SPDX-License-Identifier: MIT
#include "stages/log_exp_gain_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_host.h"

namespace lx {
namespace {

using test::TestHost;

struct Pair {
    std::vector<float> primary, secondary;
    explicit Pair(int32_t levels, float fill = 0.0f) : primary(levels, fill), secondary(levels, fill) {}
    int32_t Build(int32_t black, int32_t strength, float weight, int32_t levels) {
        return BuildLogExpGainTables(primary.data(), secondary.data(), black, strength, weight, levels);
    }
};

constexpr float kScale8 = 256.0f / 255.0f;  // 0x1.010102p+0

// Levels are normalised by 255 and scaled back by 256, so even the identity
// carries 256/255.
TEST(LogExpGainTables, ZeroStrengthGivesTheScaleFactorEverywhere) {
    TestHost host;
    Pair t(256);
    ASSERT_EQ(t.Build(0, 0, 0.0f, 256), 1);
    for (int i = 1; i < 256; ++i) {
        ASSERT_NEAR(t.primary[i], kScale8, 2e-7f) << i;
        ASSERT_NEAR(t.secondary[i], kScale8, 2e-7f) << i;
    }
    EXPECT_EQ(t.primary[255], kScale8);
    EXPECT_EQ(t.primary[0], 1.0f);
    EXPECT_EQ(t.secondary[0], 1.0f);
}

// Strength counts up to 150: 500 builds the same tables. Both curves map
// black to black and white to white, so the identity range below black and
// the white level keep 256/255; in between 150 overshoots the pure lift (120).
TEST(LogExpGainTables, StrengthIsCappedAt150) {
    TestHost host;
    Pair capped(256), at150(256), at120(256);
    ASSERT_EQ(capped.Build(10, 500, 0.5f, 256), 1);
    ASSERT_EQ(at150.Build(10, 150, 0.5f, 256), 1);
    ASSERT_EQ(at120.Build(10, 120, 0.5f, 256), 1);
    EXPECT_EQ(capped.primary, at150.primary);
    EXPECT_EQ(capped.secondary, at150.secondary);
    EXPECT_EQ(at150.primary[255], kScale8);
    EXPECT_EQ(at150.secondary[255], kScale8);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(at150.primary[i], kScale8) << i;
    EXPECT_NEAR(at150.primary[100] * 100.0f, 182.40f, 0.01f);
    EXPECT_NEAR(at120.primary[100] * 100.0f, 166.00f, 0.01f);
}

// At 120 the primary table is the pure log10 lift times levels / (levels - 1);
// with weight 0 the secondary table runs from the lift at black to the
// identity at white.
TEST(LogExpGainTables, StrengthOneTwentyIsThePureLift) {
    TestHost host;
    for (const int32_t levels : {256, 65536}) {
        SCOPED_TRACE(levels);
        const int32_t black = levels / 25;
        Pair t(levels);
        ASSERT_EQ(t.Build(black, 120, 0.0f, levels), 1);
        const double last = levels - 1.0, b = black / last;
        for (int32_t i = black; i < levels; i += levels / 64) {
            const double x = i / last, u = (x - b) / (1.0 - b);
            const double lift = b + (1.0 - b) * std::log10(1.0 + 9.0 * u);
            EXPECT_NEAR(t.primary[i] * double(i), lift * levels, 2e-6 * levels) << i;
            const double blended = x * x + (1.0 - x) * lift;
            EXPECT_NEAR(t.secondary[i] * double(i), blended * levels, 2e-6 * levels) << i;
        }
    }
}

// Black levels outside 0..levels - 2 are clamped into it: finite tables and
// no write outside them.
TEST(LogExpGainTables, OutOfRangeBlackLevelsAreClamped) {
    TestHost host;
    for (const int32_t black : {-40, 255, 1000}) {
        Pair t(256), clamped(256);
        ASSERT_EQ(t.Build(black, 150, 1.0f, 256), 1);
        ASSERT_EQ(clamped.Build(black < 0 ? 0 : 254, 150, 1.0f, 256), 1);
        EXPECT_EQ(t.primary, clamped.primary) << black;
        EXPECT_EQ(t.secondary, clamped.secondary) << black;
        for (int i = 0; i < 256; ++i) ASSERT_TRUE(std::isfinite(t.primary[i]) && std::isfinite(t.secondary[i]));
    }
}

// Eleven working tables are taken before any output is written; a refusal
// at any of them returns 0 with every block released and both outputs as
// they were.
TEST(LogExpGainTables, HostFailureLeavesOutputsUntouched) {
    TestHost host;
    for (const int32_t levels : {256, 65536}) {
        Pair t(levels);
        ASSERT_EQ(t.Build(12, 100, 0.5f, levels), 1);
        EXPECT_EQ(host.allocations(), 11);
        EXPECT_EQ(host.lastRequest(), 4 * levels + 12);
        test::ForEachAllocationFailure(
            host,
            [&] {
                t = Pair(levels, -3.0f);
                return int64_t{t.Build(12, 100, 0.5f, levels)};
            },
            [&](int64_t, int64_t result) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(t.primary, std::vector<float>(levels, -3.0f));
                EXPECT_EQ(t.secondary, std::vector<float>(levels, -3.0f));
            });
        host.Reset();
    }
}

}  // namespace
}  // namespace lx
