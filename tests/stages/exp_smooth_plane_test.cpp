// SPDX-License-Identifier: MIT
#include "stages/exp_smooth_plane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <random>
#include <vector>

namespace lx {
namespace {

float Decay(float radius) { return std::exp(-1.0f / (0.5f * radius)); }

std::vector<float> Norm(int32_t n, float a) {
    std::vector<float> norm(n);
    BuildSmoothNorm(norm.data(), n, a);
    return norm;
}

// One line, one sample at a time, straight from the definition of the two
// passes: the reference for the lockstep walks of the stage.
void SmoothLineReference(float* v, int32_t n, ptrdiff_t step, const float* norm, float a) {
    std::vector<float> y(n), z(n);
    y[0] = v[0];
    for (int32_t i = 0; i + 1 < n; ++i) y[i + 1] = v[(i + 1) * step] + a * y[i];
    for (int32_t i = 0; i < n; ++i) v[i * step] = y[i] * norm[i];
    z[n - 1] = v[(n - 1) * step];
    for (int32_t j = n - 2; j >= 0; --j) z[j] = v[j * step] + a * z[j + 1];
    for (int32_t j = 0; j < n; ++j) v[j * step] = z[j] * norm[n - 1 - j];
}

TEST(SmoothNorm, EntriesAreReciprocalsOfWeightSums) {
    const float a = Decay(6.0f);
    EXPECT_EQ(Norm(1, a), std::vector<float>{1.0f});
    EXPECT_EQ(Norm(2, a), (std::vector<float>{1.0f, 1.0f / (1.0f + a)}));
    std::vector<float> norm(40, -1.0f);
    BuildSmoothNorm(norm.data(), 37, a);
    double sum = 0.0;
    for (int i = 0; i < 37; ++i) {
        sum += std::pow(double(a), i);
        EXPECT_NEAR(norm[i], 1.0 / sum, 1e-6 / sum) << i;
    }
    EXPECT_EQ(norm[37], -1.0f) << "nothing is written beyond n";
}

// Every size class: one row, one column, a plane of one sample, and planes
// whose lines do not fill the 64-line lockstep groups.
TEST(ExpSmoothPlane, MatchesLineByLineSmoothingBitForBit) {
    std::mt19937 rng(3);
    std::uniform_real_distribution<float> dist(0.0f, 255.0f);
    const struct { int32_t w, h; } sizes[] = {{1, 1}, {9, 1}, {1, 9}, {2, 2}, {70, 67}, {130, 3}, {3, 130}};
    for (const auto& s : sizes) {
        SCOPED_TRACE(testing::Message() << s.w << " x " << s.h);
        const float a = Decay(5.0f);
        const std::vector<float> norm = Norm(std::max(s.w, s.h), a);
        std::vector<float> plane(size_t(s.w) * s.h);
        for (float& v : plane) v = dist(rng);
        std::vector<float> expected = plane;
        if (s.w > 1)
            for (int32_t y = 0; y < s.h; ++y) SmoothLineReference(&expected[y * s.w], s.w, 1, norm.data(), a);
        if (s.h > 1)
            for (int32_t x = 0; x < s.w; ++x) SmoothLineReference(&expected[x], s.h, s.w, norm.data(), a);
        ExpSmoothPlane(plane.data(), s.w, s.h, norm.data(), a);
        EXPECT_EQ(plane, expected);
    }
}

TEST(ExpSmoothPlane, ConstantPlaneStaysConstantToTheBorder) {
    for (const float radius : {0.5f, 3.0f, 40.0f}) {
        const int32_t w = 71, h = 66;
        const float a = Decay(radius);
        const std::vector<float> norm = Norm(w, a);
        std::vector<float> plane(w * h, 187.5f);
        ExpSmoothPlane(plane.data(), w, h, norm.data(), a);
        for (int32_t i = 0; i < w * h; ++i) ASSERT_NEAR(plane[i], 187.5f, 187.5f * 2e-6f) << radius << ", " << i;
    }
}

TEST(ExpSmoothPlane, ZeroDecayReturnsThePlane) {
    std::vector<float> plane = {3.0f, 250.0f, 0.0f, 17.25f, 1e-3f, 99.0f};
    const std::vector<float> before = plane;
    const std::vector<float> norm = Norm(3, 0.0f);
    ExpSmoothPlane(plane.data(), 3, 2, norm.data(), 0.0f);
    EXPECT_EQ(plane, before);
}

// A single bright sample in a long row spreads symmetrically; near the ends
// the normalisation raises the weights of the samples that remain.
TEST(ExpSmoothPlane, ImpulseSpreadsSymmetrically) {
    const int32_t n = 201, mid = 100;
    const float a = Decay(8.0f);
    const std::vector<float> norm = Norm(n, a);
    std::vector<float> row(n, 0.0f);
    row[mid] = 1000.0f;
    ExpSmoothPlane(row.data(), n, 1, norm.data(), a);
    for (int k = 1; k < 60; ++k) {
        EXPECT_NEAR(row[mid - k], row[mid + k], row[mid] * 1e-8f) << k;
        EXPECT_LT(row[mid + k], row[mid + k - 1]) << k;
    }
}

}  // namespace
}  // namespace lx
