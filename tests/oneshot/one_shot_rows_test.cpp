// SPDX-License-Identifier: MIT
#include "oneshot/one_shot_rows.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "analysis/estimate_tint_gains.h"
#include "support/simd_targets.h"

namespace lx {
namespace {

// Widths around the vector lengths (4, 8, 16 floats; 16, 32, 64 bytes).
const int32_t kWidths[] = {1, 2, 3, 15, 16, 17, 31, 63, 64, 65, 97, 200};

// Random rows of samples in one of four layouts, rows padded: RGB and BGR
// (three samples a pixel), planar, and four bytes a pixel (blue, green, red,
// spare), the last walked sample by sample by both forms.
struct Rows {
    int32_t w, h;
    int64_t pixelStride, rowStride, offset[3];
    std::vector<uint8_t> mem;

    Rows(int32_t width, int32_t height, int kind, std::mt19937& rng, int lowest = 0) : w(width), h(height) {
        int64_t plane = 0;
        switch (kind) {
            case 0: pixelStride = 3, rowStride = w * 3 + 7, offset[0] = 0, offset[1] = 1, offset[2] = 2; break;
            case 1: pixelStride = 3, rowStride = w * 3 + 2, offset[0] = 2, offset[1] = 1, offset[2] = 0; break;
            case 2:
                pixelStride = 1, rowStride = w + 5, plane = rowStride * h;
                offset[0] = 0, offset[1] = plane, offset[2] = 2 * plane;
                break;
            default: pixelStride = 4, rowStride = w * 4 + 4, offset[0] = 2, offset[1] = 1, offset[2] = 0; break;
        }
        mem.resize(size_t(kind == 2 ? 3 * plane : rowStride * h));
        for (uint8_t& v : mem) v = uint8_t(lowest + int(rng() % uint32_t(256 - lowest)));
    }
    RowPixels Row(int32_t y) {
        const ImageView<uint8_t> v{{&mem[offset[0]], &mem[offset[1]], &mem[offset[2]]}, rowStride, pixelStride, w, h};
        return RowPixels::Of(v, y, true);
    }
};

// Planar rows and per-pixel outputs of RowCapacity(n) entries.
struct Outputs {
    std::vector<uint8_t> bytes;
    PlanarRow px;
    uint8_t* largest;
    std::array<int64_t, 256> moved{};
    explicit Outputs(int32_t n) : bytes(size_t(4 * RowCapacity(n)), 0) {
        const int64_t c = RowCapacity(n);
        px = PlanarRow{{bytes.data(), bytes.data() + c, bytes.data() + 2 * c}};
        largest = bytes.data() + 3 * c;
    }
    // The first n entries of each output.
    std::vector<uint8_t> Used(int32_t n) const {
        std::vector<uint8_t> u;
        for (const uint8_t* p : {px.c[0], px.c[1], px.c[2], largest}) u.insert(u.end(), p, p + n);
        return u;
    }
};

// Runs `run(rows, y, outputs, fast)` over every row of two equal images, the
// plain form on one and the fast form on the other, on every SIMD target,
// in every layout and width; the images and the outputs must agree.
template <class Run>
void CompareOnImages(const char* what, int lowest, const Run& run) {
    std::mt19937 rng(11);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const int32_t w : kWidths)
            for (int kind = 0; kind < 4; ++kind) {
                Rows plain(w, 3, kind, rng, lowest);
                Rows fast = plain;
                for (int32_t y = 0; y < 3; ++y) {
                    Outputs a(w), b(w);
                    run(plain, y, a, false);
                    run(fast, y, b, true);
                    ASSERT_EQ(a.Used(w), b.Used(w)) << what << ", " << target << ", width " << w << ", layout " << kind;
                    ASSERT_EQ(a.moved, b.moved) << what << ", " << target << ", width " << w << ", layout " << kind;
                }
                ASSERT_EQ(plain.mem, fast.mem) << what << ", " << target << ", width " << w << ", layout " << kind;
            }
    });
}

TEST(OneShotRows, ImageRowsMatchThePlainForms) {
    CompareOnImages("minimum", 0, [](Rows& r, int32_t y, Outputs& o, bool fast) {
        o.largest[0] = fast ? RowMinimumFast(r.Row(y), r.w, 200) : RowMinimumPlain(r.Row(y), r.w, 200);
    });
    CompareOnImages("black", 9, [](Rows& r, int32_t y, Outputs& o, bool fast) {
        (fast ? RemoveBlackRowFast : RemoveBlackRowPlain)(r.Row(y), r.w, 9, o.px, o.largest);
    });
    CompareOnImages("read", 0, [](Rows& r, int32_t y, Outputs& o, bool fast) {
        (fast ? ReadRowFast : ReadRowPlain)(r.Row(y), r.w, o.px, o.largest);
    });
}

// The cast in fixed point, with highlight compression (factors above 1000)
// and the tally of what it moved; every factor in 0..4000 is in reach of the
// fast form.
TEST(OneShotRows, CastRowsMatchThePlainForm) {
    const std::array<int32_t, 3> factors[] = {{1000, 1000, 1000}, {1600, 800, 400}, {0, 4000, 1000},
                                              {4000, 3999, 4000}, {1100, 950, 1003}};
    for (const auto& f : factors) {
        const TintTables t(f.data());
        ASSERT_TRUE(t.small);
        CompareOnImages("cast", 0, [&](Rows& r, int32_t y, Outputs& o, bool fast) {
            (fast ? ApplyTintRowFast : ApplyTintRowPlain)(r.Row(y), r.w, t, o.px, o.largest, o.moved.data());
        });
    }
    // Every factor on every level of the first channel (the others kept
    // low, so only levels that pass 255 are compressed).
    std::vector<uint8_t> plain(256 * 3), fast(256 * 3);
    Outputs a(256), b(256);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (int32_t f = 0; f <= 4000; ++f) {
            const int32_t factors[3] = {f, 1000, 1000};
            const TintTables t(factors);
            for (int i = 0; i < 256; ++i) plain[3 * i] = uint8_t(i), plain[3 * i + 1] = 3, plain[3 * i + 2] = 1;
            fast = plain;
            a.moved.fill(0), b.moved.fill(0);
            const auto row = [](std::vector<uint8_t>& m) {
                return RowPixels::Of(ImageView<uint8_t>{{&m[0], &m[1], &m[2]}, 256 * 3, 3, 256, 1}, 0, true);
            };
            ApplyTintRowPlain(row(plain), 256, t, a.px, a.largest, a.moved.data());
            ApplyTintRowFast(row(fast), 256, t, b.px, b.largest, b.moved.data());
            ASSERT_TRUE(plain == fast && a.moved == b.moved) << target << ", factor " << f;
        }
    });
}

// (188, 250, 250) times (1.6, 0.8, 0.4) is (300, 200, 100), drawn together to
// (255, 200, 145): the third sample moved from 100 to 145.
TEST(OneShotRows, CompressedHighlightsAreTallied) {
    const int32_t f[3] = {1600, 800, 400};
    const TintTables t(f);
    uint8_t pixel[3] = {188, 250, 250};
    const ImageView<uint8_t> v{{pixel, pixel + 1, pixel + 2}, 3, 3, 1, 1};
    Outputs o(1);
    std::array<int64_t, 256> moved{};
    ApplyTintRow(RowPixels::Of(v, 0, true), 1, t, o.px, o.largest, moved.data());
    EXPECT_EQ(std::vector<uint8_t>(pixel, pixel + 3), (std::vector<uint8_t>{255, 200, 145}));
    std::array<int64_t, 256> expected{};
    expected[100] = -1, expected[145] = 1;
    EXPECT_EQ(moved, expected);
    EXPECT_EQ(o.largest[0], 255);
}

// Every pair of first and second level, the third running through all
// levels, under every tint mode's grid rule (2 is the loose one).
TEST(OneShotRows, ChromaticityCellsMatchTheCastAnalysis) {
    std::vector<uint8_t> r(256), g(256), b(256);
    std::vector<int16_t> plain(256), fast(256);
    const PlanarRow px{{r.data(), g.data(), b.data()}};
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const int32_t mode : {-1, 0, 1, 2, 3, 4})
            for (int c0 = 0; c0 < 256; ++c0) {
                for (int i = 0; i < 256; ++i) r[i] = uint8_t(c0), g[i] = uint8_t(i), b[i] = uint8_t(i * 7 + c0 * 3);
                ChromaCellsRowPlain(px, 256, mode, plain.data());
                ChromaCellsRowFast(px, 256, mode, fast.data());
                ASSERT_EQ(plain, fast) << target << ", mode " << mode << ", first level " << c0;
            }
    });
    // The plain form is the analysis' own rule: (100, 50, 200) counts at
    // x = 25, y = 50 x (2 - 100 / 200) = 75 except where a level passes 245.
    EXPECT_EQ(TintGridCell8(100, 50, 200, 0), 25 * 101 + 75);
    EXPECT_EQ(TintGridCell8(100, 50, 250, 0), -1);
    EXPECT_EQ(TintGridCell8(100, 50, 250, 2), 25 * 101 + 80);
}

// The stretch and the brightening on random rows: stretches that clip and
// that do not, maps on both sides of the range and on its ends, a flat range
// and none at all.
TEST(OneShotRows, BrightenRowsMatchThePlainForm) {
    std::mt19937 rng(3);
    float primary[256], secondary[256];
    for (int i = 0; i < 256; ++i) primary[i] = 1.0f + float(rng() % 1000) / 700.0f, secondary[i] = float(rng() % 1000) / 600.0f;
    struct Case { int32_t clip, scale, low, high; bool map; };
    const Case cases[] = {{0, 1000, -40, 60, true}, {-1, 1234, -3, 17, true}, {12, 255000, 5, 5, true},
                          {200, 6071, -100, 900, true}, {7, 1093, 0, 0, false}, {255, 0, -1, 1, true}};
    for (const Case& c : cases) {
        const BrightenTables t(c.clip, c.scale, primary, secondary, c.low, c.high);
        std::vector<float> map(4096);
        for (size_t i = 0; i < map.size(); ++i)
            map[i] = i % 7 == 0 ? float(i % 2 ? c.low : c.high) : float(int(rng() % 4000) - 2000) / 13.0f;
        CompareOnImages("brighten", 0, [&](Rows& r, int32_t y, Outputs&, bool fast) {
            const float* row = c.map ? map.data() + y * r.w : nullptr;
            Outputs scratch(r.w);
            if (fast) BrightenRowFast(r.Row(y), r.w, row, t, scratch.px);
            else BrightenRowPlain(r.Row(y), r.w, row, t);
        });
    }
}

// The map's input values: every level under stretches that keep, clip and
// zero them, at widths around the vector lengths.
TEST(OneShotRows, StretchedValuesMatchThePlainForm) {
    std::vector<uint8_t> levels(300);
    for (size_t i = 0; i < levels.size(); ++i) levels[i] = uint8_t(i * 7 % 256);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const float stretch : {0.0f, 1.0f, 255.0f / 254.0f, 255.0f / 97.0f, 255.0f})
            for (const int32_t n : {1, 15, 16, 17, 300}) {
                std::vector<float> plain(n), fast(n);
                StretchValuesRowPlain(levels.data(), n, stretch, plain.data());
                StretchValuesRowFast(levels.data(), n, stretch, fast.data());
                ASSERT_EQ(plain, fast) << target << ", stretch " << stretch << ", width " << n;
            }
    });
    float out[3];
    const uint8_t worked[3] = {97, 98, 40};
    StretchValuesRow(worked, 3, 255.0f / 97.0f, out);
    EXPECT_EQ(out[0], 255.0f);
    EXPECT_EQ(out[1], 255.0f);  // 257.6 clipped
    EXPECT_FLOAT_EQ(out[2], 105.15464f);
}

// The fast stretch works in float; with unit gains the brightening leaves
// each sample at its stretched level, so every level under every low clip
// and a sweep of scales (products past 2^24 included) must give the table.
TEST(OneShotRows, BrightenStretchesEveryLevelAsTheTable) {
    float ones[256];
    std::fill_n(ones, 256, 1.0f);
    std::vector<uint8_t> mem(256 * 3);
    std::vector<uint8_t> scratch(size_t(3 * RowCapacity(256)));
    const PlanarRow px{{scratch.data(), scratch.data() + RowCapacity(256), scratch.data() + 2 * RowCapacity(256)}};
    std::vector<int32_t> scales = {0, 1, 999, 1000, 1001, 3923, 254999, 255000};
    for (int32_t s = 7; s < 255000; s += 4999) scales.push_back(s);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (int32_t clip = -1; clip < 256; ++clip)
            for (const int32_t scale : scales) {
                const BrightenTables t(clip, scale, ones, ones, 0, 0);
                for (int i = 0; i < 256; ++i) mem[3 * i] = uint8_t(i), mem[3 * i + 1] = uint8_t(255 - i), mem[3 * i + 2] = 0;
                const ImageView<uint8_t> v{{&mem[0], &mem[1], &mem[2]}, 256 * 3, 3, 256, 1};
                BrightenRowFast(RowPixels::Of(v, 0, true), 256, nullptr, t, px);
                for (int i = 0; i < 256; ++i)
                    ASSERT_TRUE(mem[3 * i] == t.stretched[i] && mem[3 * i + 1] == t.stretched[255 - i])
                        << target << ", clip " << clip << ", scale " << scale << ", level " << i;
            }
    });
    // A worked value: levels from 10 up, stretched by 255 / 100.
    const BrightenTables t(10, 2550, ones, ones, 0, 0);
    EXPECT_EQ(t.stretched[10], 0);
    EXPECT_EQ(t.stretched[11], 2);    // 2.55
    EXPECT_EQ(t.stretched[60], 127);  // 127.5
    EXPECT_EQ(t.stretched[110], 255);
}

}  // namespace
}  // namespace lx
