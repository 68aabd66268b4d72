// SPDX-License-Identifier: MIT
#include "analysis/analysis_helpers.h"

#include <gtest/gtest.h>

#include <cmath>
#include <functional>
#include <numeric>
#include <vector>

namespace lx {
namespace {

// --- IsHistogramUsable --------------------------------------------------------

struct HistCase {
    const char* name;
    int32_t n;
    std::function<void(std::vector<float>&)> fill;
    int usable;
};

void Set(std::vector<float>& h, int from, int to, float v) {
    for (int i = from; i <= to; ++i) h[i] = v;
}

TEST(IsHistogramUsable, SpikesCountOnlyWhenTheirEndBandIsHeavy) {
    const HistCase cases[] = {
        {"all zero: no occupied bin, no spike", 256, [](auto&) {}, 1},
        // lo = hi: both ends are spikes, each band is the whole mass, but the
        // share is taken of the bands' sum, which counts that bin twice.
        {"one bin", 256, [](auto& h) { h[100] = 500; }, 1},
        {"spread, no spike", 256, [](auto& h) { Set(h, 20, 200, 10); }, 1},
        // Band w = trunc(156 * 0.3) = 46: bins 209..255 hold 5000 of 6000.
        {"heavy top spike", 256, [](auto& h) { Set(h, 100, 199, 10); h[255] = 5000; }, 0},
        {"heavy bottom spike", 256, [](auto& h) { h[0] = 5000; Set(h, 56, 155, 10); }, 0},
        {"heavy top spike, 16-bit bins", 65536,
         [](auto& h) { Set(h, 25600, 51199, 10); h[65535] = 6e6f; }, 0},
        // A spike whose band holds 7100 of 24300 (< 70 %): usable.
        {"light top spike", 256, [](auto& h) { Set(h, 10, 250, 100); h[255] = 200; }, 1},
        // Bottom spike with a light low band while the high band is heavy
        // but has no spike: the heaviness of the other end does not count.
        {"bottom spike, heavy unspiked top", 256,
         [](auto& h) { h[0] = 100; Set(h, 1, 199, 1); Set(h, 200, 255, 30); }, 1},
        // Top band heavy; the top bin against 1.3 x the tallest inner bin (100).
        {"top bin equal to 1.3 x inner peak", 256,
         [](auto& h) { h[100] = 1; Set(h, 210, 254, 100); h[255] = 130; }, 1},
        {"top bin just above 1.3 x inner peak", 256,
         [](auto& h) { h[100] = 1; Set(h, 210, 254, 100); h[255] = 131; }, 0},
        // Counts of 0.5 or less lie outside the occupied range, so the 0.5 at
        // bin 255 leaves bin 254 as the (heavy, spiked) top.
        {"half counts are empty", 256,
         [](auto& h) { Set(h, 100, 199, 10); h[254] = 5000; h[255] = 0.5f; }, 0},
    };
    for (const HistCase& c : cases) {
        std::vector<float> h(c.n, 0.0f);
        c.fill(h);
        EXPECT_EQ(IsHistogramUsable(h.data(), 1.3f, 30.0f, 70.0f, c.n), c.usable) << c.name;
    }
    EXPECT_EQ(IsHistogramUsable(nullptr, 1.3f, 30.0f, 70.0f, 0), 1) << "no bins";
}

// --- SortCells ----------------------------------------------------------------

TEST(SortCells, EqualKeysEndInTheOrderTheGapExchangesLeave) {
    // Hand-traced. Gap 2 moves the 0 at index 2 past both 1s, in front of
    // the second: equal keys 1 end as (1, 0), not as a stable sort's (0, 1).
    {
        std::vector<float> keys = {1, 1, 0, 5};
        std::vector<int32_t> a = {0, 1, 2, 3}, b = {10, 11, 12, 13};
        SortCells(keys.data(), a.data(), b.data(), 4);
        EXPECT_EQ(keys, (std::vector<float>{0, 1, 1, 5}));
        EXPECT_EQ(a, (std::vector<int32_t>{2, 1, 0, 3}));
        EXPECT_EQ(b, (std::vector<int32_t>{12, 11, 10, 13}));
    }
    {
        // Gaps 4, 2, 1 (stable order would be 3 6 1 4 7 0 2 5).
        std::vector<float> keys = {2, 1, 2, 0, 1, 2, 0, 1};
        std::vector<int32_t> a(8), b(8);
        std::iota(a.begin(), a.end(), 0);
        std::iota(b.begin(), b.end(), 100);
        SortCells(keys.data(), a.data(), b.data(), 8);
        EXPECT_EQ(a, (std::vector<int32_t>{6, 3, 4, 1, 7, 0, 2, 5}));
        for (int i = 0; i < 8; ++i) EXPECT_EQ(b[i], a[i] + 100);
    }
}

TEST(SortCells, SortsAFullCellListKeepingEntriesTogether) {
    // 10201 keys with many ties, as in a smoothed grid.
    std::vector<float> keys(kChromaCells);
    std::vector<int32_t> a(kChromaCells), b(kChromaCells);
    for (int32_t i = 0; i < kChromaCells; ++i) {
        keys[i] = float((i * 7919) % 613);
        a[i] = i;
        b[i] = -i;
    }
    const std::vector<float> original = keys;
    SortCells(keys.data(), a.data(), b.data(), kChromaCells);
    std::vector<bool> seen(kChromaCells, false);
    for (int32_t i = 0; i < kChromaCells; ++i) {
        if (i > 0) {
            ASSERT_LE(keys[i - 1], keys[i]) << i;
        }
        ASSERT_EQ(keys[i], original[a[i]]) << "payload A left its key at " << i;
        ASSERT_EQ(b[i], -a[i]) << "payload B left payload A at " << i;
        ASSERT_FALSE(seen[a[i]]);
        seen[a[i]] = true;
    }
}

TEST(SortCells, OneOrNoEntryIsLeftAlone) {
    float key = 3.0f;
    int32_t a = 7, b = 8;
    SortCells(&key, &a, &b, 1);
    SortCells(&key, &a, &b, 0);
    EXPECT_EQ(key, 3.0f);
    EXPECT_EQ(a, 7);
    EXPECT_EQ(b, 8);
}

// --- SmoothChromaGrid -----------------------------------------------------------

float& Cell(std::vector<float>& g, int x, int y) { return g[x * kChromaSide + y]; }

TEST(SmoothChromaGrid, SpreadsAnImpulseByTheHalfLifeWithoutNormalising) {
    const float a = 0.62996f;  // exp(-ln 2 / 1.5)
    std::vector<float> g(kChromaCells, 0.0f);
    Cell(g, 50, 50) = 1.0f;
    SmoothChromaGrid(g.data(), 1.5f);
    // Both passes together give sum a^2k = 1 / (1 - a^2) per axis.
    const float peak = 1.0f / (1.0f - a * a);
    EXPECT_NEAR(Cell(g, 50, 50), peak * peak, 1e-4f);
    for (int k = 1; k <= 3; ++k) {
        const float expected = std::pow(a, float(k));
        EXPECT_NEAR(Cell(g, 50, 50 + k) / Cell(g, 50, 50), expected, 1e-5f) << k;
        EXPECT_NEAR(Cell(g, 50, 50 - k) / Cell(g, 50, 50), expected, 1e-5f) << k;
        EXPECT_NEAR(Cell(g, 50 + k, 50) / Cell(g, 50, 50), expected, 1e-5f) << k;
        EXPECT_NEAR(Cell(g, 50 - k, 50 - k) / Cell(g, 50, 50), expected * expected, 1e-5f) << k;
    }
}

TEST(SmoothChromaGrid, ForwardPassRunsBeforeTheBackwardPass) {
    // At the far corner the forward passes add nothing and the backward
    // passes never write cell 100, so the impulse stays exactly 1 there; at
    // the near corner it collects the full two-sided sum.
    const float a = 0.62996f;
    std::vector<float> far(kChromaCells, 0.0f), near(kChromaCells, 0.0f);
    Cell(far, 100, 100) = 1.0f;
    Cell(near, 0, 0) = 1.0f;
    SmoothChromaGrid(far.data(), 1.5f);
    SmoothChromaGrid(near.data(), 1.5f);
    EXPECT_EQ(Cell(far, 100, 100), 1.0f);
    EXPECT_NEAR(Cell(far, 100, 99), a, 1e-5f);
    EXPECT_NEAR(Cell(far, 99, 99), a * a, 1e-5f);
    const float side = 1.0f / (1.0f - a * a);
    EXPECT_NEAR(Cell(near, 0, 0), side * side, 1e-4f);
}

// --- Gains from the ranked cells -------------------------------------------------

TEST(RatioToGain, BringsTheChannelToTheFirst) {
    const struct { float r, gain; } cases[] = {
        {0.8f, 1.25f}, {1.25f, 0.75f}, {1.0f, 1.0f}, {0.5f, 2.0f}, {1.5f, 0.5f}, {0.2f, 5.0f}};
    for (const auto& c : cases) EXPECT_FLOAT_EQ(RatioToGain(c.r), c.gain) << c.r;
}

// A ranked cell list whose leading entries are `cells`; every later entry
// sits at the far corner (100, 100) and must never be looked at.
struct CellList {
    std::vector<int32_t> xs = std::vector<int32_t>(kChromaCells, 100);
    std::vector<int32_t> ys = std::vector<int32_t>(kChromaCells, 100);
    CellList(std::initializer_list<std::pair<int, int>> cells) {
        int i = 0;
        for (auto [x, y] : cells) xs[i] = x, ys[i++] = y;
    }
    // Repeats the last given cell up to entry n - 1.
    CellList& PadTo(int n, int from) {
        for (int i = from; i < n; ++i) xs[i] = xs[from - 1], ys[i] = ys[from - 1];
        return *this;
    }
};

void ExpectGains(const GainTriple& g, float second, float third, const char* what) {
    EXPECT_EQ(g.first, 1.0f) << what;
    EXPECT_NEAR(g.second, second, 1e-5f) << what;
    EXPECT_NEAR(g.third, third, 1e-5f) << what;
}

TEST(TintFromNearestCell, NeutralInsideTheBoxOrTheNearestCellLimited) {
    // 0.1 % of 10201 cells is 10 (10.201 truncated): entry 10 is outside.
    {
        CellList l({{45, 48}, {55, 52}});
        l.PadTo(10, 2);
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.1f, 0.1f), 1, 1, "box holds (50, 50)");
    }
    {
        CellList l({{42, 50}, {40, 50}});
        l.PadTo(10, 2);
        l.xs[10] = 49, l.ys[10] = 50;  // nearer, but one past the searched count
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.1f, 0.1f), 50.0f / 42, 1, "x below");
        // A larger search share reaches it while the box stays the same.
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.1f, 0.2f), 50.0f / 49, 1, "wider search");
    }
    {
        // Equally near cells: the earlier one wins.
        CellList l({{45, 55}, {45, 45}});
        l.PadTo(10, 2);
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.1f, 0.1f), 1 / 0.9f, 0.9f, "tie");
    }
    {
        // x = 5 is ratio 0.1, limited to 0.2 (gain 5, not 10); y = 95 is 1.9,
        // limited to 1.8 (gain 0.2, not 0.1).
        CellList l({{5, 95}});
        l.PadTo(10, 1);
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.1f, 0.1f), 5.0f, 0.2f, "limits");
    }
    {
        CellList l({{40, 40}});
        ExpectGains(TintFromNearestCell(l.xs.data(), l.ys.data(), 0.0f, 0.0f), 1, 1, "nothing to search");
    }
}

TEST(TintFromCellBox, ClassifiesEachAxisAndMovesTheNearestEdge) {
    const float g45 = 50.0f / 45, g55 = 2.0f - 55.0f / 50;
    // Boxes by class: below x 40..45 / y 40..45; straddling 45..55; above 55..60.
    const int lo[3] = {40, 45, 55}, hi[3] = {45, 55, 60};
    const float expected[3][3][2] = {
        {{g45, g45}, {g45, 1}, {1, 1}},
        {{1, g45}, {1, 1}, {1, g55}},
        {{1, 1}, {g55, 1}, {g55, g55}},
    };
    for (int cx = 0; cx < 3; ++cx) {
        for (int cy = 0; cy < 3; ++cy) {
            CellList l({{lo[cx], lo[cy]}, {hi[cx], hi[cy]}});
            l.PadTo(10, 2);
            ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), expected[cx][cy][0],
                        expected[cx][cy][1], (std::to_string(cx) + "/" + std::to_string(cy)).c_str());
        }
    }
    {
        // Dominant cells x 40..45, y 48..52: only the second channel moves.
        CellList l({{40, 48}, {45, 52}});
        l.PadTo(10, 2);
        ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), 1.1111112f, 1, "x below, y straddling");
        // Entry 10 (x 60) only counts from 0.11 % up (11.2 cells).
        l.xs[10] = 60;
        ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), 1.1111112f, 1, "entry 10 excluded");
        ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.11f), 1, 1, "entry 10 included");
    }
    {
        // Exactly 50 counts as straddling on either side.
        CellList l({{50, 60}, {60, 50}});
        l.PadTo(10, 2);
        ExpectGains(TintFromCellBox(l.xs.data(), l.ys.data(), 0.1f), 1, 1, "edges at 50");
        CellList m({{50, 56}});
        m.PadTo(10, 1);
        ExpectGains(TintFromCellBox(m.xs.data(), m.ys.data(), 0.1f), 1, 2.0f - 56.0f / 50, "x at 50");
    }
}

TEST(TintFromCentroid, WeightedMeanCellOfTheList) {
    std::vector<float> w(kChromaCells, 0.0f);
    std::vector<int32_t> xs(kChromaCells), ys(kChromaCells);
    for (int32_t i = 0; i < kChromaCells; ++i) xs[i] = i / kChromaSide, ys[i] = i % kChromaSide;
    // Mean (45, 50): the second channel at 0.9 of the first.
    w[40 * kChromaSide + 50] = 3.0f;
    w[60 * kChromaSide + 50] = 1.0f;
    ExpectGains(TintFromCentroid(w.data(), xs.data(), ys.data()), 1 / 0.9f, 1, "two cells");
    // Mean (50, 60): the third channel stronger.
    std::fill(w.begin(), w.end(), 0.0f);
    w[50 * kChromaSide + 55] = 1.0f;
    w[50 * kChromaSide + 65] = 1.0f;
    ExpectGains(TintFromCentroid(w.data(), xs.data(), ys.data()), 1, 0.8f, "above");
    // No mass: no mean, no correction.
    std::fill(w.begin(), w.end(), 0.0f);
    ExpectGains(TintFromCentroid(w.data(), xs.data(), ys.data()), 1, 1, "empty");
}

}  // namespace
}  // namespace lx
