// SPDX-License-Identifier: MIT
#include "stages/sharpen_plane.h"

#include <gtest/gtest.h>

namespace lx {
namespace {

// Weights sum to 1 and (side + centre) * e = 1 at the ends; amount 0 is exact.
// An inner sample sums (side x behind + centre x v) + side x ahead, in that
// order. On this 3 x 1 row (amount 0.7920, levels 61.76, 109.16, 223.36) the
// middle result of the two applications is 0x1.2d2258p+6; summing the last
// two terms first would give 0x1.2d225cp+6. A strong kernel drives a dip to
// 0 and a peak to the limit (255 or 65280), in rows and in columns.
TEST(SharpenPlane, InnerSamplesSumInTheirOrderWithinTheClamps) {
    float row[3] = {0x1.ee147ap+5f, 0x1.b4a3d8p+6f, 0x1.beb852p+7f};
    SharpenPlane8(Plane{row, 3, 1}, 0x1.958106p-1f);
    EXPECT_EQ(row[0], 0x1.77dd62p+5f);
    EXPECT_EQ(row[1], 0x1.2d2258p+6f);
    EXPECT_EQ(row[2], 255.0f) << "clamped";
    float same[4] = {10.0f, 200.0f, 30.0f, 90.0f};
    SharpenPlane8(Plane{same, 2, 2}, 0.0f);
    EXPECT_TRUE(same[0] == 10.0f && same[1] == 200.0f && same[2] == 30.0f && same[3] == 90.0f);
    for (const bool wide : {false, true}) {
        const float top = wide ? 65280.0f : 255.0f, dip[4] = {0.8f * top, 0.1f * top, 0.8f * top, 0.8f * top};
        for (const bool column : {false, true}) {
            float p[4] = {dip[0], dip[1], dip[2], dip[3]}, q[4] = {0.2f * top, 0.9f * top, 0.2f * top, 0.2f * top};
            const Plane a{p, column ? 1 : 4, column ? 4 : 1}, b{q, column ? 1 : 4, column ? 4 : 1};
            wide ? SharpenPlane16(a, 6.0f) : SharpenPlane8(a, 6.0f);
            wide ? SharpenPlane16(b, 6.0f) : SharpenPlane8(b, 6.0f);
            EXPECT_TRUE(p[1] == 0.0f && q[1] == top) << p[1] << ", " << q[1] << ", limit " << top;
        }
    }
}

}  // namespace
}  // namespace lx
