// SPDX-License-Identifier: MIT
// The one-shot correction's row kernels and its sharpening: the fast forms
// against the plain ones, bit for bit on every target, and worked values.
#include "oneshot/one_shot_rows_twins.h"

#include <gtest/gtest.h>

#include <array>
#include <random>
#include <string>
#include <vector>

#include "oneshot/sharpen_max_channel_twins.h"
#include "support/images.h"
#include "support/layouts.h"
#include "support/simd_targets.h"

namespace lx {
namespace {

// Widths around the vector lengths (4, 8, 16 floats; 16, 32, 64 bytes).
const int32_t kWidths[] = {1, 2, 3, 15, 16, 17, 31, 63, 64, 65, 97, 200};

// One interleaved row of n pixels in `mem`.
ImageView<uint8_t> RowOf(std::vector<uint8_t>& mem, int32_t n) {
    return {{&mem[0], &mem[1], &mem[2]}, 3 * int64_t{n}, 3, n, 1};
}

// Planar rows and per-pixel outputs of RowCapacity(n) entries, of which
// Used(n) gives the first n of each.
struct Outputs {
    std::vector<uint8_t> bytes;
    uint8_t* px[3];
    uint8_t* largest;
    std::array<int64_t, 256> moved{};
    explicit Outputs(int32_t n) : bytes(size_t(4 * RowCapacity(n)), 0) {
        for (int k = 0; k < 3; ++k) px[k] = bytes.data() + k * RowCapacity(n);
        largest = bytes.data() + 3 * RowCapacity(n);
    }
    std::vector<uint8_t> Used(int32_t n) const {
        std::vector<uint8_t> u;
        for (const uint8_t* p : {px[0], px[1], px[2], largest}) u.insert(u.end(), p, p + n);
        return u;
    }
};

// Runs `run(image, y, outputs, fast)` over every row of two equal images, the
// plain form on one and the fast form on the other, on every SIMD target,
// in every layout (the four-byte one walked sample by sample by both forms)
// and width; the images and the outputs must agree.
template <class Run>
void CompareOnImages(const char* what, int lowest, const Run& run) {
    std::mt19937 rng(11);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const int32_t w : kWidths)
            for (int kind = 0; kind < 4; ++kind) {
                test::LayoutImage plain(w, 3, kind);
                for (uint8_t& v : plain.mem) v = uint8_t(lowest + int(rng() % uint32_t(256 - lowest)));
                test::LayoutImage fast = plain;
                const std::string where = std::string(what) + ", " + target + ", width " + std::to_string(w) +
                                          ", layout " + std::to_string(kind);
                for (int32_t y = 0; y < 3; ++y) {
                    Outputs a(w), b(w);
                    run(plain.View(), y, a, false);
                    run(fast.View(), y, b, true);
                    ASSERT_TRUE(a.Used(w) == b.Used(w) && a.moved == b.moved) << where;
                }
                ASSERT_EQ(plain.mem, fast.mem) << where;
            }
    });
}

TEST(OneShotRows, ImageRowsMatchThePlainForms) {
    using View = const ImageView<uint8_t>&;
    CompareOnImages("minimum", 0, [](View v, int32_t y, Outputs& o, bool fast) {
        o.largest[0] = fast ? RowMinimumFast(v, y, 200) : RowMinimumPlain(v, y, 200);
    });
    CompareOnImages("black", 9, [](View v, int32_t y, Outputs& o, bool fast) {
        (fast ? RemoveBlackRowFast : RemoveBlackRowPlain)(v, y, 9, o.px, o.largest);
    });
    CompareOnImages("read", 0, [](View v, int32_t y, Outputs& o, bool fast) {
        (fast ? ReadRowFast : ReadRowPlain)(v, y, o.px, o.largest);
    });
}

// The cast in fixed point, with highlight compression (factors above 1000)
// and the tally of what it moved; every factor in 0..4000 is in reach of the
// fast form, and each is tried on every level of the first channel.
TEST(OneShotRows, CastRowsMatchThePlainForm) {
    const std::array<int32_t, 3> factors[] = {{1000, 1000, 1000}, {1600, 800, 400}, {0, 4000, 1000},
                                              {4000, 3999, 4000}, {1100, 950, 1003}};
    for (const auto& f : factors) {
        const TintTables t(f.data());
        ASSERT_TRUE(t.small);
        CompareOnImages("cast", 0, [&](const ImageView<uint8_t>& v, int32_t y, Outputs& o, bool fast) {
            (fast ? ApplyTintRowFast : ApplyTintRowPlain)(v, y, t, o.px, o.largest, o.moved.data());
        });
    }
    std::vector<uint8_t> plain(256 * 3), fast(256 * 3);
    Outputs a(256), b(256);
    test::ForEachSimdTarget([&](const std::string& target) {
        for (int32_t f = 0; f <= 4000; ++f) {
            const int32_t k[3] = {f, 1000, 1000};
            const TintTables t(k);
            for (int i = 0; i < 256; ++i) plain[3 * i] = uint8_t(i), plain[3 * i + 1] = 3, plain[3 * i + 2] = 1;
            fast = plain;
            a.moved.fill(0), b.moved.fill(0);
            ApplyTintRowPlain(RowOf(plain, 256), 0, t, a.px, a.largest, a.moved.data());
            ApplyTintRowFast(RowOf(fast, 256), 0, t, b.px, b.largest, b.moved.data());
            ASSERT_TRUE(plain == fast && a.moved == b.moved) << target << ", factor " << f;
        }
    });
    // (188, 250, 250) times (1.6, 0.8, 0.4) is (300, 200, 100), drawn
    // together to (255, 200, 145): the third sample moved from 100 to 145.
    std::vector<uint8_t> pixel = {188, 250, 250};
    const int32_t k[3] = {1600, 800, 400};
    Outputs o(1);
    ApplyTintRow(RowOf(pixel, 1), 0, TintTables(k), o.px, o.largest, o.moved.data());
    EXPECT_EQ(pixel, (std::vector<uint8_t>{255, 200, 145}));
    std::array<int64_t, 256> expected{};
    expected[100] = -1, expected[145] = 1;
    EXPECT_EQ(o.moved, expected);
    EXPECT_EQ(o.largest[0], 255);
}

// Every pair of first and second level, the third running through all
// levels, under every tint mode's grid rule (2 is the loose one).
TEST(OneShotRows, ChromaticityCellsMatchThePlainForm) {
    std::vector<uint8_t> r(256), g(256), b(256);
    std::vector<int16_t> plain(256), fast(256);
    const uint8_t* const px[3] = {r.data(), g.data(), b.data()};
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const int32_t mode : {-1, 0, 1, 2, 3, 4})
            for (int c0 = 0; c0 < 256; ++c0) {
                for (int i = 0; i < 256; ++i) r[i] = uint8_t(c0), g[i] = uint8_t(i), b[i] = uint8_t(i * 7 + c0 * 3);
                ChromaCellsRowPlain(px, 256, mode, plain.data());
                ChromaCellsRowFast(px, 256, mode, fast.data());
                ASSERT_EQ(plain, fast) << target << ", mode " << mode << ", first level " << c0;
            }
    });
}

// The stretch and the brightening on random rows: stretches that clip and
// that do not, maps on both sides of the range and on its ends, a flat range
// and none at all; and the map's stretched input values.
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
        CompareOnImages("brighten", 0, [&](const ImageView<uint8_t>& v, int32_t y, Outputs&, bool fast) {
            const float* row = c.map ? map.data() + y * v.width : nullptr;
            Outputs scratch(v.width);
            if (fast) BrightenRowFast(v, y, row, t, scratch.px);
            else BrightenRowPlain(v, y, row, t);
        });
    }
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
}

// Flat areas keep their colour to the border, padding untouched: for these
// amounts the weights sum to 1 exactly. Along one row (amount 0.5; worked
// out in float arithmetic, pass by pass) the black pixel stays black, the
// brighter middle one brightens and its right neighbour darkens, keeping
// their 4:2:1 ratios up to truncation; the last one's red is clamped at 255
// while its other channels still rise.
TEST(SharpenMaxChannel, FlatAreasStayAndEdgesMoveWithinTheRange) {
    test::Interleaved<uint8_t> flat(37, 29, 5, 0xEE);
    for (int32_t i = 0; i < 37 * 29 * 3; ++i) flat.at(i / 3 % 37, i / 3 / 37)[i % 3] = uint8_t(200 - 80 * (i % 3));
    const std::vector<uint8_t> original = flat.px;
    for (const float amount : {0.0f, 0.5f, 1.0f, 2.0f}) {
        SharpenMaxChannel8(flat.view(), amount);
        EXPECT_EQ(flat.px, original) << amount;
    }
    std::vector<uint8_t> row = {0, 0, 0, 80, 40, 20, 120, 60, 30, 80, 40, 20, 250, 125, 50};
    SharpenMaxChannel8(RowOf(row, 5), 0.5f);
    EXPECT_EQ(row, (std::vector<uint8_t>{0, 0, 0, 90, 44, 22, 145, 72, 35, 18, 8, 4, 255, 145, 57}));
}

// The SIMD form against the plain one, bit for bit, on every target: sizes
// around the vector lengths, lines of one and two pixels, a window in every
// memory layout (whose surroundings must stay as they were); amounts that
// sharpen, soften and do nothing.
TEST(SharpenMaxChannel, FastFormMatchesThePlainOne) {
    std::mt19937 rng(9);
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1},  {1, 9},   {9, 1},   {2, 2},   {17, 3},
                                                 {3, 17}, {64, 5},  {65, 33}, {130, 47}};
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const auto& [w, h] : sizes)
            for (int kind = 0; kind < 4; ++kind)
                for (const float amount : {0.0f, 0.5f, 1.3f, 3.0f, -0.7f}) {
                    test::LayoutImage plain(w + 6, h + 4, kind);
                    for (uint8_t& v : plain.mem) v = rng() % 8 ? uint8_t(rng()) : 0;
                    test::LayoutImage fast = plain;
                    SharpenMaxChannel8Plain(plain.View().Region(3, 2, w, h), amount);
                    ASSERT_TRUE(SharpenMaxChannel8Fast(fast.View().Region(3, 2, w, h), amount));
                    ASSERT_EQ(plain.mem, fast.mem) << target << ": " << w << " x " << h << ", layout " << kind
                                                   << ", amount " << amount;
                }
    });
}

}  // namespace
}  // namespace lx
