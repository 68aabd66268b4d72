// SPDX-License-Identifier: MIT
#include "stages/color_restore_twins.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <limits>
#include <optional>
#include <vector>
#include <string>
#include <random>

#include "support/sample_images.h"
#include "support/simd_targets.h"

namespace lx {
namespace {

using Px = std::array<int, 3>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// One pixel through ColorRestore8 (no tone), ColorRestoreTone8 or
// ColorRestoreTone16 (wide).
Px Restore8(Px p, int mode, float amount, std::optional<float> tone = std::nullopt, bool wide = false) {
    uint8_t s[3] = {uint8_t(p[0]), uint8_t(p[1]), uint8_t(p[2])};
    uint16_t s16[3] = {uint16_t(p[0]), uint16_t(p[1]), uint16_t(p[2])};
    if (wide) ColorRestoreTone16(test::PixelView(s16), &*tone, mode, amount);
    else if (tone) ColorRestoreTone8(test::PixelView(s), &*tone, mode, amount);
    else ColorRestore8(test::PixelView(s), mode, amount);
    return wide ? Px{s16[0], s16[1], s16[2]} : Px{s[0], s[1], s[2]};
}
Px Restore16(Px p, int mode, float amount, float tone) { return Restore8(p, mode, amount, tone, true); }

// The brightest channel of every pixel: a tone plane that asks for no rescaling.
template <class T>
std::vector<float> MaxPlane(const test::Rgb<T>& img) {
    std::vector<float> tone(img.px.size() / 3);
    for (size_t i = 0; i < tone.size(); ++i) {
        tone[i] = float(std::max({img.px[3 * i], img.px[3 * i + 1], img.px[3 * i + 2]}));
    }
    return tone;
}

TEST(ColorRestoreTables, FixedTablesAreSmoothWithTheirAnchors) {
    // A mistyped digit or sign in the hand-tuned runs shows up as a jump.
    for (int i = 1; i < 256; ++i) {
        EXPECT_EQ(kContrastDB[255 - i], -kContrastDB[i]) << "DB is odd, level " << i;
        EXPECT_TRUE(kRetentionKA[i] <= kRetentionKA[i - 1] && kRetentionKA[i - 1] - kRetentionKA[i] < 0.001f) << i;
        EXPECT_LT(std::fabs(kContrastDB[i] - kContrastDB[i - 1]), 0.0039f) << i;
        EXPECT_LT(std::fabs(kContrastDC[i] - kContrastDC[i - 1]), 0.0039f) << i;
    }
}

TEST(ColorRestore, UnknownModesAndNonFiniteAmountsChangeNothing) {
    const test::Rgb8 img = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 48);
    const test::Rgb16 img16 = test::LoadSample16("s01_tungsten_indoor_wine.jpg", 48);
    const std::vector<float> tone8 = MaxPlane(img), tone16 = MaxPlane(img16);
    const int w = img.width, h = img.height;
    const std::pair<int, float> cases[] = {{0, 1.0f}, {-1, 1.0f}, {4, 1.0f}, {INT_MIN, 1.0f}, {INT_MAX, 0.5f},
                                           {1, kNaN}, {2, kInf}, {3, -kInf}};
    for (auto [mode, amount] : cases) {
        test::Rgb8 a = img, b = img;
        test::Rgb16 c = img16;
        uint8_t *pa = a.px.data(), *pb = b.px.data();
        uint16_t* pc = c.px.data();
        ColorRestore8(test::View(pa, pa + 1, pa + 2, w, h, 3, 3 * w), mode, amount);
        ColorRestoreTone8(test::View(pb, pb + 1, pb + 2, w, h, 3, 3 * w), tone8.data(), mode, amount);
        ColorRestoreTone16(test::View(pc, pc + 1, pc + 2, w, h, 3, 3 * w), tone16.data(), mode, amount);
        EXPECT_TRUE(a.px == img.px && b.px == img.px && c.px == img16.px) << "mode " << mode;
    }
    ColorRestore8(test::View<uint8_t>(nullptr, nullptr, nullptr, 0, 5, 3, 0), 1, 1.0f);  // empty: nothing read
    ColorRestoreTone16(test::View<uint16_t>(nullptr, nullptr, nullptr, 5, -1, 3, 15), nullptr, 1, 1.0f);
}

TEST(ColorRestore, GreysStayGreyAndFollowTheCurve) {
    for (int mode = 1; mode <= 3; ++mode)
        for (float amount : {0.5f, 1.0f, 2.0f})
            for (int g = 0; g < 256; ++g)
                for (const Px& o : {Restore8({g, g, g}, mode, amount), Restore8({g, g, g}, mode, amount, 0.8f * g),
                                    Restore16({g * 257, g * 257, g * 257}, mode, amount, 200.0f * g)})
                    ASSERT_TRUE(o[0] == o[1] && o[1] == o[2]) << "mode " << mode << " amount " << amount << " g " << g;
    // Curve B darkens shadows and lifts highlights; C lifts the mid-tones.
    EXPECT_LT(Restore8({40, 40, 40}, 1, 1.0f)[0], 40);
    EXPECT_GT(Restore8({200, 200, 200}, 1, 1.0f)[0], 200);
    EXPECT_GT(Restore8({128, 128, 128}, 3, 1.0f)[0], 128);
}

// 16 bit: levels between table entries are interpolated; 65280 is full scale.
TEST(ColorRestore, PinnedPixels) {
    struct Case { Px in; int mode; float amount; std::optional<float> tone; Px out; bool wide; } cases[] = {
        {{200, 100, 60}, 1, 1.0f, {}, {206, 120, 85}, false},  // weaker channels pulled up towards red
        {{200, 100, 60}, 2, 1.0f, {}, {206, 112, 74}, false},  // half the red weight
        {{200, 100, 60}, 3, 1.0f, {}, {208, 122, 87}, false},
        {{90, 100, 40}, 1, 1.0f, {}, {86, 95, 42}, false},     // red at 90 %
        {{255, 0, 0}, 1, 1.0f, {}, {254, 24, 24}, false},
        {{20, 20, 20}, 1, 1.0f, {}, {7, 7, 7}, false},
        {{200, 100, 60}, 1, 0.5f, 150.0f, {152, 82, 53}, false},
        {{50000, 30000, 12345}, 1, 1.0f, 50000.0f, {51927, 34862, 19799}, true},
        {{50000, 30000, 12345}, 3, 1.0f, 45000.0f, {47215, 31857, 18300}, true},
        {{40000, 39000, 12000}, 2, 0.8f, 41000.0f, {41669, 40709, 14789}, true},
        {{12345, 23456, 34567}, 1, 1.0f, 30000.0f, {10780, 20483, 30185}, true},
        {{65535, 65535, 65535}, 1, 1.0f, 65535.0f, {65280, 65280, 65280}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Restore8(c.in, c.mode, c.amount, c.tone, c.wide), c.out) << c.in[0] << " mode " << c.mode;
}

TEST(ColorRestore, ToneRescalesAndGuardsItsRatio) {
    const test::Rgb8 img = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 64);
    const std::vector<float> tone = MaxPlane(img);
    const int w = img.width, h = img.height;
    for (int mode = 1; mode <= 3; ++mode) {  // tone = brightest channel: v = 1, exactly ColorRestore8
        test::Rgb8 a = img, b = img;
        uint8_t *pa = a.px.data(), *pb = b.px.data();
        ColorRestore8(test::View(pa, pa + 1, pa + 2, w, h, 3, 3 * w), mode, 0.7f);
        ColorRestoreTone8(test::View(pb, pb + 1, pb + 2, w, h, 3, 3 * w), tone.data(), mode, 0.7f);
        EXPECT_TRUE(a.px == b.px && a.px != img.px) << "mode " << mode;
    }
    struct Case { Px in; float tone; Px out8; Px out16; } cases[] = {
        {{200, 100, 60}, 0.0f, {0, 0, 0}, {0, 0, 0}},     {{200, 100, 60}, -50.0f, {0, 0, 0}, {0, 0, 0}},
        {{200, 100, 60}, kNaN, {0, 0, 0}, {0, 0, 0}},     {{0, 0, 0}, 100.0f, {0, 0, 0}, {0, 0, 0}},
        {{200, 100, 60}, 1e30f, {255, 255, 255}, {65280, 65280, 65280}},
        {{200, 100, 60}, kInf, {255, 255, 255}, {65280, 65280, 65280}},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Restore8(c.in, 1, 1.0f, c.tone), c.out8) << "tone " << c.tone;
        const Px in16 = {c.in[0] * 256, c.in[1] * 256, c.in[2] * 256};
        EXPECT_EQ(Restore16(in16, 1, 1.0f, c.tone * 256.0f), c.out16) << "tone " << c.tone;
    }
}

// The SIMD form against the plain one, 8 and 16-bit, with and without a
// tone plane, every mode, a large amount, and amounts whose retention
// products leave the int32 range (truncated with saturation): runs of pixels whose red is
// below 80 % of their brightest channel (which skip the red weights), runs
// of red-dominated ones, red at exactly 80 % and one level either side,
// black pixels, and runs that mix them; odd widths.
TEST(ColorRestore, FastFormMatchesThePlainOne) {
    std::mt19937 rng(21);
    for (const int32_t w : {1, 7, 16, 33, 100, 257}) {
        const int32_t h = 7;
        std::vector<uint16_t> px16(size_t(w) * h * 3);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                uint16_t* p = &px16[(size_t(y) * w + x) * 3];
                // Every fifth brightest channel above 65280, where the 16-bit
                // tables are read at their last entry.
                const uint16_t m = uint16_t(x % 5 == 4 ? 65280 + rng() % 256 : rng() % 65281);
                const uint16_t g = uint16_t(rng() % (m + 1u)), b = uint16_t(rng() % (m + 1u));
                // Red as a share of the brightest, by row: low, high, at the
                // 80 % edge, black, mixed, and greys of every 8-bit level
                // (the curve's gains and offsets at each maximum).
                uint32_t r = 0;
                switch (y) {
                    case 0: r = rng() % (uint32_t(m) * 4 / 5 + 1); break;
                    case 1: r = m - rng() % (m / 10 + 1u); break;
                    case 2: r = uint32_t(m) * 4 / 5 + uint32_t(x % 3) - 1u; break;
                    case 3: r = 0; break;
                    default: r = rng() % (uint32_t(m) + 1);
                }
                if (y == 3) p[0] = p[1] = p[2] = 0;
                else if (y == 6) p[0] = p[1] = p[2] = uint16_t(x % 256 * 257);
                else p[0] = uint16_t(std::min<uint32_t>(r, m)), p[1] = std::max(g, uint16_t(y == 2 ? m : 0)), p[2] = b;
            }
        std::vector<uint8_t> px8(px16.size());
        for (size_t i = 0; i < px8.size(); ++i) px8[i] = uint8_t(px16[i] >> 8);
        std::vector<float> tone(size_t(w) * h);
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = i % 9 == 0 ? 0.0f : float(rng() % 65281) * 0.7f;
        const auto view = [w, h](auto& v) {
            using T = std::remove_reference_t<decltype(v[0])>;
            return ImageView<T>{{v.data(), v.data() + 1, v.data() + 2}, 3 * int64_t{w}, 3, w, h};
        };
        std::vector<float> retention16(65536);
        std::vector<uint64_t> pairs16(65536);
        for (const int mode : {1, 2, 3})
            for (const float amount : {0.5f, 4.0f, 1e6f, 1e30f})
                for (const bool withTone : {false, true}) {
                    const ColorRestoreTables t = MakeColorRestoreTables(mode, amount);
                    ASSERT_EQ(t.retentionInRange, amount < 1e6f) << amount;
                    const float* tp = withTone ? tone.data() : nullptr;
                    auto want8 = px8;
                    auto want16 = px16;
                    ColorRestorePlain(view(want8), tp, t);
                    ColorRestorePlain(view(want16), tp, t);
                    // The 16-bit form also with the tables at every level.
                    ColorRestoreTables levels = t;
                    MakeColorRestoreLevels16(levels, retention16.data(), pairs16.data());
                    test::ForEachSimdTarget([&](const std::string& target) {
                        auto got8 = px8;
                        auto got16 = px16, gotLevels16 = px16;
                        ColorRestoreFast(view(got8), tp, t);
                        ColorRestoreFast(view(got16), tp, t);
                        ColorRestoreFast(view(gotLevels16), tp, levels);
                        const std::string what = target + ", width " + std::to_string(w) + ", mode " +
                                                 std::to_string(mode) + (withTone ? ", tone" : "");
                        EXPECT_EQ(got8, want8) << what;
                        EXPECT_EQ(got16, want16) << what;
                        EXPECT_EQ(gotLevels16, want16) << what << ", tables at every level";
                    });
                }
    }
}

}  // namespace
}  // namespace lx
