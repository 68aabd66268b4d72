// SPDX-License-Identifier: MIT
#include "analysis/analysis_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>

#include <string>
#include <vector>

namespace lx {
namespace {

void Set(std::vector<float>& h, int from, int to, float v) { std::fill(h.begin() + from, h.begin() + to + 1, v); }

TEST(IsHistogramUsable, SpikesCountOnlyWhenTheirEndBandIsHeavy) {
    const struct { const char* name; std::function<void(std::vector<float>&)> fill; int usable; } cases[] = {
        {"all zero: nothing occupied, no spike", [](auto&) {}, 1},
        {"one bin: both ends spike, the total counts it twice", [](auto& h) { h[100] = 500; }, 1},
        // Band w = trunc(156 * 0.3) = 46: bins 209..255 hold 5000 of 6000.
        {"heavy top spike", [](auto& h) { Set(h, 100, 199, 10); h[255] = 5000; }, 0},
        {"heavy bottom spike", [](auto& h) { h[0] = 5000; Set(h, 56, 155, 10); }, 0},
        {"bottom spike, heavy top without spike", [](auto& h) { h[0] = 100; Set(h, 1, 199, 1); Set(h, 200, 255, 30); }, 1},
        // Heavy top band; the top bin against 1.3 x the tallest inner bin.
        {"top bin = 1.3 x inner peak", [](auto& h) { h[100] = 1; Set(h, 210, 254, 100); h[255] = 130; }, 1},
        {"top bin > 1.3 x inner peak", [](auto& h) { h[100] = 1; Set(h, 210, 254, 100); h[255] = 131; }, 0},
        // A count of 0.5 is not occupied: bin 254 is the (spiked, heavy) top.
        {"half counts are empty", [](auto& h) { Set(h, 100, 199, 10); h[254] = 5000; h[255] = 0.5f; }, 0},
    };
    for (const auto& c : cases) {
        std::vector<float> h(256, 0.0f);
        c.fill(h);
        EXPECT_EQ(IsHistogramUsable(h.data(), 1.3f, 30.0f, 70.0f, 256), c.usable) << c.name;
    }
}

// A ranked cell list: the given cells, the last repeated up to entry 9
// (0.1 % of 10201 cells is 10), then (100, 100) entries that must not count.
struct Cells {
    std::vector<int32_t> xs = std::vector<int32_t>(kChromaCells, 100), ys = xs;
    Cells(std::initializer_list<std::pair<int, int>> cells) {
        int i = 0;
        for (auto [x, y] : cells) xs[i] = x, ys[i++] = y;
        for (; i < 10; ++i) xs[i] = xs[i - 1], ys[i] = ys[i - 1];
    }
};

void ExpectGains(const GainTriple& g, float second, float third, const std::string& what) {
    EXPECT_EQ(g.first, 1.0f) << what;
    EXPECT_NEAR(g.second, second, 1e-5f) << what;
    EXPECT_NEAR(g.third, third, 1e-5f) << what;
}

TEST(TintFromNearestCell, NeutralInsideTheBoxOrTheNearestCellLimited) {
    Cells box({{45, 48}, {55, 52}});
    ExpectGains(TintFromNearestCell(box.xs.data(), box.ys.data(), 0.1f, 0.1f), 1, 1, "box holds (50, 50)");
    Cells below({{42, 50}, {40, 50}});
    below.xs[10] = 49, below.ys[10] = 50;  // nearer, one past the 10 searched at 0.1 %
    ExpectGains(TintFromNearestCell(below.xs.data(), below.ys.data(), 0.1f, 0.1f), 50.0f / 42, 1, "x below");
    ExpectGains(TintFromNearestCell(below.xs.data(), below.ys.data(), 0.1f, 0.2f), 50.0f / 49, 1, "wider search");
    Cells tie({{45, 55}, {45, 45}});  // equally near: the earlier wins; 1.1 -> 0.9
    ExpectGains(TintFromNearestCell(tie.xs.data(), tie.ys.data(), 0.1f, 0.1f), 1 / 0.9f, 0.9f, "tie");
    // x = 5 (ratio 0.1) is limited to 0.2: gain 5, not 10; y = 95 to 1.8.
    Cells extreme({{5, 95}});
    ExpectGains(TintFromNearestCell(extreme.xs.data(), extreme.ys.data(), 0.1f, 0.1f), 5.0f, 0.2f, "limits");
}

TEST(TintFromCellBox, ClassifiesEachAxisAndMovesTheNearestEdge) {
    // Per axis: below 40..45, straddling 45..55, above 55..60.
    const float g45 = 50.0f / 45, g55 = 2.0f - 55.0f / 50;
    const int lo[3] = {40, 45, 55}, hi[3] = {45, 55, 60};
    const float expected[3][3][2] = {{{g45, g45}, {g45, 1}, {1, 1}},
                                     {{1, g45}, {1, 1}, {1, g55}},
                                     {{1, 1}, {g55, 1}, {g55, g55}}};
    for (int cx = 0; cx < 3; ++cx) {
        for (int cy = 0; cy < 3; ++cy) {
            Cells l({{lo[cx], lo[cy]}, {hi[cx], hi[cy]}});
            ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), expected[cx][cy][0], expected[cx][cy][1],
                        "class " + std::to_string(cx) + "/" + std::to_string(cy));
        }
    }
    Cells l({{40, 48}, {45, 52}});
    l.xs[10] = 60;  // taken from 0.11 % (11.2 cells) up
    ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), 1.1111112f, 1, "x 40..45, y 48..52");
    ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.11f), 1, 1, "entry 10 taken");
}

}  // namespace
}  // namespace lx
