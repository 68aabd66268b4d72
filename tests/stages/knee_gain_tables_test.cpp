// SPDX-License-Identifier: MIT
#include "stages/knee_gain_tables.h"

#include <gtest/gtest.h>

#include <vector>

#include "stages/log_gain_tables.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::TestHost;

struct Pair {
    std::vector<float> primary, secondary;
    explicit Pair(int32_t levels, float fill = 0.0f) : primary(levels, fill), secondary(levels, fill) {}
    int32_t Build(int32_t black, float blend, int32_t levels) {
        return BuildKneeGainTables(primary.data(), secondary.data(), black, 1, 100, blend, 3, 0.6f, levels);
    }
};

// The callers' constants: black 4 / 1024, blend 0, slope 0.6. The knee sits
// at 87 (8-bit) and 22442 (16-bit); white is pulled down to about 0.74.
TEST(KneeGainTables, KneeAndGainAtWhite) {
    TestHost host;
    const struct { int32_t levels, black, knee, white; float gain, approx; } cases[] = {
        {256, 4, 87, 255, 0x1.7912acp-1f, 187.8f / 255.0f},
        {65536, 1024, 22442, 65535, 0x1.795514p-1f, (22442.0f + 0.6f * 43093.0f) / 65535.0f},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.levels);
        Pair t(c.levels);
        ASSERT_EQ(t.Build(c.black, 0.0f, c.levels), 1);
        EXPECT_EQ(host.lastRequest(), 4 * c.levels + 12) << "one table of levels floats";
        EXPECT_EQ(host.live(), 0);
        EXPECT_EQ(t.secondary[c.white], c.gain);
        EXPECT_NEAR(t.secondary[c.white], c.approx, 1e-6f);
        for (int32_t i = 0; i <= c.knee; ++i) ASSERT_EQ(t.secondary[i], 1.0f) << "identity up to the knee, " << i;
        EXPECT_LT(t.secondary[c.knee + 1], 1.0f);

        // The primary table is the full-strength log lift.
        std::vector<float> lift(c.levels), unused(c.levels);
        BuildLogGainTables(lift.data(), unused.data(), c.black, 1, 100, 0.0f, c.levels);
        EXPECT_EQ(t.primary, lift);
    }
}

TEST(KneeGainTables, FullBlendMakesTheSecondaryTheLift) {
    TestHost host;
    Pair t(256);
    ASSERT_EQ(t.Build(4, 1.0f, 256), 1);
    EXPECT_EQ(t.secondary, t.primary);
}

TEST(KneeGainTables, HostFailureLeavesOutputsUntouched) {
    TestHost host;
    for (const int32_t levels : {256, 65536}) {
        Pair t(levels);
        test::ForEachAllocationFailure(
            host,
            [&] {
                t = Pair(levels, -3.0f);
                return int64_t{t.Build(4, 0.0f, levels)};
            },
            [&](int64_t, int64_t result) {
                EXPECT_EQ(result, 0);
                EXPECT_EQ(t.primary, std::vector<float>(levels, -3.0f));
                EXPECT_EQ(t.secondary, std::vector<float>(levels, -3.0f));
            });
    }
}

}  // namespace
}  // namespace lx
