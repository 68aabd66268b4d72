// SPDX-License-Identifier: MIT
#include "analysis/analyse_blob.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include "support/blob_builder.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;

using test::BlobBytes;
using test::MakeBlob;
using test::TestHost;

TEST(AnalyseBlob, BlackLevelIsMeasuredAndTheBlobRestored) {
    TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 96);
    // The photo lifted so that its darkest sample is 12.
    int lo = 255;
    for (uint8_t v : photo.px) lo = std::min<int>(lo, v);
    BlobPtr blob = MakeBlob<uint8_t>(photo.width, photo.height, [&](int x, int y, int c) {
        return uint8_t(std::min(255, photo.at(x, y)[c] - lo + 12));
    });
    const auto before = BlobBytes(*blob);
    ImageParam p{};
    ASSERT_EQ(AnalyseBlob8(*blob, p), 1);
    EXPECT_EQ(p.blackLevel, 12);
    EXPECT_EQ(p.width, photo.width);
    EXPECT_EQ(p.height, photo.height);
    EXPECT_EQ(BlobBytes(*blob), before);
    EXPECT_EQ(p.needTint[3], 1) << "a tungsten cast needs correcting";
    EXPECT_GT(p.tintGains[3][2], 1.0f) << "blue is raised against red";
    EXPECT_EQ(p.tintGains[3][0], 1.0f);
    EXPECT_EQ(host.live(), 1) << "only the blob";
}

// Neutral blobs: a grey ramp from 20, a flat grey, a 16-bit ramp from 300
// and a blob holding a 0 sample. The blob is left as it was.
TEST(AnalyseBlob, BlackLevelsOfNeutralBlobs) {
    TestHost host;
    const struct {
        const char* what;
        BlobPtr blob;
        int black;
        int untintedModes;  // tint modes 0..untintedModes - 1 find no cast
    } cases[] = {
        {"grey ramp", MakeBlob<uint8_t>(60, 30, [](int x, int y, int) { return uint8_t(20 + (x + 60 * y) % 181); }),
         20, 3},
        {"flat", MakeBlob<uint8_t>(16, 16, [](int, int, int) { return uint8_t(90); }), 90, kTintModes},
        {"16-bit", MakeBlob<uint16_t>(9, 7, [](int x, int y, int c) { return uint16_t(300 + 500 * x + 90 * y + c); }),
         300, 0},
        {"a zero sample", MakeBlob<uint8_t>(3, 3, [](int x, int, int) { return uint8_t(x * 40); }), 0, 0},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const auto before = BlobBytes(*c.blob);
        ImageParam p{};
        ASSERT_EQ(c.blob->sampleType == 1 ? AnalyseBlob16(*c.blob, p) : AnalyseBlob8(*c.blob, p), 1);
        EXPECT_EQ(p.blackLevel, c.black);
        EXPECT_EQ(BlobBytes(*c.blob), before);
        for (int m = 0; m < c.untintedModes; ++m) EXPECT_EQ(p.needTint[m], 0) << "tint mode " << m;
        if (c.untintedModes >= 3) {
            for (int v = 1; v <= 3; ++v) EXPECT_EQ(p.whitePoint[v], p.whitePoint[0]) << "variant " << v;
        }
    }
}

TEST(AnalyseBlob, EveryAllocationFailureLeavesTheBlobAndNoBlock) {
    TestHost host;
    for (int wide = 0; wide < 2; ++wide) {
        BlobPtr blob = wide ? MakeBlob<uint16_t>(20, 12, [](int x, int y, int c) { return uint16_t(2000 + 900 * x + 300 * y * c); })
                               : MakeBlob<uint8_t>(20, 12, [](int x, int y, int c) { return uint8_t(30 + 5 * x + 3 * y * c); });
        const auto before = BlobBytes(*blob);
        ImageParam p{};
        test::ForEachAllocationFailure(
            host, [&] { return int64_t{wide ? AnalyseBlob16(*blob, p) : AnalyseBlob8(*blob, p)}; },
            [&](int64_t k, int64_t result) {
                // The 16-bit cast analysis takes host memory of its own; when
                // it is refused the analysis only gives up on the cast. The
                // knee builder's table (the 8-bit call's last allocation, 21)
                // is not examined either.
                if (!wide) {
                    EXPECT_EQ(result, k == 21 ? 1 : 0) << "allocation " << k;
                }
                EXPECT_EQ(BlobBytes(*blob), before) << "allocation " << k;
            });
    }
}

}  // namespace
}  // namespace lx
