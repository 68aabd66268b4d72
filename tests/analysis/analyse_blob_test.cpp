// SPDX-License-Identifier: MIT
// The blob analysis; its form that only reads the blob (one walk for every
// variant and tint mode) against the reference that lowers the blob in place
// and walks it once per mode and variant: the same record, bit for bit.
#include "analysis/analyse_blob.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "analysis/analyse_blob_twins.h"
#include "analysis/blob_statistics_twins.h"
#include "support/blob_builder.h"
#include "support/images.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobBytes;
using test::BlobPtr;
using test::MakeBlob;
using test::TestHost;

// Neutral blobs: a grey ramp from 20, a flat grey, a 16-bit ramp from 300
// and a blob holding a 0 sample; tint modes 0 .. untinted - 1 find no cast.
// The blob is left as it was.
TEST(AnalyseBlob, BlackLevelsOfNeutralBlobs) {
    TestHost host;
    const struct { const char* what; BlobPtr blob; int black, untinted; } cases[] = {
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
        for (int m = 0; m < c.untinted; ++m) EXPECT_EQ(p.needTint[m], 0) << "tint mode " << m;
        if (c.untinted >= 3) {
            for (int v = 1; v <= 3; ++v) EXPECT_EQ(p.whitePoint[v], p.whitePoint[0]) << v;
        }
    }
}

// The 16-bit cast analysis takes host memory of its own; when it is refused
// the analysis only gives up on the cast. The knee builder's table (the
// 8-bit call's last allocation, 21) is not examined either.
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
                EXPECT_TRUE(wide || result == (k == 21 ? 1 : 0)) << "allocation " << k;
                EXPECT_EQ(BlobBytes(*blob), before) << "allocation " << k;
            });
    }
}

// The analysed part of the record (everything before the base map), as bytes.
std::vector<uint8_t> Measured(const ImageParam& p) {
    const auto* b = reinterpret_cast<const uint8_t*>(&p);
    return std::vector<uint8_t>(b, b + offsetof(ImageParam, baseMapValid));
}

void ExpectSameAnalysis(const ImageBlob& blob) {
    const auto before = BlobBytes(blob);
    ImageParam plain{}, fast{};
    const bool wide = blob.sampleType == 1;
    EXPECT_EQ(wide ? AnalyseBlob16Plain(blob, plain) : AnalyseBlob8Plain(blob, plain),
              wide ? AnalyseBlob16Fast(blob, fast) : AnalyseBlob8Fast(blob, fast));
    EXPECT_EQ(Measured(plain), Measured(fast));
    EXPECT_EQ(BlobBytes(blob), before);
}

// Random pictures: casts of either sign in each channel, a raised black
// level, clipped highlights (a tenth of the pixels at the top in half the
// trials), odd sizes down to one pixel and one line, and empty blobs (no
// record, refused before any host block).
TEST(AnalyseBlobFast, RandomBlobsGiveTheSameRecord) {
    TestHost host;
    std::mt19937 rng(2024);
    const std::pair<int, int> sizes[] = {{0, 3}, {4, 0}, {1, 1}, {1, 9}, {13, 1}, {7, 5}, {33, 17}, {64, 41}, {101, 67}};
    for (const auto& [w, h] : sizes) {
        for (int trial = 0; trial < 4; ++trial) {
            SCOPED_TRACE(testing::Message() << w << " x " << h << " trial " << trial);
            const int black = int(rng() % 40);
            const int gain[3] = {700 + int(rng() % 600), 700 + int(rng() % 600), 700 + int(rng() % 600)};
            std::vector<int> base(size_t(w) * h * 3);
            for (int& v : base) v = int(rng() % 256);
            auto sample = [&](int x, int y, int c) {
                if (trial % 2 && (x * 7 + y * 3) % 10 == 0) return 255;
                return std::min(255, black + base[(size_t(y) * w + x) * 3 + c] * gain[c] / 1000);
            };
            ExpectSameAnalysis(*MakeBlob<uint8_t>(w, h, [&](int x, int y, int c) { return uint8_t(sample(x, y, c)); }));
            ExpectSameAnalysis(*MakeBlob<uint16_t>(w, h, [&](int x, int y, int c) {
                return uint16_t(std::min(65535, sample(x, y, c) * 257 + int(rng() % 257)));
            }));
        }
    }
}

// The statistics of tinted variants whose gains the cast analysis would not
// give: negative and very large per-mille factors (the 16-bit walk's 64-bit
// form), a channel scaled to nothing, gains that are not numbers (factor
// 1000), two modes with the same gains (one walk serves both).
TEST(AnalyseBlobFast, StatisticsMatchForAnyGains) {
    TestHost host;
    const test::Rgb16 photo = test::LoadSample16("s06_indoor_backlit_room_16bit.png", 57);
    BlobPtr b16 = MakeBlob<uint16_t>(photo.width, photo.height, [&](int x, int y, int c) { return photo.at(x, y)[c]; });
    BlobPtr b8 = MakeBlob<uint8_t>(photo.width, photo.height,
                                   [&](int x, int y, int c) { return uint8_t(photo.at(x, y)[c] >> 8); });
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float gainSets[][kTintModes][3] = {
        {{-1.0f, 1.0f, 3.0f}, {-10.0f, 0.1f, 10.2f}, {1.0f, 0.0f, 1.9f}, {1.0f, 1.3f, 0.7f}},
        {{1.0f, 1.3f, 0.7f}, {1.0f, 1.3f, 0.7f}, {nan, 1.0f, 1.0f}, {0.5f, 2.0f, 1.0f}},
    };
    for (const auto& gains : gainSets) {
        for (int wide = 0; wide < 2; ++wide) {
            const ImageBlob& blob = wide ? *b16 : *b8;
            ImageParam plain{};
            for (int m = 0; m < kTintModes; ++m) std::copy(gains[m], gains[m] + 3, plain.tintGains[m]);
            ImageParam fast = plain;
            ASSERT_TRUE(wide ? CollectBlobStatistics16Plain(blob, plain) : CollectBlobStatistics8Plain(blob, plain));
            ASSERT_TRUE(wide ? CollectBlobStatistics16Fast(blob, 0, fast) : CollectBlobStatistics8Fast(blob, 0, fast));
            EXPECT_EQ(Measured(plain), Measured(fast)) << "wide " << wide;
        }
    }
}

}  // namespace
}  // namespace lx
