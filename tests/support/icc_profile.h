// SPDX-License-Identifier: MIT
// ICC display profiles made to order for tests: three colorants and one
// curve, Display P3 among them, and 8-bit sRGB samples turned into Display
// P3's numbers for the same colours.
#pragma once

#include <cmath>
#include <cstdint>
#include <cstring>
#include <iterator>
#include <utility>
#include <vector>

namespace lumarex_test {

inline void Put32(std::vector<uint8_t>& v, uint32_t x) {
    for (int s = 24; s >= 0; s -= 8) v.push_back(uint8_t(x >> s));
}
inline uint32_t Fixed(double x) { return uint32_t(int32_t(std::lround(x * 65536.0))); }

inline std::vector<uint8_t> Xyz(const double (&c)[3]) {
    std::vector<uint8_t> t = {'X', 'Y', 'Z', ' ', 0, 0, 0, 0};
    for (double x : c) Put32(t, Fixed(x));
    return t;
}

// sRGB's curve as a parametric curve (function type 3).
inline std::vector<uint8_t> SrgbPara() {
    std::vector<uint8_t> t = {'p', 'a', 'r', 'a', 0, 0, 0, 0, 0, 3, 0, 0};
    for (double x : {2.4, 1.0 / 1.055, 0.055 / 1.055, 1.0 / 12.92, 0.04045}) Put32(t, Fixed(x));
    return t;
}

// sRGB's curve as a table of `n` points, as compact web profiles carry it.
inline std::vector<uint8_t> SrgbTable(int n) {
    std::vector<uint8_t> t = {'c', 'u', 'r', 'v', 0, 0, 0, 0};
    Put32(t, uint32_t(n));
    for (int i = 0; i < n; ++i) {
        const double v = double(i) / (n - 1);
        const double lin = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
        const long q = std::lround(lin * 65535.0);
        t.push_back(uint8_t(q >> 8)), t.push_back(uint8_t(q));
    }
    return t;
}

// A display profile of three colorants (XYZ at D50, as profiles store them)
// and one curve for all three channels.
inline std::vector<uint8_t> Profile(const double (&r)[3], const double (&g)[3], const double (&b)[3],
                             const std::vector<uint8_t>& curve, const char* space = "RGB ") {
    const std::pair<const char*, std::vector<uint8_t>> tags[] = {
        {"rXYZ", Xyz(r)}, {"gXYZ", Xyz(g)}, {"bXYZ", Xyz(b)}, {"rTRC", curve}, {"gTRC", curve}, {"bTRC", curve}};
    std::vector<uint8_t> p(128, 0);
    std::memcpy(&p[12], "mntr", 4);
    std::memcpy(&p[16], space, 4);
    std::memcpy(&p[20], "XYZ ", 4);
    std::memcpy(&p[36], "acsp", 4);
    Put32(p, uint32_t(std::size(tags)));
    const size_t table = p.size();
    p.resize(table + 12 * std::size(tags));
    for (size_t i = 0; i < std::size(tags); ++i) {
        const size_t at = p.size();
        p.insert(p.end(), tags[i].second.begin(), tags[i].second.end());
        while (p.size() % 4 != 0) p.push_back(0);
        std::vector<uint8_t> entry;
        entry.insert(entry.end(), tags[i].first, tags[i].first + 4);
        Put32(entry, uint32_t(at));
        Put32(entry, uint32_t(tags[i].second.size()));
        std::memcpy(&p[table + 12 * i], entry.data(), 12);
    }
    return p;
}

// Display P3's and sRGB's colorants at D50 as their published profiles hold
// them.
inline constexpr double kP3Red[3] = {0.515102, 0.241182, -0.001049}, kP3Green[3] = {0.291965, 0.692236, 0.041882},
                 kP3Blue[3] = {0.157153, 0.066574, 0.784073};
inline constexpr double kSrgbRed[3] = {0.436066, 0.222488, 0.013916}, kSrgbGreen[3] = {0.385147, 0.716873, 0.097076},
                 kSrgbBlue[3] = {0.143066, 0.060608, 0.714096};

inline std::vector<uint8_t> DisplayP3() { return Profile(kP3Red, kP3Green, kP3Blue, SrgbPara()); }

// The 8-bit sRGB sample of each channel of a colour turned into Display P3's
// numbers for the same colour (both spaces have sRGB's curve and D65 white),
// rounded.
inline void SrgbToDisplayP3(uint8_t (&rgb)[3]) {
    static constexpr double kSrgbToP3[3][3] = {{0.8224621, 0.1775380, 0.0000000},
                                               {0.0331941, 0.9668058, 0.0000000},
                                               {0.0170827, 0.0723974, 0.9105199}};
    double lin[3];
    for (int c = 0; c < 3; ++c) {
        const double v = rgb[c] / 255.0;
        lin[c] = v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4);
    }
    for (int c = 0; c < 3; ++c) {
        const double v = std::fmin(std::fmax(kSrgbToP3[c][0] * lin[0] + kSrgbToP3[c][1] * lin[1] +
                                                  kSrgbToP3[c][2] * lin[2], 0.0), 1.0);
        const double e = v <= 0.0031308 ? 12.92 * v : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
        rgb[c] = uint8_t(std::lround(e * 255.0));
    }
}

}  // namespace lumarex_test
