// SPDX-License-Identifier: MIT
#include "stages/knee_gain_tables.h"

#include <gtest/gtest.h>

#include <vector>

#include "support/test_host.h"

namespace lx {
namespace {

int64_t Build(std::vector<float>& primary, std::vector<float>& secondary, int32_t black, int32_t levels) {
    return BuildKneeGainTables(primary.data(), secondary.data(), black, 1, 100, 0.0f, 3, 0.6f, levels);
}

// The callers' constants (black 4 / 1024, blend 0, slope 0.6): identity up to
// the knee 87 / 22442, white pulled down to about 0.74; black levels past the
// highest the curve is finite for use that one's tables.
TEST(KneeGainTables, KneeAndGainAtWhite) {
    test::TestHost host;
    const struct { int32_t levels, black, knee; float white; } cases[] = {
        {256, 4, 87, 0x1.7912acp-1f}, {65536, 1024, 22442, 0x1.795514p-1f}};
    for (const auto& c : cases) {
        std::vector<float> primary(c.levels), secondary(c.levels);
        ASSERT_EQ(Build(primary, secondary, c.black, c.levels), 1);
        EXPECT_EQ(secondary[c.levels - 1], c.white);
        EXPECT_EQ(secondary[c.knee], 1.0f);
        EXPECT_LT(secondary[c.knee + 1], 1.0f);
        // Black levels above levels - 2q (254, 65024) build that level's tables.
        std::vector<float> p2(c.levels), s2(c.levels);
        const int32_t top = c.levels - 2 * (c.levels / 256);
        ASSERT_EQ(Build(primary, secondary, top, c.levels), 1);
        for (const int32_t black : {top + 1, c.levels - 1, INT32_MAX}) {
            ASSERT_EQ(Build(p2, s2, black, c.levels), 1);
            EXPECT_TRUE(p2 == primary && s2 == secondary) << "black " << black;
        }
    }
}

}  // namespace
}  // namespace lx
