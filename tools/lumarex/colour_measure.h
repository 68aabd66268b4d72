// SPDX-License-Identifier: MIT
// CIELAB colours of 8-bit RGB samples and the CIEDE2000 difference between
// them: what the command's colour guard measures a correction by, and what
// the quality benchmark reports. Double precision; none of it feeds the
// library's arithmetic.
#pragma once

#include <array>
#include <cstdint>

namespace lumarex_cli {

struct Lab {
    double l = 0.0, a = 0.0, b = 0.0;
};

// D65 white, XYZ with Y = 1: the white CIELAB is taken relative to.
inline constexpr double kD65White[3] = {0.95047, 1.0, 1.08883};

// XYZ (D65) to linear sRGB: the inverse of sRGB's matrix.
inline constexpr double kXyzToLinearSrgb[3][3] = {{3.2404542, -1.5371385, -0.4985314},
                                                  {-0.9692660, 1.8760108, 0.0415560},
                                                  {0.0556434, -0.2040259, 1.0572252}};

// A linear sRGB value as sRGB's number for it, 0..1: clipped to 0..1, then
// sRGB's curve.
double SrgbEncoded(double linear);

// An RGB colour space of 8-bit samples as CIELAB sees it (D65 white): each
// channel's level to its linear value, then a matrix to CIE XYZ. sRGB unless
// the photo's colour profile says otherwise (colour_profile.h): a Display P3
// or Adobe RGB photo's samples mean more saturated colours than the same
// numbers in sRGB.
class RgbSpace {
public:
    using Table = std::array<double, 256>;
    using Matrix = std::array<std::array<double, 3>, 3>;  // rows X, Y, Z; columns R, G, B

    // `linear` per channel; `toXyz` takes linear RGB to XYZ with the D65
    // white at Y = 1.
    RgbSpace(const std::array<Table, 3>& linear, const Matrix& toXyz);

    static const RgbSpace& Srgb();

    Lab LabOf(uint8_t r, uint8_t g, uint8_t b) const;
    // L* alone, 0..100: cheaper than the whole colour.
    double LightnessOf(uint8_t r, uint8_t g, uint8_t b) const;

    // The same colour in 8-bit sRGB, rounded, outside sRGB's gamut clipped
    // channel by channel.
    std::array<uint8_t, 3> SrgbOf(uint8_t r, uint8_t g, uint8_t b) const;

    // Whether every level's linear value and every matrix entry lie within
    // `tolerance` of sRGB's.
    bool CloseToSrgb(double tolerance) const;

private:
    std::array<Table, 3> linear_;
    Matrix toXyz_;
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
