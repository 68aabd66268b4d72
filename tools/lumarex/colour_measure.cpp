// SPDX-License-Identifier: MIT
#include "colour_measure.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <numbers>

namespace lumarex_cli {
namespace {

constexpr double kPi = std::numbers::pi;

double Linear(double v) { return v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4); }

double LabF(double t) {
    constexpr double e = 216.0 / 24389.0, k = 24389.0 / 27.0;
    return t > e ? std::cbrt(t) : (k * t + 16.0) / 116.0;
}

// The 256 linear values of an 8-bit sRGB sample.
RgbSpace::Table SrgbTable() {
    RgbSpace::Table t{};
    for (int i = 0; i < 256; ++i) t[size_t(i)] = Linear(i / 255.0);
    return t;
}

double Degrees(double radians) {
    const double d = radians * 180.0 / kPi;
    return d < 0.0 ? d + 360.0 : d;
}

double Radians(double degrees) { return degrees * kPi / 180.0; }

}  // namespace

RgbSpace::RgbSpace(const std::array<Table, 3>& linear, const Matrix& toXyz) : linear_(linear), toXyz_(toXyz) {}

const RgbSpace& RgbSpace::Srgb() {
    // sRGB primaries; the luminance row is Rec. 709's.
    static const RgbSpace srgb({SrgbTable(), SrgbTable(), SrgbTable()},
                               {{{0.4124564, 0.3575761, 0.1804375},
                                 {0.2126729, 0.7151522, 0.0721750},
                                 {0.0193339, 0.1191920, 0.9503041}}});
    return srgb;
}

Lab RgbSpace::LabOf(uint8_t r, uint8_t g, uint8_t b) const {
    const double R = linear_[0][r], G = linear_[1][g], B = linear_[2][b];
    double f[3];
    for (int k = 0; k < 3; ++k) {
        const auto& m = toXyz_[size_t(k)];
        f[k] = LabF((m[0] * R + m[1] * G + m[2] * B) / kD65White[k]);
    }
    return {116.0 * f[1] - 16.0, 500.0 * (f[0] - f[1]), 200.0 * (f[1] - f[2])};
}

double RgbSpace::LightnessOf(uint8_t r, uint8_t g, uint8_t b) const {
    const auto& m = toXyz_[1];
    return 116.0 * LabF(m[0] * linear_[0][r] + m[1] * linear_[1][g] + m[2] * linear_[2][b]) - 16.0;
}

double SrgbEncoded(double linear) {
    const double v = std::clamp(linear, 0.0, 1.0);
    return std::clamp(v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055, 0.0, 1.0);
}

std::array<uint8_t, 3> RgbSpace::SrgbOf(uint8_t r, uint8_t g, uint8_t b) const {
    const double R = linear_[0][r], G = linear_[1][g], B = linear_[2][b];
    double xyz[3];
    for (size_t k = 0; k < 3; ++k) xyz[k] = toXyz_[k][0] * R + toXyz_[k][1] * G + toXyz_[k][2] * B;
    std::array<uint8_t, 3> out{};
    for (size_t c = 0; c < 3; ++c) {
        const auto& m = kXyzToLinearSrgb[c];
        out[c] = uint8_t(std::lround(SrgbEncoded(m[0] * xyz[0] + m[1] * xyz[1] + m[2] * xyz[2]) * 255.0));
    }
    return out;
}

bool RgbSpace::CloseToSrgb(double tolerance) const {
    const RgbSpace& s = Srgb();
    for (size_t c = 0; c < 3; ++c)
        for (size_t i = 0; i < 256; ++i)
            if (!(std::fabs(linear_[c][i] - s.linear_[c][i]) <= tolerance)) return false;
    for (size_t r = 0; r < 3; ++r)
        for (size_t c = 0; c < 3; ++c)
            if (!(std::fabs(toXyz_[r][c] - s.toXyz_[r][c]) <= tolerance)) return false;
    return true;
}

Lab LabFromSrgb8(uint8_t r, uint8_t g, uint8_t b) { return RgbSpace::Srgb().LabOf(r, g, b); }

double LightnessFromSrgb8(uint8_t r, uint8_t g, uint8_t b) { return RgbSpace::Srgb().LightnessOf(r, g, b); }

double DeltaE2000(const Lab& x, const Lab& y) {
    const double c1 = std::hypot(x.a, x.b), c2 = std::hypot(y.a, y.b);
    const double cMean = (c1 + c2) / 2.0;
    const double c7 = std::pow(cMean, 7.0);
    const double g = 0.5 * (1.0 - std::sqrt(c7 / (c7 + std::pow(25.0, 7.0))));
    const double a1 = (1.0 + g) * x.a, a2 = (1.0 + g) * y.a;
    const double cp1 = std::hypot(a1, x.b), cp2 = std::hypot(a2, y.b);
    const double hp1 = (a1 == 0.0 && x.b == 0.0) ? 0.0 : Degrees(std::atan2(x.b, a1));
    const double hp2 = (a2 == 0.0 && y.b == 0.0) ? 0.0 : Degrees(std::atan2(y.b, a2));

    const double dL = y.l - x.l, dC = cp2 - cp1;
    double dh = 0.0;
    if (cp1 * cp2 != 0.0) {
        dh = hp2 - hp1;
        if (dh > 180.0) dh -= 360.0;
        else if (dh < -180.0) dh += 360.0;
    }
    const double dH = 2.0 * std::sqrt(cp1 * cp2) * std::sin(Radians(dh / 2.0));

    const double lMean = (x.l + y.l) / 2.0, cpMean = (cp1 + cp2) / 2.0;
    double hMean = hp1 + hp2;
    if (cp1 * cp2 != 0.0) {
        if (std::fabs(hp1 - hp2) <= 180.0) hMean /= 2.0;
        else hMean = hMean < 360.0 ? (hMean + 360.0) / 2.0 : (hMean - 360.0) / 2.0;
    }
    const double t = 1.0 - 0.17 * std::cos(Radians(hMean - 30.0)) + 0.24 * std::cos(Radians(2.0 * hMean)) +
                     0.32 * std::cos(Radians(3.0 * hMean + 6.0)) - 0.20 * std::cos(Radians(4.0 * hMean - 63.0));
    const double dTheta = 30.0 * std::exp(-std::pow((hMean - 275.0) / 25.0, 2.0));
    const double cp7 = std::pow(cpMean, 7.0);
    const double rc = 2.0 * std::sqrt(cp7 / (cp7 + std::pow(25.0, 7.0)));
    const double l50 = (lMean - 50.0) * (lMean - 50.0);
    const double sl = 1.0 + 0.015 * l50 / std::sqrt(20.0 + l50);
    const double sc = 1.0 + 0.045 * cpMean;
    const double sh = 1.0 + 0.015 * cpMean * t;
    const double rt = -std::sin(Radians(2.0 * dTheta)) * rc;
    const double tl = dL / sl, tc = dC / sc, th = dH / sh;
    return std::sqrt(tl * tl + tc * tc + th * th + rt * tc * th);
}

double Chroma(const Lab& c) { return std::hypot(c.a, c.b); }

double HueDegrees(const Lab& c) { return Degrees(std::atan2(c.b, c.a)); }

}  // namespace lumarex_cli
