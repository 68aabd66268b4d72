// SPDX-License-Identifier: MIT
#include "stages/sharpen_plane.h"

#include <gtest/gtest.h>

#include <random>
#include <vector>


namespace lx {
namespace {

void Sharpen8(float* p, int32_t w, int32_t h, float amount) { SharpenPlane8(Plane{p, w, h}, amount); }
void Sharpen16(float* p, int32_t w, int32_t h, float amount) { SharpenPlane16(Plane{p, w, h}, amount); }

const struct { void (*sharpen)(float*, int32_t, int32_t, float); float limit; } kVariants[] = {
    {Sharpen8, 255.0f}, {Sharpen16, 65280.0f}};

// Lines are walked 64 at a time; the result must be that of sharpening every
// row alone, then every column alone.
TEST(SharpenPlane, EqualsSharpeningEachLineAlone) {
    std::mt19937 rng(11);
    for (const auto& v : kVariants) {
        for (const auto& [w, h] : {std::pair{70, 67}, std::pair{130, 3}, std::pair{3, 130}}) {
            std::vector<float> plane(w * h), column(h);
            for (float& x : plane) x = float(rng() % 1000) / 999.0f * v.limit;
            std::vector<float> expected = plane;
            for (int y = 0; y < h; ++y) v.sharpen(&expected[y * w], w, 1, 1.3f);
            for (int x = 0; x < w; ++x) {
                for (int y = 0; y < h; ++y) column[y] = expected[y * w + x];
                v.sharpen(column.data(), 1, h, 1.3f);
                for (int y = 0; y < h; ++y) expected[y * w + x] = column[y];
            }
            v.sharpen(plane.data(), w, h, 1.3f);
            EXPECT_EQ(plane, expected) << w << " x " << h << ", limit " << v.limit;
        }
    }
}

// Weights sum to 1 and (side + centre) * e = 1 at the ends; amount 0 is exact.
// An inner sample sums (side x behind + centre x v) + side x ahead, in that
// order. On this 3 x 1 row (amount 0.7920, levels 61.76, 109.16, 223.36) the
// middle result of the two applications is 0x1.2d2258p+6; summing the last
// two terms first would give 0x1.2d225cp+6.
TEST(SharpenPlane, InnerSamplesSumInTheirOrder) {
    float row[3] = {0x1.ee147ap+5f, 0x1.b4a3d8p+6f, 0x1.beb852p+7f};
    SharpenPlane8(Plane{row, 3, 1}, 0x1.958106p-1f);
    EXPECT_EQ(row[0], 0x1.77dd62p+5f);
    EXPECT_EQ(row[1], 0x1.2d2258p+6f);
    EXPECT_EQ(row[2], 255.0f) << "clamped";
}

// A constant plane stays constant to the border; a vertical step edge
// overshoots on both sides, and a strong kernel drives the overshoot into
// the clamps 0 and the limit, while the row ends keep their level.
TEST(SharpenPlane, FlatAreasStayAndEdgesOvershootWithinTheClamps) {
    const int w = 40, h = 6;
    for (const auto& v : kVariants) {
        for (const float amount : {0.0f, 0.7f, 2.0f, 6.0f}) {
            std::vector<float> plane(66 * 70, 0.61f * v.limit);
            v.sharpen(plane.data(), 66, 70, amount);
            for (const float x : plane) ASSERT_NEAR(x, 0.61f * v.limit, amount * v.limit * 1e-6f) << amount;
        }
        const float dark = v.limit * 60.0f / 255.0f, bright = v.limit * 200.0f / 255.0f;
        for (const float amount : {0.5f, 3.0f}) {
            std::vector<float> plane(w * h);
            for (int i = 0; i < w * h; ++i) plane[i] = i % w < w / 2 ? dark : bright;
            v.sharpen(plane.data(), w, h, amount);
            for (const float* row = plane.data(); row < plane.data() + w * h; row += w) {
                const float below = row[w / 2 - 1], above = row[w / 2];
                EXPECT_TRUE(amount > 1.0f ? below == 0.0f : below > 0.0f && below < dark * 0.9f) << below;
                EXPECT_TRUE(amount > 1.0f ? above == v.limit : above > bright * 1.05f && above < v.limit) << above;
                EXPECT_NEAR(row[0], dark, dark * 1e-5f);
                EXPECT_NEAR(row[w - 1], bright, bright * 1e-5f);
            }
        }
    }
}

}  // namespace
}  // namespace lx
