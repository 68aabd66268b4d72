// SPDX-License-Identifier: MIT
// What a correction did to a photo, measured on 8-bit RGB before and after
// (same size): clipping it added at both ends, how far it moved the colour
// of near-neutral and of skin-toned areas, and how much of the colour of a
// known area it took away.
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "colour_measure.h"

namespace lumarex_quality {

// An interleaved 8-bit RGB image, and the colour space its numbers are in.
struct Rgb8 {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> rgb;  // width * height * 3
    std::shared_ptr<const lumarex_cli::RgbSpace> space;  // its colour profile's; null for sRGB

    const lumarex_cli::RgbSpace& Space() const { return space ? *space : lumarex_cli::RgbSpace::Srgb(); }
};

// A rectangle in pixels.
struct Rect {
    int x = 0, y = 0, w = 0, h = 0;
};

using lumarex_cli::DeltaE2000;
using lumarex_cli::Lab;
using lumarex_cli::LabFromSrgb8;

// A channel at or above kHighClip (at or below kLowClip) counts as clipped:
// JPEG round trips turn a clipped 255 into 254 often enough that 254 counts.
inline constexpr int kHighClip = 254;
inline constexpr int kLowClip = 1;

// Percent of all pixels that have a channel at the top (bottom) after that
// was not there before.
double HighlightClippingAdded(const Rgb8& before, const Rgb8& after);
double ShadowClippingAdded(const Rgb8& before, const Rgb8& after);

// Which pixels of `before` are near neutral (chroma under 10, lightness
// 20..90) or skin toned (hue 20..65 degrees, chroma 10..45, lightness
// 25..90).
bool IsNearNeutral(const Lab& c);
bool IsSkinTone(const Lab& c);
// Saturated: chroma 20 and above. Where a photo without a cast holds its
// own colour (red fruit, foliage, a blue sky), a correction should not move it.
bool IsSaturated(const Lab& c);

// Mean CIEDE2000 between before and after over the pixels of `before` that
// `select` picks, with after's lightness set to before's: the lift is meant
// to change lightness, this measures what it did to colour. Also gives the
// share of pixels picked, percent. A mean over no pixels is 0. Both are
// measured in before's colour space.
struct Shift {
    double meanDeltaE = 0.0;
    double coverPercent = 0.0;
};
Shift ColourShift(const Rgb8& before, const Rgb8& after, bool (*select)(const Lab&));

// How much of the colour of `area` (its mean a*, b* before) was taken away,
// percent: 100 when it came out neutral, 0 when its colour is as it was,
// negative when it grew.
double CastRemoved(const Rgb8& before, const Rgb8& after, const Rect& area);

// The lightness (L*) below which `percent` of the pixels lie: the 1st
// percentile tells lifted, hazy blacks.
double DarkestLightness(const Rgb8& image, double percent);

// The mean CIELAB colour of `area`.
Lab MeanLab(const Rgb8& image, const Rect& area);

}  // namespace lumarex_quality
