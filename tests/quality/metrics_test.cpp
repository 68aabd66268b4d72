// SPDX-License-Identifier: MIT
#include "metrics.h"

#include <gtest/gtest.h>

namespace lumarex_quality {
namespace {

Rgb8 Pixels(std::initializer_list<uint8_t> rgb) {
    Rgb8 r{int(rgb.size() / 3), 1, std::vector<uint8_t>(rgb)};
    return r;
}

TEST(QualityMetrics, LabAndCiede2000MatchPublishedValues) {
    // sRGB primaries and white in CIELAB (D65), as colour references list them.
    const struct {
        Lab got, want;
        double within;
    } refs[] = {{LabFromSrgb8(255, 255, 255), {100.0, 0.0, 0.0}, 0.01},
                {LabFromSrgb8(255, 0, 0), {53.24, 80.09, 67.20}, 0.05},
                {LabFromSrgb8(0, 0, 255), {32.30, 79.19, -107.86}, 0.05}};
    for (const auto& [got, want, within] : refs)
        for (auto part : {&Lab::l, &Lab::a, &Lab::b}) EXPECT_NEAR(got.*part, want.*part, within) << want.l;
    EXPECT_NEAR(LabFromSrgb8(118, 118, 118).l, 49.64, 0.01) << "the 18 % grey card";

    // Pairs from the CIEDE2000 test data set (Sharma, Wu and Dalal).
    struct Pair {
        Lab x, y;
        double dE;
    };
    const Pair pairs[] = {
        {{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
        {{50.0, 3.1571, -77.2803}, {50.0, 0.0, -82.7485}, 2.8615},
        {{50.0, 0.0, 0.0}, {50.0, -1.0, 2.0}, 2.3669},
        {{50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}, 27.1492},
        {{50.0, 2.5, 0.0}, {61.0, -5.0, 29.0}, 22.8977},
    };
    for (const Pair& p : pairs) {
        EXPECT_NEAR(DeltaE2000(p.x, p.y), p.dE, 5e-5) << p.dE;
        EXPECT_NEAR(DeltaE2000(p.y, p.x), p.dE, 5e-5) << "symmetric, " << p.dE;
    }
    EXPECT_EQ(DeltaE2000(refs[1].got, refs[1].got), 0.0);
}

TEST(QualityMetrics, ClippingCountsPixelsNewlyAtEitherEnd) {
    // Four pixels: one newly white in blue only, one white before and after,
    // one newly black, one that moved but stayed inside.
    const Rgb8 before = Pixels({200, 200, 200, 255, 255, 255, 10, 10, 10, 100, 100, 100});
    const Rgb8 after = Pixels({200, 200, 254, 255, 255, 255, 1, 10, 10, 150, 150, 150});
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(before, after), 25.0);
    EXPECT_DOUBLE_EQ(ShadowClippingAdded(before, after), 25.0);
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(before, before), 0.0);
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(before, Pixels({1, 2, 3})), 0.0) << "sizes differ: nothing measured";
    // 253 and 2 are not clipped.
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(Pixels({100, 100, 100}), Pixels({253, 253, 253})), 0.0);
    EXPECT_DOUBLE_EQ(ShadowClippingAdded(Pixels({100, 100, 100}), Pixels({2, 2, 2})), 0.0);
}

TEST(QualityMetrics, ColourShiftIgnoresLightnessAndPicksItsAreas) {
    // A neutral grey brightened stays neutral: no shift. A skin tone turned
    // green-cyan (the harm the measure is for) shifts by far more than a
    // just noticeable difference.
    const Rgb8 before = Pixels({100, 100, 100, 200, 150, 125});
    const Rgb8 brighter = Pixels({160, 160, 160, 200, 150, 125});
    const Shift grey = ColourShift(before, brighter, IsNearNeutral);
    EXPECT_NEAR(grey.meanDeltaE, 0.0, 1e-3);
    EXPECT_DOUBLE_EQ(grey.coverPercent, 50.0);
    const Rgb8 cyanSkin = Pixels({100, 100, 100, 150, 165, 160});
    const Shift skin = ColourShift(before, cyanSkin, IsSkinTone);
    EXPECT_DOUBLE_EQ(skin.coverPercent, 50.0);
    EXPECT_GT(skin.meanDeltaE, 10.0);
    EXPECT_TRUE(IsSkinTone(LabFromSrgb8(214, 160, 134)));
    EXPECT_FALSE(IsSkinTone(LabFromSrgb8(118, 118, 118)));
    EXPECT_FALSE(IsSkinTone(LabFromSrgb8(60, 120, 200))) << "sky blue";
    EXPECT_FALSE(IsNearNeutral(LabFromSrgb8(250, 250, 250))) << "near white is left to the clipping measure";
    EXPECT_EQ(ColourShift(before, before, [](const Lab&) { return false; }).coverPercent, 0.0);
}

TEST(QualityMetrics, CastRemovedIsTheShareOfTheAreasColourTakenAway) {
    const Rgb8 orange = Pixels({200, 150, 100, 200, 150, 100});
    const Rect all{0, 0, 2, 1};
    EXPECT_NEAR(CastRemoved(orange, Pixels({160, 160, 160, 160, 160, 160}), all), 100.0, 0.1);
    EXPECT_DOUBLE_EQ(CastRemoved(orange, orange, all), 0.0);
    EXPECT_LT(CastRemoved(orange, Pixels({230, 140, 60, 230, 140, 60}), all), 0.0) << "a stronger cast";
    EXPECT_DOUBLE_EQ(CastRemoved(Pixels({0, 0, 0}), Pixels({9, 9, 9}), {0, 0, 1, 1}), 0.0) << "no colour to remove";
}

}  // namespace
}  // namespace lumarex_quality
