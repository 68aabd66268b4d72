// SPDX-License-Identifier: MIT
// The float plane filters: exponential smoothing and sharpening.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

#include "stages/exp_smooth_plane_twins.h"
#include "stages/sharpen_plane.h"
#include "support/simd_targets.h"

namespace lx {
namespace {

std::vector<float> Norm(int32_t n, float a) {
    std::vector<float> norm(n);
    BuildSmoothNorm(norm.data(), n, a);
    return norm;
}

// The normalisation keeps a constant plane constant up to the border, at
// every radius and on planes of one row or one column.
TEST(ExpSmoothPlane, ConstantPlaneStaysConstantToTheBorder) {
    for (const float radius : {0.5f, 3.0f, 40.0f}) {
        const float a = std::exp(-1.0f / (0.5f * radius));
        for (const auto& [w, h] : {std::pair{71, 66}, std::pair{1, 9}, std::pair{9, 1}}) {
            std::vector<float> plane(w * h, 187.5f);
            ExpSmoothPlane(Plane{plane.data(), w, h}, Norm(std::max(w, h), a).data(), a);
            for (const float v : plane) ASSERT_NEAR(v, 187.5f, 187.5f * 2e-6f) << radius << ", " << w << " x " << h;
        }
    }
}

// The SIMD forms against the plain ones, bit for bit, on every target: sizes
// around the vector lengths, the 16-row groups and the squares of 4, 8 or 16
// columns, and planes of one row or one column; the whole filter and its row
// half alone. (The column steps callers walk themselves are compared through
// the streamed contrast map in local_contrast_map_test.)
TEST(ExpSmoothPlane, FastFormMatchesThePlainOne) {
    std::mt19937 rng(5);
    const std::pair<int32_t, int32_t> sizes[] = {{1, 1},  {1, 37}, {37, 1},  {17, 16}, {64, 16},  {65, 33},
                                                 {15, 70}, {130, 47}, {257, 19}, {300, 18}, {8, 260}};
    test::ForEachSimdTarget([&](const std::string& target) {
        for (const auto& [w, h] : sizes)
            for (const float a : {0.0f, 0.5f, 0.98450f}) {
                std::vector<float> plain(size_t(w) * h);
                for (float& v : plain) v = float(rng() % 100000) / 97.0f - 300.0f;
                std::vector<float> fast = plain, rowsPlain = plain, rowsFast = plain;
                const std::vector<float> norm = Norm(std::max(w, h), a);
                ExpSmoothPlanePlain(Plane{plain.data(), w, h}, norm.data(), a);
                ExpSmoothPlaneFast(Plane{fast.data(), w, h}, norm.data(), a);
                ASSERT_EQ(plain, fast) << target << ": " << w << " x " << h << ", a " << a;
                ExpSmoothRowsPlain(Plane{rowsPlain.data(), w, h}, norm.data(), a);
                ExpSmoothRowsFast(Plane{rowsFast.data(), w, h}, norm.data(), a);
                ASSERT_EQ(rowsPlain, rowsFast) << target << ": rows of " << w << " x " << h << ", a " << a;
            }
    });
}

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
