// SPDX-License-Identifier: MIT
// The noise floor's search on block variances made to order: flat blocks
// that carry the noise alone, and blocks of grain or texture above them,
// spread as a photo's are (log-normally).
#include "noise_floor.h"

#include <gtest/gtest.h>

#include <cmath>
#include <vector>

namespace {

// The standard normal quantile of p in (0, 1), by bisection.
double NormalQuantile(double p) {
    double lo = -10.0, hi = 10.0;
    for (int i = 0; i < 100; ++i) {
        const double mid = 0.5 * (lo + hi);
        (0.5 * std::erfc(-mid / std::sqrt(2.0)) < p ? lo : hi) = mid;
    }
    return 0.5 * (lo + hi);
}

// `flat` blocks of variance 4 (noise of deviation 2), and `textured` ones
// whose variances are the quantiles of a log-normal spread: median
// `median`, deviation of the logarithm `spread`.
float Floor(int flat, int textured, double median, double spread, bool quietFew = false) {
    std::vector<float> v(size_t(flat), 4.0f);
    for (int i = 0; i < textured; ++i)
        v.push_back(float(median * std::exp(spread * NormalQuantile((i + 0.5) / textured))));
    return noiselib::NoiseFloorVariance(v.data(), int(v.size()), quietFew);
}

TEST(NoiseFloor, FoundUnderGrainThatRisesSteadily) {
    // 1.6 % flat blocks under grain of median variance 16: from the 5th
    // percentile the search creeps up along the grain for all its steps
    // (it stopped at 11.6); the floor is the flat blocks'.
    EXPECT_NEAR(Floor(24, 1476, 16.0, 0.3), 4.0, 0.1);
    // Flat blocks that the 5th percentile already reaches.
    EXPECT_NEAR(Floor(100, 900, 16.0, 0.3), 4.0, 0.1);
    // A search that settles is taken as it settled, on the grain here,
    // unless asked to look for a few quiet blocks apart (below).
    EXPECT_NEAR(Floor(18, 1482, 16.0, 0.25), 13.5, 0.2);
    // No flat blocks at all: the grain's lower end.
    const float grain = Floor(0, 1000, 16.0, 0.3);
    EXPECT_GT(grain, 8.0f);
    EXPECT_LT(grain, 16.0f);
}

TEST(NoiseFloor, AFewFlatBlocksUnderTextureEverywhere) {
    // 1.2 % flat blocks well below the texture: the search from the 5th
    // percentile settles on the texture, the one from the 1st on them.
    EXPECT_NEAR(Floor(18, 1482, 16.0, 0.25, true), 4.0, 0.1);
    // Grain that rises steadily from its quiet end (a night sky's noise,
    // which grows with its brightness) has no such blocks: the floor is
    // where the first search settled, as without the look.
    EXPECT_EQ(Floor(0, 1500, 16.0, 0.25, true), Floor(0, 1500, 16.0, 0.25));
    EXPECT_EQ(Floor(4, 1496, 16.0, 0.3, true), Floor(4, 1496, 16.0, 0.3));
}

}  // namespace
