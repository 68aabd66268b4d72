// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "stages/count_as_float.h"
#include "stages/detail_range.h"
#include "support/images.h"
#include "support/layouts.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using Image = test::Interleaved<uint8_t>;

// Every switch off, the pipeline's usual black 12.
OneShotSettings Plain(int32_t* strength) {
    OneShotSettings s;
    s.toneStrength = strength, s.curveBlack = 12;
    return s;
}

TEST(OneShot, AutoToneWritesABoundedStrength) {
    // A dim interior: the measured lift passes 30 %, so the limit has work.
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 200);
    for (int32_t limit : {0, 30, 100}) {
        Image img(photo.width, photo.height);
        img.px = photo.px;
        int32_t strength = -12345;
        OneShotSettings s = Plain(&strength);
        s.autoTone = 1, s.toneTarget = 1, s.strengthLimit = limit;
        EXPECT_EQ(LumarexComprehensive8(img.desc(), s), 0);
        EXPECT_NE(strength, -12345) << "autoTone writes the strength back";
        EXPECT_LE(strength, limit);
        EXPECT_TRUE(limit != 30 || strength == 30) << "the measured lift is capped, not skipped";
    }
}

TEST(OneShot, ThresholdsAndCountsOfAnyImageSize) {
    // permille x 3N formed exactly: 999 x 3 x 2^62 and INT32_MAX x 3 x 2^61.
    EXPECT_EQ(ShadowClipThreshold(999, int64_t{1} << 62), float(2997.0L * 0x1p62L) / 1000.0f);
    EXPECT_EQ(ShadowClipThreshold(INT32_MAX, int64_t{1} << 61), float(6442450941.0L * 0x1p61L) / 1000.0f);
    EXPECT_EQ(ShadowClipThreshold(5, 640 * 480), 4608.0f);
    // A detail bin holding more than 2^31 pixels of a flat 46341 x 46341 image.
    const int64_t N = int64_t{46341} * 46341;
    std::vector<int64_t> hist(2561, 0);
    hist[1279] = N;
    const DetailBins bins = FindDetailBins(hist.data(), 2561, N / 100);
    EXPECT_TRUE(bins.low == 1279 && bins.high == 1279);
    hist[1279] = N - 10, hist[0] = 4, hist[2560] = 6;
    EXPECT_EQ(FindDetailBins(hist.data(), 2561, N / 100).low, 1279) << "the ends hold under 1 %";
    // Pixel counts stand for float sums of ones, which stop growing at 2^24.
    EXPECT_EQ(CountAsFloatSum((uint64_t{1} << 24) - 1), 16777215.0f);
    EXPECT_EQ(CountAsFloatSum((uint64_t{1} << 24) + 9), 16777216.0f);
    EXPECT_EQ(CountAsFloatSum(uint64_t{3} << 32), 16777216.0f);
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

TEST(OneShot, DegenerateImagesStayValid) {
    test::TestHost host;
    // No pixels in either direction: nothing is measured, written or taken,
    // not even by the log/exp tables or the automatic strength.
    for (const auto& [w, h] : {std::pair{0, 5}, std::pair{5, 0}}) {
        Image empty(w, h);
        int32_t strength = -7;
        OneShotSettings s = Plain(&strength);
        s.autoTone = 1, s.curveFamily = 1;
        EXPECT_EQ(LumarexComprehensive8(empty.desc(), s), 0);
        EXPECT_EQ(strength, -7) << w << " x " << h;
        EXPECT_EQ(host.allocations(), 0) << w << " x " << h;
    }
    int32_t strength = 50;
    // A flat image: black level = its level, every detail 0 (hi below lo),
    // white level 0 = low clip: no stretch, no NaN; it stays flat and black.
    Image flat(50, 40, 0, 77);
    OneShotSettings s = Plain(&strength);
    s.localContrast = 1, s.autoTone = 1;
    EXPECT_EQ(LumarexComprehensive8(flat.desc(), s), 0);
    EXPECT_TRUE(std::all_of(flat.px.begin(), flat.px.end(), [](uint8_t v) { return v == 0; }));
    // Nine pixels in ten black: the white level also falls on the low clip,
    // and the bright tenth keeps its levels (strength 0 lifts nothing).
    Image dark(50, 40);
    for (int i = 0; i < 50 * 40; i += 10) dark.at(i % 50, i / 50)[0] = 200, dark.at(i % 50, i / 50)[1] = 90;
    const std::vector<uint8_t> kept = dark.px;
    strength = 0;
    EXPECT_EQ(LumarexComprehensive8(dark.desc(), Plain(&strength)), 0);
    EXPECT_EQ(dark.px, kept);
    // Clipping 1000 per mille or more clips everything: no range is left, the
    // levels are kept and the call still returns normally.
    for (int32_t permille : {1000, 5000, -3}) {
        Image g(30, 20);
        for (size_t i = 0; i < g.px.size(); ++i) g.px[i] = uint8_t(5 + i % 246);
        OneShotSettings c = Plain(&strength);
        c.shadowClip = 1, c.shadowClipPermille = permille;
        EXPECT_EQ(LumarexComprehensive8(g.desc(), c), 0);
    }
}

// The log/exp tables are the one part of the one-shot correction that takes
// host memory: when it is refused, the image is levelled but not brightened
// (identity gains), the same whichever block was refused, and no block is
// left behind.
TEST(OneShot, HostFailureOfTheLogExpTablesOnlySkipsTheLift) {
    test::TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s08_sunset_warm.jpg", 64);
    Image img(photo.width, photo.height);
    auto run = [&]() -> int64_t {
        img.px = photo.px;
        int32_t strength = 80;
        OneShotSettings s = Plain(&strength);
        s.curveFamily = 1;
        return LumarexComprehensive8(img.desc(), s);
    };
    run();
    const std::vector<uint8_t> lifted = img.px;
    std::vector<uint8_t> unlifted;
    test::ForEachAllocationFailure(host, run, [&](int64_t k, int64_t result) {
        EXPECT_EQ(result, 0);
        EXPECT_NE(img.px, lifted) << "allocation " << k;
        if (unlifted.empty()) unlifted = img.px;
        EXPECT_EQ(img.px, unlifted) << "allocation " << k;
    });
}

// The same photo in every memory layout corrects to the same samples and
// leaves its padding alone, on odd sizes with centre weights (over 384
// pixels) and without, across the switches that choose a path.
TEST(OneShot, EveryMemoryLayoutGivesTheSameSamplesAndKeepsItsPadding) {
    test::TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 800);
    ASSERT_TRUE(photo.width >= 458 && photo.height >= 400);
    // raised: every sample lifted by 12, a black offset to remove (the photo
    // itself reaches 0).
    struct Case { int tint, mode, clip, contrast, family, autoTone, raised; };
    const Case cases[] = {{1, 3, 1, 1, 0, 1, 0}, {0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 1, 1, 0, 0},
                          {0, 0, 1, 0, 1, 1, 0}, {1, 2, 1, 0, 0, 1, 0}, {1, 3, 1, 1, 0, 1, 1}};
    for (const auto& [w, h] : {std::pair{451, 397}, std::pair{97, 61}})
        for (const Case& c : cases) {
            std::vector<uint8_t> first;
            int32_t firstStrength = 0;
            for (int kind = 0; kind < 4; ++kind) {
                SCOPED_TRACE(testing::Message() << w << " x " << h << ", layout " << kind << ", tint " << c.tint
                                                << ", contrast " << c.contrast << ", family " << c.family);
                test::LayoutImage l(w, h, kind);
                for (int i = 0; i < w * h * 3; ++i)
                    l.At(i) = uint8_t(std::min(255, photo.at(7 + i / 3 % w, 3 + i / 3 / w)[i % 3] + (c.raised ? 12 : 0)));
                int32_t strength = 55;
                OneShotSettings s = Plain(&strength);
                s.tintCorrection = c.tint, s.tintMode = c.mode, s.tintStrength = 1.3f;
                s.shadowClip = c.clip, s.shadowClipPermille = 7;
                s.localContrast = c.contrast, s.curveFamily = c.family, s.curveReduction = 20;
                s.autoTone = c.autoTone, s.toneTarget = 3, s.strengthLimit = 140;
                LumarexComprehensive8(l.Desc(), s);
                std::vector<uint8_t> samples(size_t(w) * h * 3);
                for (int i = 0; i < w * h * 3; ++i) samples[size_t(i)] = l.At(i), l.At(i) = 0xA5;
                EXPECT_TRUE(std::all_of(l.mem.begin(), l.mem.end(), [](uint8_t v) { return v == 0xA5; })) << "padding written";
                if (kind == 0) first = samples, firstStrength = strength;
                if (kind == 0 && c.raised) {
                    EXPECT_EQ(*std::min_element(samples.begin(), samples.end()), 0) << "the black offset is removed";
                }
                EXPECT_EQ(strength, c.autoTone ? firstStrength : 55) << "without autoTone the strength is only read";
                EXPECT_TRUE(samples == first);
            }
        }
}

}  // namespace
}  // namespace lx
