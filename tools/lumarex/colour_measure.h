// SPDX-License-Identifier: MIT
// CIELAB colours of 8-bit sRGB samples and the CIEDE2000 difference between
// them: what the command's colour guard measures a correction by, and what
// the quality benchmark reports. Double precision; none of it feeds the
// library's arithmetic.
#pragma once

#include <cstdint>

namespace lumarex_cli {

struct Lab {
    double l = 0.0, a = 0.0, b = 0.0;
};

// sRGB (8-bit, D65) to CIELAB.
Lab LabFromSrgb8(uint8_t r, uint8_t g, uint8_t b);

// CIELAB lightness L* alone, 0..100: cheaper than the whole colour.
double LightnessFromSrgb8(uint8_t r, uint8_t g, uint8_t b);

// The CIEDE2000 colour difference (kL = kC = kH = 1).
double DeltaE2000(const Lab& x, const Lab& y);

// Chroma (the distance from neutral in a*, b*) and hue angle, 0..360 degrees.
double Chroma(const Lab& c);
double HueDegrees(const Lab& c);

}  // namespace lumarex_cli
