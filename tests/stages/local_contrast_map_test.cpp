// SPDX-License-Identifier: MIT
#include "stages/local_contrast_map.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "support/simd_targets.h"

namespace lx {
namespace {

// One build of the map: the map's bits, the histogram and the range.
template <class Count>
struct Built {
    std::vector<float> map;
    std::vector<Count> hist;
    ContrastRange range;
};

template <class Count, class Value>
Built<Count> Build(bool fast, const Value& value, int32_t w, int32_t h, const LocalContrastScale& scale) {
    const int32_t n = std::max(std::max(w, h), 1);
    const float a = SmoothingDecay(SmoothingRadius(w, h));
    std::vector<float> norm(n);
    BuildSmoothNorm(norm.data(), n, a);
    std::vector<float> detail(size_t(w) * h, -7.0f);
    Built<Count> b{std::vector<float>(size_t(w) * h, 3.0f), std::vector<Count>(scale.Bins(), Count(99)), {}};
    const Plane d{detail.data(), w, h}, m{b.map.data(), w, h};
    b.range = fast ? BuildLocalContrastMapFast(value, d, m, b.hist.data(), norm.data(), a, scale)
                   : BuildLocalContrastMapPlain(value, d, m, b.hist.data(), norm.data(), a, scale);
    return b;
}

// The streamed form against the plain one, bit for bit, on every target:
// planes of one row, one column, heights that leave part of a 16-row band,
// widths around the squares of the row kernel and beyond one 8192-column
// strip; the three callers' scales; values from a byte plane through a
// table (the one-shot's) and from a float plane (the pipelines').
TEST(LocalContrastMap, StreamedFormMatchesThePlainOne) {
    std::mt19937 rng(11);
    const LocalContrastScale scales[] = {{8.0f, 256.0f, 1280}, {8.0f, 255.0f, 1275}, {2048.0f, 65280.0f, 326400}};
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1}, {1, 40}, {40, 1}, {2, 2},    {17, 31},
                                                 {64, 16}, {97, 50}, {6, 300}, {8200, 3}};
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const auto& [w, h] : sizes) {
            // Smooth areas (long runs in one bin), edges and noise.
            std::vector<uint8_t> bytes(size_t(w) * h);
            for (int32_t y = 0; y < h; ++y)
                for (int32_t x = 0; x < w; ++x)
                    bytes[size_t(y) * w + x] = uint8_t(x < w / 3 ? 40 : (y % 7 == 0 ? 250 : rng() % 256));
            float stretched[256];
            for (int i = 0; i < 256; ++i) stretched[i] = float(i) * 1.37f - 9.0f;
            const auto fromBytes = [&](int64_t i) { return stretched[bytes[i]]; };
            for (const LocalContrastScale& scale : scales) {
                // The 16-bit scale (no split counts) on a few sizes only: its
                // histogram of 652801 bins is the slow part of a build.
                if (scale.half == 326400 && w != 17 && w != 6 && w != 8200) continue;
                const std::string what = target + ": " + std::to_string(w) + " x " + std::to_string(h) + ", half " +
                                         std::to_string(scale.half);
                if (scale.divisor == 256.0f) {  // the one-shot: 64-bit counts, values through a table
                    const Built<int64_t> p = Build<int64_t>(false, fromBytes, w, h, scale);
                    const Built<int64_t> f = Build<int64_t>(true, fromBytes, w, h, scale);
                    ASSERT_EQ(p.map, f.map) << what;
                    ASSERT_EQ(p.hist, f.hist) << what;
                    ASSERT_EQ(p.range.low, f.range.low) << what;
                    ASSERT_EQ(p.range.high, f.range.high) << what;
                    continue;
                }
                std::vector<float> plane(bytes.size());
                const float k = scale.divisor / 255.0f;
                for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(bytes[i]) * k;
                const auto fromPlane = [&](int64_t i) { return plane[i]; };
                const Built<int32_t> p = Build<int32_t>(false, fromPlane, w, h, scale);
                const Built<int32_t> f = Build<int32_t>(true, fromPlane, w, h, scale);
                ASSERT_EQ(p.map, f.map) << what;
                ASSERT_EQ(p.hist, f.hist) << what;
                ASSERT_EQ(p.range.low, f.range.low) << what;
                ASSERT_EQ(p.range.high, f.range.high) << what;
            }
        }
    });
}

// A flat plane has no detail (the smoothing keeps a constant within
// rounding): every value lands in bin H - 1, so the range is (-1, -3) (bin
// H - 1 from either end), in both forms.
TEST(LocalContrastMap, FlatPlaneHasNoDetail) {
    const LocalContrastScale scale{8.0f, 255.0f, 1275};
    for (bool fast : {false, true}) {
        const Built<int32_t> b = Build<int32_t>(fast, [](int64_t) { return 120.0f; }, 50, 20, scale);
        EXPECT_EQ(b.hist[1274], 1000) << fast;
        EXPECT_EQ(b.range.low, -1) << fast;
        EXPECT_EQ(b.range.high, -3) << fast;
        EXPECT_TRUE(std::all_of(b.map.begin(), b.map.end(), [](float v) { return std::fabs(v) < 1e-3f; })) << fast;
    }
}

}  // namespace
}  // namespace lx
