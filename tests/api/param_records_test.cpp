// SPDX-License-Identifier: MIT
// The two-phase interface end to end: blob, analysis record, apply calls.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "analysis/image_param.h"
#include "lumarex/lumarex.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace {

using lx::test::TestHost;

using lx::test::Photo;

// Every setting at a typical value; the strong curve and sharpening on.
int32_t Apply(ImageDesc& d, const ImageBlob* blob, ImageParam* p, int32_t* strength, ProgressCallback cb = nullptr,
              void* ctx = nullptr) {
    return ApplyImageBlobParam(&d, blob, p, 0, 0, 1.0f, 1, 1, 1.0f, 1, 2, 1, 1, 100, strength, 1, 0.05f, 1, 12, 1,
                               0.5f, 1, 1.0f, 1, 0, 0.5f, 1, 0, 1, 0, 0, 0, 0, -1, -1, 0, cb, ctx);
}

TEST(TwoPhase, AnalyseOnceApplyManyTimes) {
    TestHost host;
    for (bool wide : {false, true}) {
        Photo photo = lx::test::LoadBacklitRoom(wide, 160);
        ImageDesc in = photo.desc();
        ImageBlob* blob = AllocImageBlob(&in);
        ImageParam* param = CalcImageBlobParam(blob, nullptr, nullptr);
        ASSERT_NE(param, nullptr);
        EXPECT_EQ(param->baseMapValid, 1);
        EXPECT_EQ(param->width, photo.w);

        Photo out1 = photo, out2 = photo;
        ImageDesc d1 = out1.desc(), d2 = out2.desc();
        int32_t strength = 0;
        ASSERT_EQ(Apply(d1, blob, param, &strength), 0);
        EXPECT_GT(strength, 0) << "the tone level of the record is written back";
        ASSERT_EQ(Apply(d2, blob, param, &strength), 0);
        EXPECT_EQ(out1.px, out2.px) << "the same record gives the same result";
        EXPECT_NE(out1.px, photo.px);

        // A region, the size of its destination, placed at (8, 4).
        Photo crop{40, 30, photo.bytes, std::vector<uint8_t>(size_t(40) * 30 * 3 * photo.bytes)};
        ImageDesc dc = crop.desc();
        EXPECT_EQ(ApplyImageBlobParamLocal(&dc, blob, param, 0, 0, 1.0f, 8, 4, 40, 30, 1, 1, 1.0f, 1, 2, 1, 1, 100,
                                           &strength, 1, 0.05f, 0, 12, 0, 1.0f, 0, 1.0f, 0, 0, 1.0f, 0, 0, 0, 0, 0,
                                           0, 0, -1, -1, 0, nullptr, nullptr),
                  1);
        FreeImageParam(param);
        FreeImageBlob(blob);
        EXPECT_EQ(host.live(), 0);
    }
}

TEST(TwoPhase, UnknownOutputTypesAreRefusedWithoutWriting) {
    TestHost host;
    Photo photo = lx::test::LoadBacklitRoom(false, 64);
    ImageDesc in = photo.desc();
    ImageBlob* blob = AllocImageBlob(&in);
    ImageParam* param = CalcImageBlobParam(blob, nullptr, nullptr);
    ASSERT_NE(param, nullptr);
    Photo out = photo;
    std::fill(out.px.begin(), out.px.end(), uint8_t(7));
    ImageDesc d = out.desc();
    d.sampleType = 2;
    int32_t strength = 50;
    EXPECT_EQ(Apply(d, blob, param, &strength), -1);
    EXPECT_EQ(ApplyImageBlobParamLocal(&d, blob, param, 0, 0, 1.0f, 0, 0, 1, 1, 0, 0, 1.0f, 0, 0, 0, 0, 100,
                                       &strength, 0, 0.0f, 0, 12, 0, 0.0f, 0, 0.0f, 0, 0, 0.0f, 0, 0, 0, 0, 0, 0, 0,
                                       -1, -1, 0, nullptr, nullptr),
              0);
    EXPECT_TRUE(std::all_of(out.px.begin(), out.px.end(), [](uint8_t v) { return v == 7; }));
    FreeImageParam(param);
    FreeImageBlob(blob);
}

int32_t StopAtOnce(int32_t, int32_t, void*) { return 1; }

TEST(TwoPhase, AnalysisStoppedOrShortOfMemoryLeavesNothing) {
    TestHost host;
    for (bool wide : {false, true}) {
        Photo photo = lx::test::LoadBacklitRoom(wide, 48);
        ImageDesc in = photo.desc();
        ImageBlob* blob = AllocImageBlob(&in);
        host.Reset();
        EXPECT_EQ(CalcImageBlobParam(blob, StopAtOnce, nullptr), nullptr);
        EXPECT_EQ(host.live(), 1) << "only the blob";
        lx::test::ForEachAllocationFailure(
            host,
            [&]() -> int64_t {
                ImageParam* p = CalcImageBlobParam(blob, nullptr, nullptr);
                FreeImageParam(p);
                return p != nullptr;
            },
            [&](int64_t k, int64_t made) {
                // Only the 16-bit cast analysis may lose its memory and still
                // give a record (without cast correction), and so may the
                // statistics' knee table (8-bit allocation 21; no tone levels).
                if (!wide) {
                    EXPECT_EQ(made, k == 21 ? 1 : 0) << "allocation " << k;
                }
            });
        FreeImageBlob(blob);
    }
}

}  // namespace
