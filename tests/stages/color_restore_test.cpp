// SPDX-License-Identifier: MIT
#include "stages/color_restore_twins.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "support/images.h"
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

template <class T>
std::vector<float> MaxPlane(const test::Rgb<T>& img) {
    std::vector<float> tone(img.px.size() / 3);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(std::max({img.px[3 * i], img.px[3 * i + 1], img.px[3 * i + 2]}));
    return tone;
}

// A tone plane of each pixel's brightest channel asks for no rescaling: the
// same bytes as without one. Unknown modes and non-finite amounts change
// nothing, with or without a tone plane; empty images are not read.
TEST(ColorRestore, WholeImagesWithAndWithoutTone) {
    const test::Rgb8 img = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 48);
    const test::Rgb16 img16 = test::LoadSample16("s01_tungsten_indoor_wine.jpg", 48);
    const std::vector<float> tone8 = MaxPlane(img), tone16 = MaxPlane(img16);
    const int w = img.width, h = img.height;
    const auto view = [w, h](auto& px) { return test::View(&px[0], &px[1], &px[2], w, h, 3, 3 * w); };
    for (int mode = 1; mode <= 3; ++mode) {
        test::Rgb8 a = img, b = img;
        ColorRestore8(view(a.px), mode, 0.7f);
        ColorRestoreTone8(view(b.px), tone8.data(), mode, 0.7f);
        EXPECT_TRUE(a.px == b.px && a.px != img.px) << "mode " << mode;
    }
    for (auto [mode, amount] : {std::pair{0, 1.0f}, {4, 1.0f}, {INT_MIN, 1.0f}, {1, kNaN}, {2, kInf}, {3, -kInf}}) {
        test::Rgb8 a = img, b = img;
        test::Rgb16 c = img16;
        ColorRestore8(view(a.px), mode, amount);
        ColorRestoreTone8(view(b.px), tone8.data(), mode, amount);
        ColorRestoreTone16(view(c.px), tone16.data(), mode, amount);
        EXPECT_TRUE(a.px == img.px && b.px == img.px && c.px == img16.px) << "mode " << mode;
    }
    ColorRestore8(test::View<uint8_t>(nullptr, nullptr, nullptr, 0, 5, 3, 0), 1, 1.0f);
    ColorRestoreTone16(test::View<uint16_t>(nullptr, nullptr, nullptr, 5, -1, 3, 15), nullptr, 1, 1.0f);
}

// 16 bit: levels between table entries are interpolated; 65280 is full scale.
// A tone of 0 or NaN gives black, an infinite one white.
TEST(ColorRestore, PinnedPixels) {
    struct Case { Px in; int mode; float amount; std::optional<float> tone; Px out; bool wide; } cases[] = {
        {{200, 100, 60}, 1, 1.0f, {}, {206, 120, 85}, false},  // weaker channels pulled up towards red
        {{200, 100, 60}, 2, 1.0f, {}, {206, 112, 74}, false},  // half the red weight
        {{200, 100, 60}, 3, 1.0f, {}, {208, 122, 87}, false},
        {{90, 100, 40}, 1, 1.0f, {}, {86, 95, 42}, false},     // red at 90 %
        {{255, 0, 0}, 1, 1.0f, {}, {254, 24, 24}, false},
        {{20, 20, 20}, 1, 1.0f, {}, {7, 7, 7}, false},
        {{200, 100, 60}, 1, 0.5f, 150.0f, {152, 82, 53}, false},
        {{200, 100, 60}, 1, 1.0f, 0.0f, {0, 0, 0}, false},
        {{200, 100, 60}, 1, 1.0f, kNaN, {0, 0, 0}, false},
        {{0, 0, 0}, 1, 1.0f, 100.0f, {0, 0, 0}, false},
        {{200, 100, 60}, 1, 1.0f, 1e30f, {255, 255, 255}, false},
        {{50000, 30000, 12345}, 1, 1.0f, 50000.0f, {51927, 34862, 19799}, true},
        {{40000, 39000, 12000}, 2, 0.8f, 41000.0f, {41669, 40709, 14789}, true},
        {{12345, 23456, 34567}, 1, 1.0f, 30000.0f, {10780, 20483, 30185}, true},
        {{65535, 65535, 65535}, 1, 1.0f, 65535.0f, {65280, 65280, 65280}, true},
        {{51200, 25600, 15360}, 1, 1.0f, 0.0f, {0, 0, 0}, true},
        {{51200, 25600, 15360}, 1, 1.0f, kInf, {65280, 65280, 65280}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(Restore8(c.in, c.mode, c.amount, c.tone, c.wide), c.out) << c.in[0] << " mode " << c.mode;
    for (int mode = 1; mode <= 3; ++mode)  // greys stay grey
        for (int g = 0; g < 256; g += 3) {
            const Px a = Restore8({g, g, g}, mode, 2.0f), b = Restore16({g * 257, g * 257, g * 257}, mode, 1.0f, 200.0f * g);
            ASSERT_TRUE(a[0] == a[1] && a[1] == a[2] && b[0] == b[1] && b[1] == b[2]) << "mode " << mode << ", " << g;
        }
}

// The SIMD form against the plain one, 8 and 16-bit, with and without a
// tone plane, every mode, a large amount, and amounts whose retention
// products leave the int32 range (truncated with saturation); odd widths.
TEST(ColorRestore, FastFormMatchesThePlainOne) {
    std::mt19937 rng(21);
    for (const int32_t w : {1, 7, 16, 33, 100, 257}) {
        const int32_t h = 7;
        std::vector<uint16_t> px16(size_t(w) * h * 3);
        for (int32_t y = 0; y < h; ++y)
            for (int32_t x = 0; x < w; ++x) {
                uint16_t* p = &px16[(size_t(y) * w + x) * 3];
                // Every fifth brightest channel above 65280 (the 16-bit tables' last entry).
                const uint16_t m = uint16_t(x % 5 == 4 ? 65280 + rng() % 256 : rng() % 65281);
                const uint16_t g = uint16_t(rng() % (m + 1u)), b = uint16_t(rng() % (m + 1u));
                // Red as a share of the brightest, by row: below 80 % (no red
                // weight), high, at 80 % and a level either side, black, mixed,
                // and greys of every 8-bit level.
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
