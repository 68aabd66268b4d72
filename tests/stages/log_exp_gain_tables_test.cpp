// SPDX-License-Identifier: MIT
#include "stages/log_exp_gain_tables.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

#include "support/test_host.h"

namespace lx {
namespace {

struct Pair {
    std::vector<float> primary = std::vector<float>(256), secondary = std::vector<float>(256);
    explicit Pair(int32_t black, int32_t strength, float weight) {
        EXPECT_EQ(BuildLogExpGainTables(primary.data(), secondary.data(), black, strength, weight, 256), 1);
    }
};

constexpr float kScale = 256.0f / 255.0f;  // 0x1.010102p+0

// Levels are normalised by 255 and scaled back by 256: at strength 0 every
// gain is 256/255. Both curves map black and white to themselves, so the
// identity range and white keep 256/255 at any strength; 500 counts as 150.
TEST(LogExpGainTables, GainsCarry256Over255AndStrengthStopsAt150) {
    test::TestHost host;
    const Pair flat(0, 0, 0.0f);
    for (int i = 1; i < 256; ++i) ASSERT_TRUE(std::abs(flat.primary[i] - kScale) < 2e-7f && std::abs(flat.secondary[i] - kScale) < 2e-7f) << i;
    EXPECT_EQ(flat.primary[0], 1.0f);

    const Pair capped(10, 500, 0.5f), at150(10, 150, 0.5f);
    EXPECT_EQ(capped.primary, at150.primary);
    EXPECT_EQ(capped.secondary, at150.secondary);
    EXPECT_EQ(at150.primary[255], kScale);
    EXPECT_EQ(at150.secondary[255], kScale);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(at150.primary[i], kScale) << i;
    // 150 overshoots the pure log10 lift of strength 120.
    EXPECT_NEAR(at150.primary[100] * 100.0f, 182.40f, 0.01f);
    EXPECT_NEAR(Pair(10, 120, 0.5f).primary[100] * 100.0f, 166.00f, 0.01f);
}

}  // namespace
}  // namespace lx
