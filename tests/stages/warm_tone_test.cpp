// SPDX-License-Identifier: MIT
#include "stages/warm_tone.h"

#include <gtest/gtest.h>

#include <array>
#include <limits>

#include "support/images.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace lx {
namespace {

using Px = std::array<int, 3>;
using test::TestHost;

template <class T>
Px Warm(Px p, float strength) {
    T s[3] = {T(p[0]), T(p[1]), T(p[2])};
    if constexpr (sizeof(T) == 1) WarmToneCorrect8(test::PixelView(s), strength);
    else WarmToneCorrect16(test::PixelView(s), strength);
    return {s[0], s[1], s[2]};
}
constexpr auto Warm8 = Warm<uint8_t>;
constexpr auto Warm16 = Warm<uint16_t>;

TEST(WarmTone, PinnedPixels) {
    struct Case { Px in; float strength; Px out; } cases[] = {
        {{200, 120, 80}, 1.0f, {200, 131, 94}},  // ratio 0.6: the full weight 0.35
        {{200, 120, 80}, 0.5f, {200, 125, 87}},
        {{200, 100, 110}, 1.0f, {200, 106, 111}},  // blue above green: half weight
        {{160, 96, 64}, 1.0f, {160, 100, 69}},     // brightness ramp at about half
        {{139, 105, 83}, 1.0f, {139, 105, 82}},    // 0.35000002, not 0.35, tips this one a level
    };
    for (const Case& c : cases) EXPECT_EQ(Warm8(c.in, c.strength), c.out) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    TestHost host;
    EXPECT_EQ(Warm16({51200, 30720, 20480}, 1.0f), (Px{51200, 33766, 24064}));
    EXPECT_EQ(Warm16({51200, 25600, 28160}, 1.0f), (Px{51200, 27183, 28453}));
    EXPECT_EQ(Warm16({41000, 24600, 16400}, 1.0f), (Px{41000, 25829, 17846}));
}

TEST(WarmTone, BoundaryPixelsAndZeroStrengthAreUntouched) {
    TestHost host;
    // R = 128, G/R exactly 0.35 and 0.85, greys, (G - B) / (R - G) exactly -0.2,
    // blue far above green.
    for (const Px& p : {Px{128, 77, 50}, Px{200, 70, 40}, Px{200, 170, 100}, Px{200, 200, 200}, Px{255, 255, 255},
                        Px{0, 0, 0}, Px{200, 100, 120}, Px{200, 100, 180}}) {
        EXPECT_EQ(Warm8(p, 1.0f), p) << p[0] << "," << p[1] << "," << p[2];
        const Px p16 = {p[0] * 256, p[1] * 256, p[2] * 256};
        EXPECT_EQ(Warm16(p16, 1.0f), p16) << p[0] << "," << p[1] << "," << p[2];
    }
    const test::Rgb8 img = test::LoadSample8("s08_sunset_warm.jpg", 64);
    const test::Rgb16 img16 = test::LoadSample16("s08_sunset_warm.jpg", 64);
    const int w = img.width, h = img.height;
    for (float s : {0.0f, std::numeric_limits<float>::quiet_NaN(), std::numeric_limits<float>::infinity()}) {
        test::Rgb8 a = img;
        test::Rgb16 b = img16;
        WarmToneCorrect8(test::View(&a.px[0], &a.px[1], &a.px[2], w, h, 3, 3 * w), s);
        WarmToneCorrect16(test::View(&b.px[0], &b.px[1], &b.px[2], w, h, 3, 3 * w), s);
        EXPECT_TRUE(a.px == img.px && b.px == img16.px) << "strength " << s;
    }
}

}  // namespace
}  // namespace lx
