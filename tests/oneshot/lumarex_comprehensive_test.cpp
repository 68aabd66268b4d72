// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "stages/log_gain_tables.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

// A small interleaved RGB image and its descriptor.
struct Image {
    int w, h;
    std::vector<uint8_t> px;
    Image(int width, int height, uint8_t fill = 0) : w(width), h(height), px(size_t(width) * height * 3, fill) {}
    uint8_t* at(int x, int y) { return &px[(size_t(y) * w + x) * 3]; }
    ImageDesc desc() { return ImageDesc{0, w, h, w * 3, 3, px.data(), px.data() + 1, px.data() + 2}; }
};

// Every switch off, strength 50, the pipeline's usual black 12.
OneShotSettings Plain(int32_t* strength) {
    OneShotSettings s;
    s.toneStrength = strength;
    s.curveBlack = 12;
    return s;
}

Image Gradient(int w, int h, uint8_t lo, uint8_t hi) {
    Image im(w, h);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t v = uint8_t(lo + (hi - lo) * (x + y * w) / (w * h - 1));
            uint8_t* p = im.at(x, y);
            p[0] = v, p[1] = uint8_t(std::max(int(lo), v - 10)), p[2] = uint8_t(std::max(int(lo), v - 20));
        }
    return im;
}

TEST(OneShot, BlackOffsetIsRemoved) {
    Image im = Gradient(40, 30, 20, 220);
    int32_t strength = 50;
    ImageDesc d = im.desc();
    EXPECT_EQ(LumarexComprehensive8(d, Plain(&strength)), 0);
    EXPECT_EQ(*std::min_element(im.px.begin(), im.px.end()), 0) << "the darkest sample 20 must become 0";
    EXPECT_EQ(strength, 50) << "without autoTone the strength is only read";
}

// With the black level at 0 and a quarter of the pixels at white, the
// levels need no stretch, so every switch off leaves exactly the primary
// curve of the log lift at the given strength.
TEST(OneShot, SwitchesOffStillBrightenAtTheGivenStrength) {
    for (int32_t strength : {0, 40, 100, 150}) {
        Image im(32, 32);
        for (int y = 0; y < 32; ++y)
            for (int x = 0; x < 32; ++x) {
                uint8_t* p = im.at(x, y);
                const bool white = y < 10;  // 31 % of the pixels
                p[0] = white ? 255 : uint8_t(8 * x);
                p[1] = white ? 255 : uint8_t(6 * x);
                p[2] = white ? 255 : uint8_t(y);
            }
        Image before = im;
        std::array<float, 256> primary, secondary;
        BuildLogGainTables(primary.data(), secondary.data(), 12, 1, strength, 1.0f, 256);
        int32_t s = strength;
        ImageDesc d = im.desc();
        LumarexComprehensive8(d, Plain(&s));
        for (int i = 0; i < 32 * 32; ++i) {
            const uint8_t* b = &before.px[i * 3];
            const uint8_t m = std::max({b[0], b[1], b[2]});
            for (int c = 0; c < 3; ++c)
                ASSERT_EQ(im.px[i * 3 + c], std::min(255, int(float(b[c]) * primary[m])))
                    << "strength " << strength << " pixel " << i << " channel " << c;
        }
    }
}

TEST(OneShot, AutoToneWritesABoundedStrength) {
    const test::Rgb8 photo = test::LoadSample8("s03_hazy_lifted_blacks_bridge.jpg", 200);
    for (int32_t limit : {0, 30, 100}) {
        std::vector<uint8_t> px = photo.px;
        ImageDesc d{0, photo.width, photo.height, photo.width * 3, 3, px.data(), px.data() + 1, px.data() + 2};
        int32_t strength = -12345;
        OneShotSettings s = Plain(&strength);
        s.autoTone = 1;
        s.toneTarget = 1;
        s.strengthLimit = limit;
        EXPECT_EQ(LumarexComprehensive8(d, s), 0);
        EXPECT_NE(strength, -12345) << "autoTone writes the strength back";
        EXPECT_LE(strength, limit);
    }
}

TEST(OneShot, TintThatWouldClipIsCompressedAboutItsMiddle) {
    const int32_t k[3] = {1600, 800, 400};
    const uint8_t c[3] = {188, 250, 250};  // (300, 200, 100) before compression
    int32_t out[3];
    ApplyTintFactors(k, c, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[1], 200);
    EXPECT_EQ(out[2], 145);
    // All three equal and above 255: no spread to compress, each is capped.
    const int32_t even[3] = {1200, 1200, 1200};
    const uint8_t grey[3] = {250, 250, 250};
    ApplyTintFactors(even, grey, out);
    EXPECT_EQ(out[0], 255);
    EXPECT_EQ(out[2], 255);
}

TEST(OneShot, CentreWeightsFallTowardTheBorders) {
    EXPECT_EQ(CentreWeight(0, 0, 383, 4000), 1.0f) << "under 384 pixels wide: uniform";
    EXPECT_EQ(CentreWeight(200, 3000, 4000, 383), 1.0f);
    // 1024 x 1024: cx = cy = 8; the centre block (8, 8) weighs 4.
    EXPECT_EQ(CentreWeight(8 * 64, 8 * 64, 1024, 1024), 4.0f);
    EXPECT_EQ(CentreWeight(0, 8 * 64, 1024, 1024), 2.0f);
    // 1100 wide: the last block column (17) lies beyond 2 * cx = 16.
    EXPECT_LT(CentreWeight(1099, 0, 1100, 1100), 0.0f);
}

TEST(OneShot, EverySwitchCombinationReturnsZeroAndIsRepeatable) {
    test::TestHost host;  // curve family 1 takes host memory
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 48);
    for (int bits = 0; bits < (1 << 10); ++bits) {
        std::vector<uint8_t> results[2];
        for (auto& px : results) {
            px = photo.px;
            ImageDesc d{0, photo.width, photo.height, photo.width * 3, 3, px.data(), px.data() + 1, px.data() + 2};
            int32_t strength = 60;
            OneShotSettings s = Plain(&strength);
            s.tintCorrection = bits & 1, s.tintMode = (bits >> 1) & 3, s.tintStrength = 0.8f;
            s.shadowClip = (bits >> 3) & 1, s.shadowClipPermille = 5;
            s.localContrast = (bits >> 4) & 1;
            s.curveFamily = (bits >> 5) & 1, s.curveReduction = 30;
            s.colorMode = (bits >> 6) & 1 ? 2 : 0, s.colorAmount = 0.5f;
            s.sharpen = (bits >> 7) & 1, s.sharpenAmount = 1.0f;
            s.autoTone = (bits >> 8) & 1, s.toneTarget = 2, s.strengthLimit = 120;
            s.warmTone = (bits >> 9) & 1, s.warmToneStrength = 1.0f;
            s.colorCube = (bits >> 2) & 1, s.cubeSelect = (bits >> 5) & 1, s.cubeAlsoC = (bits >> 6) & 1;
            ASSERT_EQ(LumarexComprehensive8(d, s), 0);
        }
        ASSERT_EQ(results[0], results[1]) << "switches " << bits;
        ASSERT_EQ(host.live(), 0);
    }
}

TEST(OneShot, DegenerateImagesStayValid) {
    int32_t strength = 50;
    // No pixels: nothing is touched.
    Image empty(0, 5);
    ImageDesc d = empty.desc();
    EXPECT_EQ(LumarexComprehensive8(d, Plain(&strength)), 0);

    // A flat image: black level = its level, every detail 0 (hi below lo),
    // white level 0 = low clip: no stretch, no NaN; it stays flat and black.
    Image flat(50, 40, 77);
    d = flat.desc();
    OneShotSettings s = Plain(&strength);
    s.localContrast = 1;
    s.autoTone = 1;
    EXPECT_EQ(LumarexComprehensive8(d, s), 0);
    EXPECT_TRUE(std::all_of(flat.px.begin(), flat.px.end(), [](uint8_t v) { return v == 0; }));

    // Clipping 1000 per mille or more clips everything: no range is left, the
    // levels are kept and the call still returns normally.
    for (int32_t permille : {1000, 5000, -3}) {
        Image g = Gradient(30, 20, 5, 250);
        d = g.desc();
        OneShotSettings c = Plain(&strength);
        c.shadowClip = 1;
        c.shadowClipPermille = permille;
        EXPECT_EQ(LumarexComprehensive8(d, c), 0);
    }
}

}  // namespace
}  // namespace lx

namespace lx {
namespace {

// The log/exp tables are the one part of the one-shot correction that takes
// host memory: when it is refused, the image is levelled but not brightened
// (identity gains), the same whichever block was refused, and no block is
// left behind.
TEST(OneShot, HostFailureOfTheLogExpTablesOnlySkipsTheLift) {
    test::TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s08_sunset_warm.jpg", 64);
    std::vector<uint8_t> px;
    auto run = [&]() -> int64_t {
        px = photo.px;
        ImageDesc d{0, photo.width, photo.height, photo.width * 3, 3, px.data(), px.data() + 1, px.data() + 2};
        int32_t strength = 80;
        OneShotSettings s = Plain(&strength);
        s.curveFamily = 1;
        return LumarexComprehensive8(d, s);
    };
    run();
    const std::vector<uint8_t> lifted = px;
    std::vector<uint8_t> unlifted;
    test::ForEachAllocationFailure(host, run, [&](int64_t k, int64_t result) {
        EXPECT_EQ(result, 0);
        EXPECT_NE(px, lifted) << "allocation " << k;
        if (unlifted.empty()) unlifted = px;
        EXPECT_EQ(px, unlifted) << "allocation " << k;
    });
}

}  // namespace
}  // namespace lx
