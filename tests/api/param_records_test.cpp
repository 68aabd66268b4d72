// SPDX-License-Identifier: MIT
// The two-phase interface end to end: blob, analysis record, apply calls.
#include <gtest/gtest.h>

#include <vector>

#include "analysis/image_param.h"
#include "lumarex/lumarex.h"
#include "lumarex_calls.h"
#include "support/images.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx::test {
namespace {

using namespace lumarex_calls;

// Every setting at a typical value; the strong curve and sharpening on.
ApplyArgs Typical(int32_t* strength) {
    ApplyArgs a;
    a.useVariant = 1, a.tintMode = 1, a.useShadowClip = 1, a.shadowClipIndex = 2;
    a.useToneLevel = 1, a.toneLevelRow = 1, a.toneStrength = strength, a.localContrast = 1, a.curveAmount = 0.05f;
    a.strongCurve = 1, a.colorMode = 1, a.colorAmount = 0.5f, a.sharpen = 1, a.sharpenAmount = 1.0f;
    a.warmTone = 1, a.warmToneStrength = 0.5f, a.colorCube = 1, a.cubeAlsoC = 1;
    return a;
}

TEST(TwoPhase, AnalyseOnceApplyManyTimes) {
    TestHost host;
    for (bool wide : {false, true}) {
        Photo photo = LoadBacklitRoom(wide, 160);
        const ImageDesc in = photo.desc();
        {
            const BlobPtr blob(AllocImageBlob(&in));
            const ParamPtr param(CalcImageBlobParam(blob.get(), nullptr, nullptr));
            ASSERT_NE(param, nullptr);
            EXPECT_EQ(param->baseMapValid, 1);
            EXPECT_EQ(param->width, photo.w);

            Photo out1 = photo, out2 = photo;
            int32_t strength = 0;
            ASSERT_EQ(Apply(out1.desc(), blob.get(), param.get(), Typical(&strength)), 0);
            EXPECT_GT(strength, 0) << "the tone level of the record is written back";
            ASSERT_EQ(Apply(out2.desc(), blob.get(), param.get(), Typical(&strength)), 0);
            EXPECT_EQ(out1.px, out2.px) << "the same record gives the same result";
            EXPECT_NE(out1.px, photo.px);

            // A region, the size of its destination, placed at (8, 4).
            Photo crop{40, 30, photo.bytes, std::vector<uint8_t>(size_t(40) * 30 * 3 * photo.bytes)};
            ApplyArgs a = Typical(&strength);
            a.strongCurve = 0, a.colorMode = 0, a.sharpen = 0, a.warmTone = 0, a.colorCube = 0, a.cubeAlsoC = 0;
            EXPECT_EQ(ApplyLocal(crop.desc(), blob.get(), param.get(), {8, 4, 40, 30}, a), 1);
        }
        EXPECT_EQ(host.live(), 0);
    }
}

}  // namespace
}  // namespace lx::test
