// SPDX-License-Identifier: MIT
#include "stages/histogram_mean.h"

#include <gtest/gtest.h>

#include <climits>
#include <vector>

namespace lx {
namespace {

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
