// SPDX-License-Identifier: MIT
#include "stages/sharpen_plane.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace lx {
namespace {

using SharpenFn = void (*)(float*, int32_t, int32_t, float);
struct Variant { SharpenFn fn; float limit; };
const Variant kVariants[] = {{SharpenPlane8, 255.0f}, {SharpenPlane16, 65280.0f}};

// One application to a line from a copy of its values before the walk, and
// the walk order's sums: the reference for the stage's in-place lockstep walks.
void ApplyReference(float* v, int32_t n, ptrdiff_t step, float s, float limit) {
    const float sum = (s * -0.25f + 0.0f) + (s * 0.5f + 1.0f) + s * -0.25f;
    const float side = (s * -0.25f) / sum, centre = (s * 0.5f + 1.0f) / sum;
    const float e = 1.0f / (side + 0.0f + centre);
    auto clamp = [&](float x) { return x > limit ? limit : (x < 0.0f ? 0.0f : x); };
    std::vector<float> old(n);
    for (int32_t j = 0; j < n; ++j) old[j] = v[j * step];
    v[0] = clamp((side * old[1] + centre * old[0]) * e);
    for (int32_t j = 1; j + 1 < n; ++j) v[j * step] = clamp((side * old[j - 1] + centre * old[j]) + side * old[j + 1]);
    v[(n - 1) * step] = clamp((side * old[n - 2] + centre * old[n - 1]) * e);
}

void SharpenReference(std::vector<float>& p, int32_t w, int32_t h, float s, float limit) {
    for (int32_t y = 0; y < h && w > 1; ++y) {
        ApplyReference(&p[y * w], w, 1, s, limit);
        ApplyReference(&p[y * w + w - 1], w, -1, s, limit);
    }
    for (int32_t x = 0; x < w && h > 1; ++x) {
        ApplyReference(&p[x], h, w, s, limit);
        ApplyReference(&p[(h - 1) * w + x], h, -w, s, limit);
    }
}

TEST(SharpenPlane, MatchesLineByLineSharpeningBitForBit) {
    std::mt19937 rng(11);
    const struct { int32_t w, h; } sizes[] = {{1, 1}, {9, 1}, {1, 9}, {2, 2}, {70, 67}, {130, 3}, {3, 130}};
    for (const Variant& v : kVariants) {
        std::uniform_real_distribution<float> dist(0.0f, v.limit);
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << s.w << " x " << s.h << ", limit " << v.limit);
            std::vector<float> plane(size_t(s.w) * s.h);
            for (float& x : plane) x = dist(rng);
            std::vector<float> expected = plane;
            SharpenReference(expected, s.w, s.h, 1.3f, v.limit);
            v.fn(plane.data(), s.w, s.h, 1.3f);
            EXPECT_EQ(plane, expected);
        }
    }
}

TEST(SharpenPlane, ConstantPlaneStaysConstantAndZeroAmountChangesNothing) {
    for (const Variant& v : kVariants) {
        for (const float amount : {0.7f, 2.0f, 6.0f}) {
            std::vector<float> plane(66 * 70, 0.61f * v.limit);
            v.fn(plane.data(), 66, 70, amount);
            for (const float x : plane) ASSERT_NEAR(x, 0.61f * v.limit, v.limit * 1e-6f) << amount;
        }
        std::vector<float> plane(30 * 20);
        for (size_t i = 0; i < plane.size(); ++i) plane[i] = float(i * 7919 % 256) / 255.0f * v.limit;
        const std::vector<float> before = plane;
        v.fn(plane.data(), 30, 20, 0.0f);
        EXPECT_EQ(plane, before);
    }
}

// A vertical step edge overshoots on both sides; a strong kernel drives the
// overshoot into the clamps 0 and the limit.
TEST(SharpenPlane, StepEdgeOvershootIsClamped) {
    const int32_t w = 40, h = 6;
    for (const Variant& v : kVariants) {
        const float dark = v.limit * 60.0f / 255.0f, bright = v.limit * 200.0f / 255.0f;
        for (const float amount : {0.5f, 3.0f}) {
            SCOPED_TRACE(testing::Message() << "limit " << v.limit << ", amount " << amount);
            std::vector<float> plane(w * h);
            for (int32_t i = 0; i < w * h; ++i) plane[i] = i % w < w / 2 ? dark : bright;
            v.fn(plane.data(), w, h, amount);
            for (int32_t y = 0; y < h; ++y) {
                const float* row = &plane[y * w];
                if (amount > 1.0f) {
                    EXPECT_EQ(row[w / 2 - 1], 0.0f);
                    EXPECT_EQ(row[w / 2], v.limit);
                } else {
                    EXPECT_LT(row[w / 2 - 1], dark * 0.9f);
                    EXPECT_GT(row[w / 2], bright * 1.05f);
                    EXPECT_LT(row[w / 2], v.limit);
                }
                EXPECT_NEAR(row[0], dark, dark * 1e-5f);
                EXPECT_NEAR(row[w - 1], bright, bright * 1e-5f);
                for (int32_t x = 0; x < w; ++x) ASSERT_TRUE(row[x] >= 0.0f && row[x] <= v.limit);
            }
        }
    }
}

}  // namespace
}  // namespace lx
