// SPDX-License-Identifier: MIT
#include "oneshot/sharpen_max_channel_twins.h"

#include <gtest/gtest.h>

#include "oneshot/layouts.h"
#include "support/images.h"
#include "support/simd_targets.h"

#include <random>
#include <string>
#include <vector>

namespace lx {
namespace {

// An interleaved image whose rows are padded with 5 bytes of 0xEE, which
// sharpening must leave alone.
struct Image : test::Interleaved<uint8_t> {
    Image(int32_t w, int32_t h) : Interleaved(w, h, 5, 0xEE) {}
    void Set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) { at(x, y)[0] = r, at(x, y)[1] = g, at(x, y)[2] = b; }
    // Sharpens the w x h window at (x, y).
    void Sharpen(float amount, int32_t x = 0, int32_t y = 0, int32_t ww = -1, int32_t hh = -1) {
        SharpenMaxChannel8(view().Region(x, y, ww < 0 ? w : ww, hh < 0 ? h : hh), amount);
    }
};

// Random content with black pixels (no finite gain) and clamped channels.
// Lines are walked 64 at a time; the result must be that of passing over
// every row alone (a one-row window) and then every column alone.
TEST(SharpenMaxChannel, EqualsSharpeningEachLineAlone) {
    std::mt19937 rng(5);
    for (const auto& [w, h] : {std::pair{70, 67}, std::pair{130, 3}, std::pair{3, 130}}) {
        Image im(w, h);
        for (int32_t i = 0; i < w * h; ++i) {
            const uint32_t r = rng() % 16 ? rng() : 0;  // one pixel in 16 black
            im.Set(i % w, i / w, uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24));
        }
        Image expected = im;
        for (int32_t y = 0; y < h; ++y) expected.Sharpen(1.3f, 0, y, w, 1);
        for (int32_t x = 0; x < w; ++x) expected.Sharpen(1.3f, x, 0, 1, h);
        im.Sharpen(1.3f);
        EXPECT_EQ(im.px, expected.px) << w << " x " << h;
    }
}

// Flat areas keep their colour to the border: for these amounts the weights
// sum to 1 exactly (others can round a gain just below 1 and truncate a
// level away). Along one row (amount 0.5) the black pixel stays black; the
// brighter middle pixel brightens and its right neighbour darkens, both
// keeping their 4:2:1 ratios up to truncation; the last pixel's red
// overshoots and is clamped at 255 while its other channels still rise. The
// values were worked out independently in float arithmetic, pass by pass.
TEST(SharpenMaxChannel, FlatAreasStayAndEdgesMoveWithinTheRange) {
    Image flat(37, 29);
    for (int32_t i = 0; i < 37 * 29; ++i) flat.Set(i % 37, i / 37, 200, 120, 40);
    const std::vector<uint8_t> original = flat.px;
    for (const float amount : {0.0f, 0.5f, 1.0f, 2.0f}) {
        flat.Sharpen(amount);
        EXPECT_EQ(flat.px, original) << amount;
    }
    Image im(5, 1);
    const uint8_t px[5][3] = {{0, 0, 0}, {80, 40, 20}, {120, 60, 30}, {80, 40, 20}, {250, 125, 50}};
    for (int x = 0; x < 5; ++x) im.Set(x, 0, px[x][0], px[x][1], px[x][2]);
    im.Sharpen(0.5f);
    const std::vector<uint8_t> expected = {0, 0, 0, 90, 44, 22, 145, 72, 35, 18, 8, 4, 255, 145, 57};
    EXPECT_EQ(std::vector<uint8_t>(im.at(0, 0), im.at(5, 0)), expected);
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
