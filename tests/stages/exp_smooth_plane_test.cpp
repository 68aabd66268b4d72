// SPDX-License-Identifier: MIT
#include "stages/exp_smooth_plane_twins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

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

}  // namespace
}  // namespace lx
