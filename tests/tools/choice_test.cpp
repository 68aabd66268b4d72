// SPDX-License-Identifier: MIT
// The measures the command's choice is made from: the photo's key (how much
// of it lies in deep shadow, how bright its brightest 1 % is) and the level
// of its darkest 1 %, at 8 and 16 bits; the black clip a veiled photo gets.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "choice.h"

namespace lumarex_cli {
namespace {

// Sets sample i of a picture to the 8-bit level v, at its depth.
void Set(Picture& p, size_t i, int v) {
    if (p.bits == 16) p.rgb16[i] = uint16_t(v * 257);
    else p.rgb8[i] = uint8_t(v);
}

// A 100-pixel picture: `dark` pixels at (v, v, v) = `low`, the rest rising
// from 100 to `top` in the green channel only, at 8 or 16 bits.
Picture Strip(int bits, int dark, int low, int top) {
    Picture p;
    p.width = 100, p.height = 1, p.bits = bits;
    if (bits == 16) p.rgb16.resize(300);
    else p.rgb8.resize(300);
    for (int i = 0; i < 100; ++i) {
        const int g = i < dark ? low : 100 + (top - 100) * (i - dark) / (99 - dark > 0 ? 99 - dark : 1);
        const int rgb[3] = {i < dark ? low : 60, g, i < dark ? low : 40};
        for (int c = 0; c < 3; ++c) Set(p, size_t(i) * 3 + c, rgb[c]);
    }
    return p;
}

TEST(Choice, KeyAndDarkestLevelAtEitherDepth) {
    for (int bits : {8, 16}) {
        // Forty of a hundred pixels in deep shadow: low key, whatever the
        // highlights; thirty-nine: the highlights decide.
        EXPECT_EQ(KeyOf(Strip(bits, 40, 10, 255)).key, Key::kLow) << bits;
        const KeyMeasure set = KeyOf(Strip(bits, 39, 10, 240));
        EXPECT_EQ(set.key, Key::kSet) << bits;
        EXPECT_DOUBLE_EQ(set.deepShadow, 39.0);
        EXPECT_EQ(set.highlights, 240) << "the brightest 1 % is the brightest pixel of a hundred";
        EXPECT_EQ(KeyOf(Strip(bits, 10, 10, 229)).key, Key::kDull) << bits;
        // Luma counts, not the largest channel: a deep blue at 49 luma is
        // in shadow though its blue channel is bright.
        Picture blue = Strip(bits, 0, 0, 229);
        for (size_t i = 0; i < 50 * 3; i += 3) Set(blue, i, 0), Set(blue, i + 1, 20), Set(blue, i + 2, 255);
        EXPECT_EQ(KeyOf(blue).key, Key::kLow) << bits;
        // Dark as a whole: ninety of a hundred pixels under 40 % grey (here
        // at 70, no deep shadow), a bright subject: low key; eighty-nine:
        // the highlights decide.
        Picture water = Strip(bits, 90, 70, 255);
        for (size_t i = 90 * 3; i < 100 * 3; ++i) Set(water, i, 240);
        const KeyMeasure dark = KeyOf(water);
        EXPECT_EQ(dark.key, Key::kLow) << bits;
        EXPECT_DOUBLE_EQ(dark.deepShadow, 0.0);
        EXPECT_DOUBLE_EQ(dark.dark, 90.0);
        for (size_t i = 89 * 3; i < 90 * 3; ++i) Set(water, i, 240);
        EXPECT_EQ(KeyOf(water).key, Key::kSet) << bits;
        // The darkest 1 % of a hundred pixels is the darkest pixel; its
        // level is its largest channel.
        EXPECT_EQ(DarkestLevel(Strip(bits, 3, 17, 200), 1.0), 17) << bits;
        EXPECT_EQ(DarkestLevel(Strip(bits, 0, 0, 200), 1.0), 100) << bits;
    }
}

TEST(Choice, ContrastIsTheLightnessSpreadTimesTheStepBetweenNeighbours) {
    for (int bits : {8, 16}) {
        // Black, black, white, white in a row: L* 0, 0, 100, 100. Spread 50;
        // of the three steps across (no row below) one is 100.
        Picture p = Strip(bits, 0, 0, 255);
        p.width = 4, p.rgb8.resize(p.bits == 8 ? 12 : 0), p.rgb16.resize(p.bits == 16 ? 12 : 0);
        for (size_t i = 0; i < 12; ++i) Set(p, i, i < 6 ? 0 : 255);
        Contrast c = ContrastOf(p, RgbSpace::Srgb());
        EXPECT_NEAR(c.spread, 50.0, 1e-4) << bits;
        EXPECT_NEAR(c.detail, 100.0 / 3.0, 1e-4) << bits;
        // The same four as a 2 x 2 checkerboard: every step, across and
        // down, is 100.
        p.width = 2, p.height = 2;
        for (size_t i = 0; i < 12; ++i) Set(p, i, (i / 3 == 1 || i / 3 == 2) ? 255 : 0);
        c = ContrastOf(p, RgbSpace::Srgb());
        EXPECT_NEAR(c.spread, 50.0, 1e-4) << bits;
        EXPECT_NEAR(c.detail, 100.0, 1e-4) << bits;
    }
    // An 18 % grey (sRGB 118) has L* 50 or so; alone it has no contrast.
    Picture grey = Strip(8, 100, 118, 255);
    EXPECT_EQ(ContrastOf(grey, RgbSpace::Srgb()).Score(), 0.0);
}

// A picture of 500 x 400 pixels, more than the grid of measured pixels
// holds (every other pixel of every other row is measured): tinted by
// `tint` from the middle of each row to its end, grey elsewhere.
Picture HalfTinted(int tint) {
    Picture p;
    p.width = 500, p.height = 400, p.bits = 8;
    p.rgb8.resize(size_t(500) * 400 * 3);
    for (size_t i = 0; i < p.rgb8.size(); i += 3) {
        const bool tinted = (i / 3) % 500 >= 250;
        const int level = 40 + int((i / 3) % 7) * 25;
        p.rgb8[i] = uint8_t(level), p.rgb8[i + 1] = uint8_t(level);
        p.rgb8[i + 2] = uint8_t(std::clamp(level - (tinted ? tint : 0), 0, 255));
    }
    return p;
}

// 500 x 400 pixels at the levels of HalfTinted: the first `saturated`
// columns of each row tinted by 60 (a saturated colour), the next `near`
// columns by 12 (near neutral), the rest grey.
Picture Banded(int saturated, int near) {
    Picture p;
    p.width = 500, p.height = 400, p.bits = 8;
    p.rgb8.resize(size_t(500) * 400 * 3);
    for (size_t i = 0; i < p.rgb8.size(); i += 3) {
        const int column = int((i / 3) % 500), level = 40 + int((i / 3) % 7) * 25;
        const int tint = column < saturated ? 60 : column < saturated + near ? 12 : 0;
        p.rgb8[i] = uint8_t(level), p.rgb8[i + 1] = uint8_t(level);
        p.rgb8[i + 2] = uint8_t(std::clamp(level - tint, 0, 255));
    }
    return p;
}

TEST(Choice, NewlyGreyCountsNearNeutralPixelsTurnedGreyLessThoseTurnedColoured) {
    const RgbSpace& srgb = RgbSpace::Srgb();
    const Picture cast = HalfTinted(12), grey = HalfTinted(0), faint = HalfTinted(2), sky = HalfTinted(60);
    // Half the picture, near neutral in the photo, turns grey, or back; a
    // faint tint is grey already.
    EXPECT_NEAR(NewlyGrey(cast, cast, grey, srgb), 50.0, 1e-9);
    EXPECT_NEAR(NewlyGrey(cast, grey, cast, srgb), -50.0, 1e-9);
    EXPECT_NEAR(NewlyGrey(cast, grey, faint, srgb), 0.0, 1e-9);
    // A saturated colour turned grey is the colour lost, not a cast found...
    EXPECT_NEAR(NewlyGrey(sky, sky, grey, srgb), 0.0, 1e-9);
    // ...unless near-neutral pixels turn grey with it, as a strong cast's
    // light greys pass chroma 20 while its darker ones stay under it (a
    // faded print): then it counts up to as much as they do.
    const Picture print = Banded(100, 150), skyline = Banded(250, 50);
    EXPECT_NEAR(NewlyGrey(print, print, grey, srgb), 30.0 + 20.0, 1e-9);
    EXPECT_NEAR(NewlyGrey(skyline, skyline, grey, srgb), 10.0 + 10.0, 1e-9);
    EXPECT_NEAR(NewlyGrey(skyline, skyline, Banded(250, 0), srgb), 10.0, 1e-9) << "the sky kept, the greys found";
    // Against one picture once, as against each pair; 0 for another size.
    const GreyPixels before(cast, cast, srgb);
    for (const Picture* b : {&grey, &faint, &cast})
        EXPECT_EQ(before.NewlyGreyIn(*b), NewlyGrey(cast, cast, *b, srgb));
    EXPECT_EQ(before.NewlyGreyIn(Strip(8, 100, 118, 255)), 0.0);
    EXPECT_EQ(GreyPixels(Strip(8, 100, 118, 255), cast, srgb).NewlyGreyIn(grey), 0.0);
}

// A sepia print: every pixel the tone's colour at its own lightness, with
// `patches` of 60 x 40 pixels of a green and a blue among them.
Picture Sepia(int patches) {
    Picture p;
    p.width = 400, p.height = 300, p.bits = 8;
    p.rgb8.resize(size_t(400) * 300 * 3);
    for (int y = 0; y < 300; ++y)
        for (int x = 0; x < 400; ++x) {
            const size_t i = (size_t(y) * 400 + size_t(x)) * 3;
            const double l = 0.15 + 0.8 * double((x * 7 + y * 3) % 400) / 400.0;
            double rgb[3] = {l + 0.08 * std::sin(3.14159 * l), 0.86 * l + 0.03 * std::sin(3.14159 * l), 0.67 * l};
            const int patch = y / 40 * 6 + x / 60;
            if (patch < patches) {
                const bool green = patch % 2 == 0;
                rgb[0] = green ? 0.3 : 0.2, rgb[1] = green ? 0.6 : 0.3, rgb[2] = green ? 0.25 : 0.7;
            }
            for (int c = 0; c < 3; ++c) p.rgb8[i + c] = uint8_t(std::clamp(rgb[c], 0.0, 1.0) * 255.0 + 0.5);
        }
    return p;
}

TEST(Choice, AToningIsOneHueThatTheScenesColoursStrayFrom) {
    const RgbSpace& srgb = RgbSpace::Srgb();
    const Toning sepia = ToningOf(Sepia(0), srgb);
    EXPECT_TRUE(sepia.Toned()) << sepia.stray;
    EXPECT_GT(sepia.chroma, 15.0);
    EXPECT_LT(sepia.stray, 1.5);
    // A few coloured things in the frame (a tenth of it): a scene under a
    // warm light, not a toning.
    const Toning scene = ToningOf(Sepia(4), srgb);
    EXPECT_FALSE(scene.Toned());
    EXPECT_GT(scene.stray, 2.0 * kToneStray);
    // Black and white: one hue too, but no colour to keep or remove.
    const Toning grey = ToningOf(HalfTinted(0), srgb);
    EXPECT_FALSE(grey.Toned());
    EXPECT_LT(grey.chroma, 1.0);
}

TEST(Choice, BlackClipFindsTheVeilsFloor) {
    // Columns: the level below which 0.1, 0.2, ... 5 % of the samples lie;
    // past the given ones the last repeats.
    const auto fill = [](std::initializer_list<int32_t> first, int32_t unit, int32_t (&p)[50]) {
        for (int j = 0; j < 50; ++j) p[j] = first.begin()[std::min<size_t>(size_t(j), first.size() - 1)] * unit;
    };
    struct Case {
        std::initializer_list<int32_t> levels;
        float clip;
        const char* what;
    };
    const Case cases[] = {
        {{0, 0, 1, 3, 5, 7, 9, 11, 13, 16}, 0.1f, "blacks of its own: the darkest 1 % at 16"},
        {{34, 53, 65, 74, 83, 86, 87, 88, 88, 89}, 0.6f, "haze: specks below a veil at 84 and above"},
        {{17, 17, 17, 17, 17, 17, 17, 17, 17, 17}, 0.1f, "a veil with no specks: 0.1 % already on it"},
        {{0, 20, 40, 60, 80, 100, 120, 140, 160, 180}, 1.0f, "no floor within reach: at most 1 %"},
    };
    for (const Case& c : cases)
        for (int bits : {8, 16}) {
            int32_t column[50];
            fill(c.levels, bits == 16 ? 256 : 1, column);
            EXPECT_EQ(BlackClipFor(column, bits), c.clip) << c.what << ", " << bits << " bits";
        }
}

}  // namespace
}  // namespace lumarex_cli
