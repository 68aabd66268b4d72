// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"
#include "stages/detail_range.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <vector>

#include "stages/count_as_float.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

// A small interleaved RGB image and its descriptor.
using Image = test::Interleaved<uint8_t>;

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

TEST(OneShot, AutoToneWritesABoundedStrength) {
    // A dim interior: the measured lift passes 30 %, so the limit has work.
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 200);
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
        if (limit == 30) {
            EXPECT_EQ(strength, 30) << "the measured lift is capped, not skipped";
        }
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
    // Factors below 0 (a negative tint strength) are applied; the results
    // are clamped to 0..255.
    const int32_t turned[3] = {-1000, 1000, 3000};
    const uint8_t pixel[3] = {200, 100, 50}, flat[3] = {100, 100, 100};
    ApplyTintFactors(turned, pixel, out);
    EXPECT_EQ((std::array<int32_t, 3>{out[0], out[1], out[2]}), (std::array<int32_t, 3>{0, 100, 150}));
    ApplyTintFactors(turned, flat, out);  // (-100, 100, 300): m 100, f 155 / 200
    EXPECT_EQ((std::array<int32_t, 3>{out[0], out[1], out[2]}), (std::array<int32_t, 3>{0, 100, 255}));
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
    EXPECT_EQ(bins.low, 1279);
    EXPECT_EQ(bins.high, 1279);
    hist[1279] = N - 10, hist[0] = 4, hist[2560] = 6;
    EXPECT_EQ(FindDetailBins(hist.data(), 2561, N / 100).low, 1279) << "the ends hold under 1 %";
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
    int32_t strength = 50;
    // No pixels: nothing is touched.
    Image empty(0, 5);
    ImageDesc d = empty.desc();
    EXPECT_EQ(LumarexComprehensive8(d, Plain(&strength)), 0);

    // A flat image: black level = its level, every detail 0 (hi below lo),
    // white level 0 = low clip: no stretch, no NaN; it stays flat and black.
    Image flat(50, 40, 0, 77);
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

TEST(OneShot, IntegerCountsStandForFloatSums) {
    float sum = 0.0f;
    uint64_t n = 0;
    for (uint64_t check : {uint64_t{0}, uint64_t{1}, uint64_t{12345}, (uint64_t{1} << 24) - 1, uint64_t{1} << 24,
                           (uint64_t{1} << 24) + 1, (uint64_t{1} << 24) + 9}) {
        for (; n < check; ++n) sum += 1.0f;
        ASSERT_EQ(CountAsFloatSum(n), sum) << n;
    }
    EXPECT_EQ(CountAsFloatSum(uint64_t{3} << 32), 16777216.0f);
}

// One photo in three memory layouts: interleaved RGB with padded rows,
// planar with padded rows, and BGRA (four bytes a pixel, channels reversed).
struct Layout {
    int w, h, rowStride, pixelStride, offset[3];
    std::vector<uint8_t> mem;
    Layout(const test::Rgb8& src, int x0, int y0, int w_, int h_, int kind) : w(w_), h(h_) {
        int64_t planeSize = 0;
        if (kind == 0) rowStride = w * 3 + 5, pixelStride = 3, offset[0] = 0, offset[1] = 1, offset[2] = 2;
        if (kind == 1) rowStride = w + 3, pixelStride = 1, planeSize = int64_t{rowStride} * h,
            offset[0] = 0, offset[1] = int(planeSize), offset[2] = int(2 * planeSize);
        if (kind == 2) rowStride = w * 4 + 8, pixelStride = 4, offset[0] = 2, offset[1] = 1, offset[2] = 0;
        mem.assign(size_t(kind == 1 ? 3 * planeSize : int64_t{rowStride} * h), 0xA5);
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int k = 0; k < 3; ++k)
                    mem[size_t(offset[k] + int64_t{y} * rowStride + int64_t{x} * pixelStride)] = src.at(x0 + x, y0 + y)[k];
    }
    ImageDesc desc() { return ImageDesc{0, w, h, rowStride, pixelStride, &mem[offset[0]], &mem[offset[1]], &mem[offset[2]]}; }
};

// The sample at (x, y), channel k.
uint8_t& SampleAt(Layout& l, int x, int y, int k) {
    return l.mem[size_t(l.offset[k] + int64_t{y} * l.rowStride + int64_t{x} * l.pixelStride)];
}

// Every layout corrects to the same samples and leaves its padding alone, on
// odd sizes with centre weights (over 384 pixels) and without, across the
// switches that choose a path. (The row kernels' fast and plain twins are
// compared in one_shot_rows_test, the whole correction by the golden
// checksums, which the plain build gives as well.)
TEST(OneShot, EveryMemoryLayoutGivesTheSameSamplesAndKeepsItsPadding) {
    test::TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 800);
    ASSERT_GE(photo.width, 451);
    ASSERT_GE(photo.height, 397);
    // raised: every sample lifted by 12 (up to 255), a black offset to
    // remove (the photo itself reaches 0).
    struct Case { int tint, mode, clip, contrast, family, autoTone, raised; };
    const Case cases[] = {{1, 3, 1, 1, 0, 1, 0}, {0, 0, 0, 0, 0, 0, 0}, {1, 0, 0, 1, 1, 0, 0},
                          {0, 0, 1, 0, 1, 1, 0}, {1, 2, 1, 0, 0, 1, 0}, {1, 3, 1, 1, 0, 1, 1}};
    for (const auto& [w, h] : {std::pair{451, 397}, std::pair{97, 61}})
        for (const Case& c : cases) {
            std::vector<Layout> layouts;
            std::vector<int32_t> strengths;
            for (int kind = 0; kind < 3; ++kind) {
                Layout& l = layouts.emplace_back(photo, 7, 3, w, h, kind);
                for (int y = 0; y < h && c.raised; ++y)
                    for (int x = 0; x < w; ++x)
                        for (int k = 0; k < 3; ++k) SampleAt(l, x, y, k) = uint8_t(std::min(255, SampleAt(l, x, y, k) + 12));
                int32_t strength = 55;
                OneShotSettings s = Plain(&strength);
                s.tintCorrection = c.tint, s.tintMode = c.mode, s.tintStrength = 1.3f;
                s.shadowClip = c.clip, s.shadowClipPermille = 7;
                s.localContrast = c.contrast, s.curveFamily = c.family, s.curveReduction = 20;
                s.autoTone = c.autoTone, s.toneTarget = 3, s.strengthLimit = 140;
                const std::vector<uint8_t> before = l.mem;
                ImageDesc d = l.desc();
                LumarexComprehensive8(d, s);
                strengths.push_back(strength);
                // The padding: with the samples put back, the memory is as it was.
                Layout restored = l;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        for (int k = 0; k < 3; ++k) {
                            const size_t i = size_t(l.offset[k] + int64_t{y} * l.rowStride + int64_t{x} * l.pixelStride);
                            restored.mem[i] = before[i];
                        }
                EXPECT_TRUE(restored.mem == before) << w << "x" << h << " layout " << kind << ": padding written";
            }
            for (int kind = 1; kind < 3; ++kind) {
                EXPECT_EQ(strengths[size_t(kind)], strengths[0]) << w << "x" << h << " layout " << kind;
                int differ = 0;
                for (int y = 0; y < h; ++y)
                    for (int x = 0; x < w; ++x)
                        for (int k = 0; k < 3; ++k) differ += SampleAt(layouts[size_t(kind)], x, y, k) != SampleAt(layouts[0], x, y, k);
                EXPECT_EQ(differ, 0) << w << "x" << h << " layout " << kind << " tint " << c.tint << " contrast "
                                     << c.contrast << " family " << c.family;
            }
        }
}

}  // namespace
}  // namespace lx
