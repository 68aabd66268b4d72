// SPDX-License-Identifier: MIT
// The colour finishing stages: colour cubes, colour restoration, warm tone.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cmath>
#include <cstdint>
#include <limits>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "stages/color_cube.h"
#include "stages/color_restore_twins.h"
#include "stages/warm_tone.h"
#include "support/images.h"
#include "support/sample_images.h"
#include "support/simd_targets.h"
#include "support/test_host.h"

namespace lx {
namespace {

using Px = std::array<int, 3>;
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();
constexpr float kInf = std::numeric_limits<float>::infinity();

// One pixel of T samples through `stage`, which takes a 1 x 1 view.
template <class T, class Stage>
Px Through(Px in, const Stage& stage) {
    T px[3] = {T(in[0]), T(in[1]), T(in[2])};
    stage(test::PixelView(px));
    return {px[0], px[1], px[2]};
}

// An interleaved image of w x h pixels.
template <class T>
ImageView<T> Whole(std::vector<T>& px, int w, int h) { return test::View(&px[0], &px[1], &px[2], w, h, 3, 3 * w); }

enum Cube { kA = 0, kB = 1, kC = 2 };

void Apply(int selector, int alsoC, ImageView<uint8_t> v) { ColorCubeApply8(selector, alsoC, v); }
void Apply(int selector, int alsoC, ImageView<uint16_t> v) { ColorCubeApply16(selector, alsoC, v); }
void ApplyC(ImageView<uint8_t> v) { ColorCubeApplyC8(v); }
void ApplyC(ImageView<uint16_t> v) { ColorCubeApplyC16(v); }

template <class T>
Px Cubed(Cube cube, Px in) {
    return Through<T>(in, [cube](auto v) { cube == kC ? ApplyC(v) : Apply(cube, 0, v); });
}

// Worked values. 8 bits: the table's sum truncated; at 255 the rounded
// coefficients may leave it a level short of the lattice. 16 bits: a sample
// belongs to the cell of ceil(v / 256) (level 31.5 on CubeC's red edge
// extrapolates the second cell back, 37 - 35 * 0.5 / 32 = 36.453125, stored
// as 9332; the first cell would give 9324), and results round to nearest,
// halves up (grey 611 in CubeA: 823.57, 578.30, 545.59 -> 824, 578, 546).
TEST(ColorCube, WorkedValues) {
    const struct { Cube cube; Px in, out; } cases8[] = {
        {kA, {16, 16, 16}, {17, 15, 15}},  // other corners of the cell are not grey
        {kA, {255, 0, 0}, {254, 12, 0}},   // one level short of the lattice's (255, 13, 0)
        {kB, {96, 128, 192}, {96, 116, 192}},
        {kC, {64, 128, 64}, {66, 132, 66}},
        {kC, {255, 255, 255}, {254, 254, 254}},  // 254.998 truncated
    };
    for (const auto& c : cases8) EXPECT_EQ(Cubed<uint8_t>(c.cube, c.in), c.out) << "cube " << c.cube;
    for (int g : {0, 32, 64, 96, 128, 160, 192, 224, 255}) EXPECT_EQ(Cubed<uint8_t>(kA, {g, g, g}), (Px{g, g, g}));
    EXPECT_EQ(Cubed<uint16_t>(kC, {31 * 256 + 128, 0, 0}), (Px{9332, 0, 0}));
    EXPECT_EQ(Cubed<uint16_t>(kA, {611, 611, 611}), (Px{824, 578, 546}));
}

TEST(ColorCube, SixteenBitTopsOutAt65280) {
    for (Cube cube : {kA, kB, kC}) {
        EXPECT_EQ(Cubed<uint16_t>(cube, {65535, 65535, 65535}), (Px{65280, 65280, 65280})) << "cube " << cube;
        for (int v = 65280; v <= 65535; v += 15)
            for (Px in : {Px{v, 0, 0}, Px{v, v / 2, 65535 - v}})
                for (int out : Cubed<uint16_t>(cube, in)) EXPECT_LE(out, 65280);
    }
}

// Every 17th level of each channel: 4096 colours, interleaved.
std::vector<uint8_t> ColourGrid8() {
    std::vector<uint8_t> px;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) px.insert(px.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    return px;
}

// The first table and CubeC in one call give what two calls give, with the
// whole image passing the first table before any of it passes CubeC: on a
// grid of colours, and on rows that share samples (a row stride of one
// pixel, or pixels that all sit on one sample).
template <class T>
void ExpectOneCallIsTwoPasses(int selector, int alsoC, int scale, int w, int h, int pixelStride, int rowStride) {
    const std::vector<uint8_t> grid = ColourGrid8();
    std::vector<T> fused(grid.begin(), grid.end()), steps;
    for (T& v : fused) v = T(v * scale);
    steps = fused;
    const auto view = [&](std::vector<T>& px) { return test::View(&px[0], &px[1], &px[2], w, h, pixelStride, rowStride); };
    Apply(selector, alsoC, view(fused));
    Apply(selector, 0, view(steps));
    ApplyC(view(steps));
    EXPECT_EQ(fused, steps) << sizeof(T) * 8 << "-bit, selector " << selector << ", " << w << " x " << h << ", strides "
                            << pixelStride << ", " << rowStride;
}

TEST(ColorCube, AlsoCFollowsTheSelectedTable) {
    for (int selector : {0, 1, -1}) {
        ExpectOneCallIsTwoPasses<uint8_t>(selector, 1, 1, 64, 64, 3, 64 * 3);
        ExpectOneCallIsTwoPasses<uint16_t>(selector, 7, 257, 4096, 1, 3, 4096 * 3);
    }
    ExpectOneCallIsTwoPasses<uint8_t>(0, 1, 1, 2, 30, 3, 3);
    ExpectOneCallIsTwoPasses<uint16_t>(1, 1, 257, 3, 20, 2, 3);
    // A selector naming no table applies none.
    std::vector<uint8_t> none = ColourGrid8();
    Apply(2, 0, Whole(none, 4096, 1));
    EXPECT_EQ(none, ColourGrid8());
    uint8_t px[3] = {200, 100, 50};  // two pixels, both at px
    ColorCubeApply8(1, 1, test::View(px, px + 1, px + 2, 2, 1, 0, 0));
    EXPECT_EQ((Px{px[0], px[1], px[2]}), (Px{208, 94, 31})) << "CubeB twice, then CubeC twice";
}

// One pixel through ColorRestore8 (no tone) or ColorRestoreTone8, or
// through ColorRestoreTone16.
Px Restore8(Px p, int mode, float amount, std::optional<float> tone = std::nullopt) {
    return Through<uint8_t>(p, [&](auto v) { tone ? ColorRestoreTone8(v, &*tone, mode, amount) : ColorRestore8(v, mode, amount); });
}
Px Restore16(Px p, int mode, float amount, float tone) {
    return Through<uint16_t>(p, [&](auto v) { ColorRestoreTone16(v, &tone, mode, amount); });
}

// A tone plane of each pixel's brightest channel asks for no rescaling: the
// same bytes as without one. Unknown modes and non-finite amounts change
// nothing, with or without such a tone.
TEST(ColorRestore, WholeImagesWithAndWithoutTone) {
    const test::Rgb8 img = test::LoadSample8("s01_tungsten_indoor_wine.jpg", 48);
    std::vector<float> tone8(img.px.size() / 3);
    for (size_t i = 0; i < tone8.size(); ++i) tone8[i] = float(std::max({img.px[3 * i], img.px[3 * i + 1], img.px[3 * i + 2]}));
    const int w = img.width, h = img.height;
    const auto view = [w, h](auto& px) { return Whole(px, w, h); };
    for (int mode = 1; mode <= 3; ++mode) {
        test::Rgb8 a = img, b = img;
        ColorRestore8(view(a.px), mode, 0.7f);
        ColorRestoreTone8(view(b.px), tone8.data(), mode, 0.7f);
        EXPECT_TRUE(a.px == b.px && a.px != img.px) << "mode " << mode;
    }
    const Px p{200, 100, 60}, wide{51200, 25600, 15360};
    for (auto [mode, amount] : {std::pair{0, 1.0f}, {4, 1.0f}, {INT_MIN, 1.0f}, {1, kNaN}, {2, kInf}, {3, -kInf}})
        EXPECT_TRUE(Restore8(p, mode, amount) == p && Restore8(p, mode, amount, 200.0f) == p &&
                    Restore16(wide, mode, amount, 51200.0f) == wide) << "mode " << mode;
}

// 16 bit: levels between table entries are interpolated; 65280 is full scale.
// A tone of 0, below 0 or NaN gives black, an infinite one white.
TEST(ColorRestore, PinnedPixels) {
    struct Case { Px in; int mode; float amount; std::optional<float> tone; Px out; bool wide; } cases[] = {
        {{200, 100, 60}, 1, 1.0f, {}, {206, 120, 85}, false},  // weaker channels pulled up towards red
        {{200, 100, 60}, 2, 1.0f, {}, {206, 112, 74}, false},  // half the red weight
        {{200, 100, 60}, 3, 1.0f, {}, {208, 122, 87}, false},
        {{240, 200, 90}, 3, 1.0f, {}, {249, 213, 115}, false},  // mode 3's curve where it rolls off to white
        {{12, 9, 4}, 3, 1.0f, {}, {8, 6, 2}, false},            // and where it dips near black
        {{40000, 39000, 12000}, 3, 0.8f, 61000.0f, {63189, 61881, 26551}, true},
        {{90, 100, 40}, 1, 1.0f, {}, {86, 95, 42}, false},     // red at 90 %
        {{255, 0, 0}, 1, 1.0f, {}, {254, 24, 24}, false},
        {{20, 20, 20}, 1, 1.0f, {}, {7, 7, 7}, false},
        {{200, 100, 60}, 1, 0.5f, 150.0f, {152, 82, 53}, false},
        {{200, 100, 60}, 1, 1.0f, 0.0f, {0, 0, 0}, false},
        {{200, 100, 60}, 1, 1.0f, kNaN, {0, 0, 0}, false},
        {{200, 100, 60}, 1, 1.0f, -50.0f, {0, 0, 0}, false},  // a negative tone clamps to black
        {{0, 0, 0}, 1, 1.0f, 100.0f, {0, 0, 0}, false},
        {{200, 100, 60}, 1, 1.0f, 1e30f, {255, 255, 255}, false},
        {{50000, 30000, 12345}, 1, 1.0f, 50000.0f, {51927, 34862, 19799}, true},
        {{40000, 39000, 12000}, 2, 0.8f, 41000.0f, {41669, 40709, 14789}, true},
        {{12345, 23456, 34567}, 1, 1.0f, 30000.0f, {10780, 20483, 30185}, true},
        {{65535, 65535, 65535}, 1, 1.0f, 65535.0f, {65280, 65280, 65280}, true},
        {{51200, 25600, 15360}, 1, 1.0f, 0.0f, {0, 0, 0}, true},
        {{51200, 25600, 15360}, 1, 1.0f, -50.0f, {0, 0, 0}, true},
        {{51200, 25600, 15360}, 1, 1.0f, kInf, {65280, 65280, 65280}, true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(c.wide ? Restore16(c.in, c.mode, c.amount, *c.tone) : Restore8(c.in, c.mode, c.amount, c.tone), c.out) << c.in[0] << " mode " << c.mode;
    for (int mode = 1; mode <= 3; ++mode)  // greys stay grey
        for (int g = 0; g < 256; g += 3) {
            const Px a = Restore8({g, g, g}, mode, 2.0f), b = Restore16({g * 257, g * 257, g * 257}, mode, 1.0f, 200.0f * g);
            ASSERT_TRUE(a[0] == a[1] && a[1] == a[2] && b[0] == b[1] && b[1] == b[2]) << "mode " << mode << ", " << g;
        }
}

// The SIMD form against the plain one, 8 and 16-bit, with and without a
// tone plane (zero and negative tones among it), every mode, a large amount, amounts whose retention
// products leave the int32 range (truncated with saturation) and amounts whose curve offsets overflow to
// infinity; odd widths.
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
                const uint32_t r = y == 0   ? rng() % (uint32_t(m) * 4 / 5 + 1)
                                   : y == 1 ? m - rng() % (m / 10 + 1u)
                                   : y == 2 ? uint32_t(m) * 4 / 5 + uint32_t(x % 3) - 1u
                                   : y == 3 ? 0u
                                            : rng() % (uint32_t(m) + 1);
                if (y == 3) p[0] = p[1] = p[2] = 0;
                else if (y == 6) p[0] = p[1] = p[2] = uint16_t(x % 256 * 257);
                else p[0] = uint16_t(std::min<uint32_t>(r, m)), p[1] = std::max(g, uint16_t(y == 2 ? m : 0)), p[2] = b;
            }
        std::vector<uint8_t> px8(px16.size());
        for (size_t i = 0; i < px8.size(); ++i) px8[i] = uint8_t(px16[i] >> 8);
        std::vector<float> tone(size_t(w) * h);
        for (size_t i = 0; i < tone.size(); ++i) tone[i] = i % 9 == 0 ? 0.0f : i % 9 == 1 ? -50.0f : float(rng() % 65281) * 0.7f;
        const auto view = [w, h](auto& v) { return Whole(v, w, h); };
        std::vector<float> retention16(65536);
        std::vector<uint64_t> pairs16(65536);
        for (const int mode : {1, 2, 3})
            // 2e35 and beyond: the 16-bit offsets overflow to infinity, and
            // from 3e37 the 8-bit ones.
            for (const float amount : {0.5f, 4.0f, 1e6f, 1e30f, 2e35f, -1e38f, 1e38f}) {
                const ColorRestoreTables t = MakeColorRestoreTables(mode, amount);
                ASSERT_EQ(t.retentionInRange, std::fabs(amount) < 1e6f) << amount;
                ASSERT_EQ(t.gainOnlyExact, std::fabs(amount) < 1e35f) << amount;
                ColorRestoreTables levels = t;
                MakeColorRestoreLevels16(levels, retention16.data(), pairs16.data());
                for (const bool withTone : {false, true}) {
                    const float* tp = withTone ? tone.data() : nullptr;
                    auto want8 = px8;
                    auto want16 = px16;
                    ColorRestorePlain(view(want8), tp, t);
                    ColorRestorePlain(view(want16), tp, t);
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
}

Px Warm8(Px p, float s) { return Through<uint8_t>(p, [s](auto v) { WarmToneCorrect8(v, s); }); }
Px Warm16(Px p, float s) { return Through<uint16_t>(p, [s](auto v) { WarmToneCorrect16(v, s); }); }

TEST(WarmTone, PinnedPixels) {
    struct Case { Px in; float strength; Px out; } cases[] = {
        {{200, 120, 80}, 1.0f, {200, 131, 94}},  // ratio 0.6: the full weight 0.35
        {{200, 120, 80}, 0.5f, {200, 125, 87}},
        {{200, 100, 110}, 1.0f, {200, 106, 111}},  // blue above green: half weight
        {{160, 96, 64}, 1.0f, {160, 100, 69}},     // brightness ramp at about half
        {{139, 105, 83}, 1.0f, {139, 105, 82}},    // 0.35000002, not 0.35, tips this one a level
    };
    for (const Case& c : cases) EXPECT_EQ(Warm8(c.in, c.strength), c.out) << c.in[0] << "," << c.in[1] << "," << c.in[2];
    test::TestHost host;
    EXPECT_EQ(Warm16({51200, 30720, 20480}, 1.0f), (Px{51200, 33766, 24064}));
    EXPECT_EQ(Warm16({51200, 25600, 28160}, 1.0f), (Px{51200, 27183, 28453}));
    EXPECT_EQ(Warm16({41000, 24600, 16400}, 1.0f), (Px{41000, 25829, 17846}));
}

TEST(WarmTone, BoundaryPixelsAndZeroStrengthAreUntouched) {
    test::TestHost host;
    // R = 128, G/R exactly 0.35 and 0.85, greys, (G - B) / (R - G) exactly -0.2,
    // blue far above green.
    for (const Px& p : {Px{128, 77, 50}, Px{200, 70, 40}, Px{200, 170, 100}, Px{200, 200, 200}, Px{255, 255, 255},
                        Px{0, 0, 0}, Px{200, 100, 120}, Px{200, 100, 180}}) {
        EXPECT_EQ(Warm8(p, 1.0f), p) << p[0] << "," << p[1] << "," << p[2];
        const Px p16 = {p[0] * 256, p[1] * 256, p[2] * 256};
        EXPECT_EQ(Warm16(p16, 1.0f), p16) << p[0] << "," << p[1] << "," << p[2];
    }
    for (float s : {0.0f, kNaN, kInf})  // pixels that strength 1 moves
        EXPECT_TRUE(Warm8({200, 120, 80}, s) == (Px{200, 120, 80}) &&
                    Warm16({51200, 30720, 20480}, s) == (Px{51200, 30720, 20480})) << "strength " << s;
}

}  // namespace
}  // namespace lx
