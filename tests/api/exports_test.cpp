// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "analysis/image_param.h"
#include "api/sample_base_map.h"
#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace {

using lx::test::TestHost;

TEST(Exports, NeedTintCorrectionReadsRecordWords) {
    EXPECT_EQ(NeedTintCorrection(nullptr, 0), 0);
    ImageParam p{};
    p.needTint[2] = 1;
    p.blackLevel = 17;
    EXPECT_EQ(NeedTintCorrection(&p, 2), 1);
    EXPECT_EQ(NeedTintCorrection(&p, 1), 0);
    EXPECT_EQ(NeedTintCorrection(&p, 16), 17) << "word 16 is blackLevel, after 4 flags and 12 gains";
    for (int32_t outside : {-1, int32_t(sizeof(ImageParam) / 4), INT32_MAX, INT32_MIN})
        EXPECT_EQ(NeedTintCorrection(&p, outside), 0) << "words outside the record read as 0: " << outside;
}

TEST(Exports, SampleBaseMapIsBilinearAndRepeatsTheEdges) {
    TestHost host;
    lx::HostBuffer map = lx::HostBuffer::Allocate(6 * sizeof(float));
    const float v[6] = {0, 1, 2, 10, 11, 12};  // 3 x 2: 0 1 2 / 10 11 12
    std::copy(v, v + 6, map.data<float>());
    const auto At = [&](float scale, int ox, int oy, int x, int y) {
        return lx::SampleBaseMap(map.get(), scale, 3, 2, ox, oy, x, y);
    };
    EXPECT_EQ(At(1.0f, 0, 0, 1, 1), 11.0f);
    EXPECT_EQ(At(2.0f, 0, 0, 1, 1), 5.5f) << "(0.5, 0.5) is the mean of the first four samples";
    EXPECT_EQ(At(2.0f, 1, 0, 2, 0), 1.5f) << "offsets are added before scaling";
    EXPECT_EQ(At(1.0f, 0, 0, 7, 0), 2.0f) << "beyond the last column";
    EXPECT_EQ(At(1.0f, 0, 0, 2, 9), 12.0f) << "beyond the last row";
    EXPECT_EQ(At(1.0f, -5, -5, 0, 0), 0.0f) << "far before the first sample: clamped";
    EXPECT_EQ(At(2.0f, -1, 0, 0, 0), -0.5f) << "between -1 and 0 the weights extrapolate";
    EXPECT_EQ(At(0.0f, 0, 0, 1, 1), 0.0f) << "scale 0: no finite coordinate";
    EXPECT_EQ(At(1e-30f, 0, 0, 1, 1), 12.0f) << "huge coordinates saturate to the last sample";
    EXPECT_EQ(At(1.0f, INT32_MAX, INT32_MAX, 2, 1), 12.0f) << "offset plus position past int32: no wrap to the start";
    EXPECT_EQ(At(1.0f, INT32_MIN, INT32_MIN, 0, 0), 0.0f);
    EXPECT_EQ(lx::SampleBaseMap(nullptr, 1.0f, 3, 2, 0, 0, 0, 0), 0.0f);
}

}  // namespace
