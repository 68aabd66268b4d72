// SPDX-License-Identifier: MIT
// The analysis that only reads the blob (one walk for every statistics
// variant, the four tint modes together) against the reference that lowers
// the blob in place and walks it once per mode and variant: the same record,
// bit for bit, and the same host requests when the host refuses one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyse_blob_twins.h"
#include "analysis/blob_statistics_twins.h"
#include "support/blob_builder.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobBytes;
using test::BlobPtr;
using test::MakeBlob;
using test::TestHost;

// The analysed part of the record (everything before the base map), as bytes.
std::vector<uint8_t> Measured(const ImageParam& p) {
    const auto* b = reinterpret_cast<const uint8_t*>(&p);
    return std::vector<uint8_t>(b, b + offsetof(ImageParam, baseMapValid));
}

struct Outcome {
    int result;
    std::vector<uint8_t> record;
    bool operator==(const Outcome&) const = default;
};

Outcome Analyse(const ImageBlob& blob, bool fast) {
    ImageParam p{};
    const bool wide = blob.sampleType == 1;
    const bool ok = wide ? (fast ? AnalyseBlob16Fast(blob, p) : AnalyseBlob16Plain(blob, p))
                         : (fast ? AnalyseBlob8Fast(blob, p) : AnalyseBlob8Plain(blob, p));
    return {ok ? 1 : 0, Measured(p)};
}

void ExpectSameAnalysis(const ImageBlob& blob, const std::string& what) {
    const auto before = BlobBytes(blob);
    EXPECT_EQ(Analyse(blob, false), Analyse(blob, true)) << what;
    EXPECT_EQ(BlobBytes(blob), before) << what;
}

// Random pictures: casts of either sign in each channel, a raised black
// level, clipped highlights, odd sizes down to one pixel and one line.
TEST(AnalyseBlobFast, RandomBlobsGiveTheSameRecord) {
    TestHost host;
    std::mt19937 rng(2024);
    const std::pair<int, int> sizes[] = {{1, 1}, {1, 9}, {13, 1}, {7, 5}, {33, 17}, {64, 41}, {101, 67}};
    for (const auto& [w, h] : sizes) {
        for (int trial = 0; trial < 4; ++trial) {
            const int black = int(rng() % 40);
            int gain[3];
            for (int& g : gain) g = 700 + int(rng() % 600);  // per mille
            const int clip = trial % 2;  // half the trials put a tenth of the pixels at the top
            std::vector<int> base(size_t(w) * h * 3);
            for (int& v : base) v = int(rng() % 256);
            auto sample = [&](int x, int y, int c) {
                const size_t i = (size_t(y) * w + x) * 3 + c;
                if (clip && (x * 7 + y * 3) % 10 == 0) return 255;
                return std::min(255, black + base[i] * gain[c] / 1000);
            };
            const std::string what = std::to_string(w) + " x " + std::to_string(h) + " trial " +
                                     std::to_string(trial);
            BlobPtr b8 = MakeBlob<uint8_t>(w, h, [&](int x, int y, int c) { return uint8_t(sample(x, y, c)); });
            ExpectSameAnalysis(*b8, what + " 8-bit");
            BlobPtr b16 = MakeBlob<uint16_t>(w, h, [&](int x, int y, int c) {
                return uint16_t(std::min(65535, sample(x, y, c) * 257 + int(rng() % 257)));
            });
            ExpectSameAnalysis(*b16, what + " 16-bit");
        }
    }
}

// The same allocations in the same order: refusing the k-th request fails
// both forms alike (or lets both go on) and leaves the same record.
TEST(AnalyseBlobFast, RefusedBlocksGiveTheSameResults) {
    TestHost host;
    const test::Rgb8 photo = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 40);
    for (int wide = 0; wide < 2; ++wide) {
        BlobPtr blob = wide ? MakeBlob<uint16_t>(photo.width, photo.height,
                                                 [&](int x, int y, int c) { return uint16_t(photo.at(x, y)[c] * 257); })
                            : MakeBlob<uint8_t>(photo.width, photo.height,
                                                [&](int x, int y, int c) { return photo.at(x, y)[c]; });
        std::vector<Outcome> outcomes[2];
        for (int fast = 0; fast < 2; ++fast) {
            test::ForEachAllocationFailure(
                host,
                [&] {
                    outcomes[fast].push_back(Analyse(*blob, fast != 0));
                    return int64_t{outcomes[fast].back().result};
                },
                [](int64_t, int64_t) {});
        }
        EXPECT_EQ(outcomes[0], outcomes[1]) << "wide " << wide;
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
            ImageParam plain{}, fast{};
            for (ImageParam* p : {&plain, &fast})
                for (int m = 0; m < kTintModes; ++m)
                    for (int c = 0; c < 3; ++c) p->tintGains[m][c] = gains[m][c];
            ASSERT_TRUE(wide ? CollectBlobStatistics16Plain(blob, plain) : CollectBlobStatistics8Plain(blob, plain));
            ASSERT_TRUE(wide ? CollectBlobStatistics16Fast(blob, 0, fast) : CollectBlobStatistics8Fast(blob, 0, fast));
            EXPECT_EQ(Measured(plain), Measured(fast)) << "wide " << wide;
        }
    }
}

}  // namespace
}  // namespace lx
