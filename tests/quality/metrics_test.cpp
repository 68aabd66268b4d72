// SPDX-License-Identifier: MIT
#include "metrics.h"

#include <gtest/gtest.h>

namespace lumarex_quality {
namespace {

Rgb8 Pixels(std::initializer_list<uint8_t> rgb) { return Rgb8{int(rgb.size() / 3), 1, std::vector<uint8_t>(rgb), nullptr}; }

TEST(QualityMetrics, LabAndCiede2000MatchPublishedValues) {
    // sRGB white, red and blue in CIELAB (D65), as colour references list them.
    const struct {
        Lab got, want;
    } refs[] = {{LabFromSrgb8(255, 255, 255), {100.0, 0.0, 0.0}},
                {LabFromSrgb8(255, 0, 0), {53.24, 80.09, 67.20}},
                {LabFromSrgb8(0, 0, 255), {32.30, 79.19, -107.86}}};
    for (const auto& [got, want] : refs)
        for (auto part : {&Lab::l, &Lab::a, &Lab::b}) EXPECT_NEAR(got.*part, want.*part, 0.05) << want.l;
    EXPECT_NEAR(LabFromSrgb8(118, 118, 118).l, 49.64, 0.01) << "the 18 % grey card";

    // Pairs from the CIEDE2000 test data set (Sharma, Wu and Dalal), both ways round.
    const struct {
        Lab x, y;
        double dE;
    } pairs[] = {{{50.0, 2.6772, -79.7751}, {50.0, 0.0, -82.7485}, 2.0425},
                 {{50.0, 0.0, 0.0}, {50.0, -1.0, 2.0}, 2.3669},
                 {{50.0, 2.5, 0.0}, {73.0, 25.0, -18.0}, 27.1492}};
    for (const auto& [x, y, dE] : pairs) {
        EXPECT_NEAR(DeltaE2000(x, y), dE, 5e-5);
        EXPECT_NEAR(DeltaE2000(y, x), dE, 5e-5);
    }
}

TEST(QualityMetrics, ClippingColourShiftAndCastRemoved) {
    // Newly at 254 in blue only, white before and after, newly at 1, and
    // moved to 253 and 2, which are not clipped.
    const Rgb8 before = Pixels({200, 200, 200, 255, 255, 255, 10, 10, 10, 100, 100, 100});
    const Rgb8 after = Pixels({200, 200, 254, 255, 255, 255, 1, 10, 10, 253, 2, 100});
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(before, after), 25.0);
    EXPECT_DOUBLE_EQ(ShadowClippingAdded(before, after), 25.0);
    EXPECT_DOUBLE_EQ(HighlightClippingAdded(before, Pixels({1, 2, 3})), 0.0) << "sizes differ: nothing measured";

    // A grey brightened keeps its colour; skin turned green-cyan (the harm
    // the measure is for) moves far more than a just noticeable difference.
    const Rgb8 greyAndSkin = Pixels({100, 100, 100, 200, 150, 125});
    const Shift grey = ColourShift(greyAndSkin, Pixels({160, 160, 160, 200, 150, 125}), IsNearNeutral);
    EXPECT_NEAR(grey.meanDeltaE, 0.0, 1e-3);
    EXPECT_DOUBLE_EQ(grey.coverPercent, 50.0);
    const Shift skin = ColourShift(greyAndSkin, Pixels({100, 100, 100, 150, 165, 160}), IsSkinTone);
    EXPECT_DOUBLE_EQ(skin.coverPercent, 50.0);
    EXPECT_GT(skin.meanDeltaE, 10.0);
    EXPECT_FALSE(IsSkinTone(LabFromSrgb8(60, 120, 200))) << "sky blue";
    EXPECT_FALSE(IsNearNeutral(LabFromSrgb8(250, 250, 250))) << "near white is left to the clipping measure";
    const Shift none = ColourShift(greyAndSkin, Pixels({100, 100, 100, 150, 165, 160}), [](const Lab&) { return false; });
    EXPECT_TRUE(none.coverPercent == 0.0 && none.meanDeltaE == 0.0) << "no pixel picked: nothing measured";

    const Rgb8 orange = Pixels({200, 150, 100, 200, 150, 100});
    const Rect all{0, 0, 2, 1};
    EXPECT_NEAR(CastRemoved(orange, Pixels({160, 160, 160, 160, 160, 160}), all), 100.0, 0.1);
    EXPECT_DOUBLE_EQ(CastRemoved(orange, orange, all), 0.0);
    EXPECT_LT(CastRemoved(orange, Pixels({230, 140, 60, 230, 140, 60}), all), 0.0) << "a stronger cast";
    EXPECT_DOUBLE_EQ(CastRemoved(Pixels({0, 0, 0}), Pixels({9, 9, 9}), {0, 0, 1, 1}), 0.0) << "no colour to remove";
}

}  // namespace
}  // namespace lumarex_quality
