// SPDX-License-Identifier: MIT
#include "stages/local_contrast_map_twins.h"

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

enum class Form { kPlain, kFast, kFromRows, kFromRepeatedRows };

template <class Count, class Value>
Built<Count> Build(Form form, const Value& value, int32_t w, int32_t h, const LocalContrastScale& scale) {
    const float a = SmoothingDecay(SmoothingRadius(w, h));
    std::vector<float> norm(std::max({w, h, 1})), detail(size_t(w) * h, -7.0f);
    BuildSmoothNorm(norm.data(), int32_t(norm.size()), a);
    Built<Count> b{std::vector<float>(size_t(w) * h, 3.0f), std::vector<Count>(scale.Bins(), Count(99)), {}};
    const Plane d{detail.data(), w, h}, m{b.map.data(), w, h};
    if (form == Form::kPlain) {
        b.range = BuildLocalContrastMapPlain(value, d, m, b.hist.data(), norm.data(), a, scale);
    } else if (form == Form::kFast) {
        b.range = BuildLocalContrastMapFast(value, d, m, b.hist.data(), norm.data(), a, scale);
    } else {
        // Each row asked for once top to bottom (repeated: then again bottom
        // to top), into two (three) rows of scratch, fenced so that a write
        // past them shows.
        const bool repeated = form == Form::kFromRepeatedRows;
        std::vector<float> z((repeated ? 3 : 2) * size_t(w) + 1, -5.0f);
        std::vector<int32_t> asked, order;
        const auto rows = [&](int32_t y, float* out) {
            asked.push_back(y);
            for (int32_t x = 0; x < w; ++x) out[x] = value(int64_t{y} * w + x);
        };
        b.range = repeated
                      ? BuildLocalContrastMapFromRepeatedRows(rows, d, m, z.data(), b.hist.data(), norm.data(), a, scale)
                      : BuildLocalContrastMapFromRows(rows, d, m, z.data(), b.hist.data(), norm.data(), a, scale);
        for (int32_t y = 0; y < h; ++y) order.push_back(y);
        for (int32_t y = h - 1; repeated && y >= 0; --y) order.push_back(y);
        EXPECT_EQ(asked, order);
        EXPECT_EQ(z.back(), -5.0f);
    }
    return b;
}

// The streamed forms (values by index, values a row at a time) against the
// plain one, bit for bit, on every target:
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
                // The one-shot: 64-bit counts, values through a table; the
                // pipelines: 32-bit counts, values from a float plane.
                std::vector<float> plane(bytes.size());
                for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(bytes[i]) * (scale.divisor / 255.0f);
                const auto fromPlane = [&](int64_t i) { return plane[i]; };
                const auto compare = [&](auto count, const auto& value, Form streamed) {
                    using Count = decltype(count);
                    const Built<Count> p = Build<Count>(Form::kPlain, value, w, h, scale);
                    for (const Form form : {Form::kFast, streamed}) {
                        const Built<Count> f = Build<Count>(form, value, w, h, scale);
                        ASSERT_TRUE(p.map == f.map && p.hist == f.hist && p.range.low == f.range.low &&
                                    p.range.high == f.range.high) << what << ", form " << int(form);
                    }
                };
                if (scale.divisor == 256.0f) compare(int64_t{}, fromBytes, Form::kFromRepeatedRows);
                else compare(int32_t{}, fromPlane, Form::kFromRows);
            }
        }
    });
}

// Worked bins of the one-shot's scale (H = 1280) and the 16-bit one: values
// at or beyond either end go to the end bins, the bin below the last stays
// empty, small ones of either sign go to bin H - 1.
TEST(LocalContrastMap, BinsOfWorkedValues) {
    for (const LocalContrastScale scale : {LocalContrastScale{8.0f, 256.0f, 1280}, LocalContrastScale{2048.0f, 65280.0f, 326400}}) {
        const float h = float(scale.half);
        const int32_t last = scale.Bins() - 1;
        const struct { float value; int32_t bin; } cases[] = {
            {h, last}, {std::nextafter(h, 0.0f), last - 2}, {-0.015625f, scale.half - 1}, {0.5f, scale.half - 1},
            {-h + 0.5f, 0}, {-h, 0}, {1e30f, last}, {-1e30f, 0}};
        for (const auto& c : cases) EXPECT_EQ(ContrastBin(c.value, h, scale), c.bin) << "half " << h << ", value " << c.value;
    }
}

}  // namespace
}  // namespace lx
