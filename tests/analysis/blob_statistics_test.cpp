// SPDX-License-Identifier: MIT
#include "analysis/blob_statistics.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "analysis/analyse_blob.h"
#include "analysis/blob_histograms.h"
#include "support/blob_builder.h"
#include "support/images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;
using test::MakeBlob;
using test::TestHost;

// Flat blobs. Grey 100: weighted mean 101, lifted mean 167, so 39, 52 and
// 64 levels to go out of 66. White: level 255 maps to itself, the lift moves
// nothing (m1 = m0) and the undefined strength counts as 0.
TEST(BlobStatistics, FlatBlobs) {
    TestHost host;
    const struct { int level; int32_t tone[kToneRows]; } cases[] = {{100, {59, 78, 96}}, {255, {0, 0, 0}}};
    for (const auto& c : cases) {
        BlobPtr blob = MakeBlob<uint8_t>(10, 10, [&](int, int, int) { return uint8_t(c.level); });
        ImageParam p{};
        ASSERT_EQ(CollectBlobStatistics8(*blob, p), 1);
        for (int v = 0; v < kStatVariants; ++v) {
            for (int j = 0; j < kShadowPercentiles; ++j) EXPECT_EQ(p.shadowPercentiles[v][j], c.level);
            EXPECT_EQ(p.whitePoint[v], c.level);
            for (int r = 0; r < kToneRows; ++r) EXPECT_EQ(p.toneLevels[r][v], c.tone[r]) << c.level << ", " << v;
        }
        EXPECT_EQ(host.live(), 1) << "only the blob";
    }
}

// 1000 grey pixels, four of each level 0..249: every level holds 12
// samples and step = 3 x 1000 / 1000 = 3. Percentile j is the lowest level
// whose running count passes (j + 1) x 3: 12 (k + 1) > 3 (j + 1), so level
// (j + 1) / 4. The white point: 1 pixel in 1000 may lie above it, and four
// share each level, so it is the top level, 249.
TEST(BlobStatistics, ShadowPercentilesOfAnEvenRamp) {
    TestHost host;
    const BlobPtr blob = MakeBlob<uint8_t>(40, 25, [](int x, int y, int) { return uint8_t((y * 40 + x) / 4); });
    ImageParam p{};
    ASSERT_TRUE(CollectBlobStatistics8(*blob, p));
    const int expected[][2] = {{0, 0}, {2, 0}, {3, 1}, {4, 1}, {7, 2}, {8, 2}, {48, 12}, {49, 12}};
    for (const auto& [j, level] : expected) EXPECT_EQ(p.shadowPercentiles[0][j], level) << "percentile " << j;
    EXPECT_EQ(p.whitePoint[0], 249);
}

TEST(BlobStatistics, SixteenBitTargetsAndLimits) {
    TestHost host;
    // 16-bit tinted samples are stretched under 65535, then limited to 65280.
    BlobPtr blob = MakeBlob<uint16_t>(2, 1, [](int x, int, int c) { return uint16_t(x ? (c ? 62000 : 48000) : 25600); });
    ImageParam p{};
    p.needTint[0] = 1;
    p.tintGains[0][0] = 1.6f, p.tintGains[0][1] = 0.8f, p.tintGains[0][2] = 0.4f;
    ASSERT_EQ(CollectBlobStatistics16(*blob, p), 1);
    EXPECT_EQ(p.whitePoint[1], 65280);
    EXPECT_EQ(p.whitePoint[0], 62000);
    EXPECT_GT(p.toneLevels[0][0], 0);
    EXPECT_LT(p.toneLevels[0][0], p.toneLevels[2][0]) << "a brighter target takes more lift";
}

// A variant whose tint factors repeat an earlier variant's takes that
// variant's histograms instead of its own pass; its statistics must be those
// of its own pass. Tint modes 0 and 1 share their gains in `shared`; in
// `apart` mode 0 differs in its third factor alone (the middle gain), so
// mode 1 (variant 2) is counted from the pixels.
TEST(BlobStatistics, RepeatedVariantsMatchTheirOwnPass) {
    TestHost host;
    const auto check = [&]<class T>(T) {
        BlobPtr blob = MakeBlob<T>(37, 23, [](int x, int y, int c) {
            const uint32_t v = (uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u) >> 8;
            return T(sizeof(T) == 1 ? v % 256 : v % 65536);
        });
        ImageParam shared{};
        for (int m : {0, 1, 3}) shared.needTint[m] = 1;
        for (int m : {0, 1}) shared.tintGains[m][0] = 1.2f, shared.tintGains[m][1] = 0.9f, shared.tintGains[m][2] = 1.0f;
        shared.tintGains[3][0] = 0.8f, shared.tintGains[3][1] = 1.0f, shared.tintGains[3][2] = 1.3f;
        ImageParam apart = shared;
        apart.tintGains[0][2] = 1.1f;
        const bool wide = sizeof(T) == 2;
        ASSERT_EQ(wide ? CollectBlobStatistics16(*blob, shared) : CollectBlobStatistics8(*blob, shared), 1);
        ASSERT_EQ(wide ? CollectBlobStatistics16(*blob, apart) : CollectBlobStatistics8(*blob, apart), 1);
        for (int v : {0, 2, 3, 4}) {
            for (int j = 0; j < kShadowPercentiles; ++j)
                EXPECT_EQ(shared.shadowPercentiles[v][j], apart.shadowPercentiles[v][j]) << "variant " << v;
            EXPECT_EQ(shared.whitePoint[v], apart.whitePoint[v]) << "variant " << v;
            for (int r = 0; r < kToneRows; ++r) EXPECT_EQ(shared.toneLevels[r][v], apart.toneLevels[r][v]) << "variant " << v;
        }
        EXPECT_FALSE(std::equal(shared.shadowPercentiles[1], shared.shadowPercentiles[1] + kShadowPercentiles,
                                shared.shadowPercentiles[0]))
            << "the shared gains change the statistics";
    };
    check(uint8_t{});
    check(uint16_t{});
}

// The tabled 8-bit pass counts what the plain pass counts, into histograms
// already holding counts, on odd sizes (padded rows) and for tint factors
// that leave, scale, stretch, zero or negate samples.
TEST(BlobHistograms, TabledPassMatchesThePlainPass) {
    TestHost host;
    const struct { bool tinted; int64_t f[3]; } cases[] = {
        {false, {1000, 1000, 1000}}, {true, {1000, 1000, 1000}}, {true, {1163, 1000, 837}},
        {true, {1600, 800, 399}},    {true, {0, -500, 2500}},    {true, {50000, 1, 1000}}};
    for (const auto& [w, h] : {std::pair{1, 1}, {5, 3}, {2, 9}, {37, 23}}) {
        // Runs of equal pixels, dark and bright extremes, grey and coloured.
        BlobPtr blob = MakeBlob<uint8_t>(w, h, [](int x, int y, int c) {
            const uint32_t v = ((uint32_t(x / 3) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u) >> 9) % 300;
            return uint8_t(v >= 256 ? (v & 1) * 255 : v);
        });
        for (const auto& c : cases) {
            int32_t maxPlain[256], allPlain[256], maxTabled[256], allTabled[256];
            for (int i = 0; i < 256; ++i) maxPlain[i] = maxTabled[i] = i, allPlain[i] = allTabled[i] = 3 * i;
            FillBlobHistograms8(*blob, c.tinted, c.f, maxPlain, allPlain);
            FillBlobHistograms8Tabled(*blob, c.tinted, c.f, maxTabled, allTabled);
            EXPECT_TRUE(std::equal(maxPlain, maxPlain + 256, maxTabled) && std::equal(allPlain, allPlain + 256, allTabled))
                << w << "x" << h << " factors " << c.f[0] << ", " << c.f[1] << ", " << c.f[2];
        }
    }
    EXPECT_EQ(host.live(), 0);
}

}  // namespace
}  // namespace lx
