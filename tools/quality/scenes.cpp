// SPDX-License-Identifier: MIT
#include "scenes.h"

#include <algorithm>
#include <cmath>
#include <cstdint>

namespace lumarex_quality {
namespace {

struct Linear {
    double r = 0.0, g = 0.0, b = 0.0;
};

// An 8-bit sRGB colour in linear light.
Linear FromSrgb(int r, int g, int b) {
    auto lin = [](int v) {
        const double s = v / 255.0;
        return s <= 0.04045 ? s / 12.92 : std::pow((s + 0.055) / 1.055, 2.4);
    };
    return {lin(r), lin(g), lin(b)};
}

uint8_t Encode(double v) {
    v = std::clamp(v, 0.0, 1.0);
    const double s = v <= 0.0031308 ? v * 12.92 : 1.055 * std::pow(v, 1.0 / 2.4) - 0.055;
    return uint8_t(std::lround(s * 255.0));
}

// Sensor-like grain: a fixed hash of the position, +-`amount` in linear light
// relative to the value, so that histograms are not combs of single levels.
double Grain(int x, int y, int c) {
    uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c + 1) * 83492791u;
    h ^= h >> 13, h *= 0x5bd1e995u, h ^= h >> 15;
    return double(h & 0xffffu) / 65535.0 - 0.5;
}

// A scene drawn as a function of the position (0..1 in both axes) in linear
// light, times the light's colour, with grain of +-2 % of the value plus a
// few levels, as a camera's.
template <typename Paint>
Rgb8 Draw(int w, int h, Linear light, Paint paint) {
    Rgb8 img{w, h, std::vector<uint8_t>(size_t(w) * h * 3), nullptr};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const Linear c = paint((x + 0.5) / w, (y + 0.5) / h);
            uint8_t* p = &img.rgb[(size_t(y) * w + x) * 3];
            const double v[3] = {c.r * light.r, c.g * light.g, c.b * light.b};
            for (int k = 0; k < 3; ++k) {
                // Four uniform draws: a bell of +-6 levels (sd 1.7) whose tails
                // hold few pixels, as a sensor's noise.
                const double bell = Grain(y, x, k + 3) + Grain(x + 7, y, k + 6) + Grain(x, y + 5, k + 9) +
                                    Grain(y + 3, x + 11, k + 12);
                const int e = Encode(v[k] * (1.0 + 0.04 * Grain(x, y, k))) + int(std::lround(3.0 * bell));
                p[k] = uint8_t(std::clamp(e, 0, 255));
            }
        }
    return img;
}

Rect Area(int w, int h, double x0, double y0, double x1, double y1) {
    const int ax = int(x0 * w), ay = int(y0 * h);
    return {ax, ay, std::max(1, int(x1 * w) - ax), std::max(1, int(y1 * h) - ay)};
}

bool Inside(double u, double v, double x0, double y0, double x1, double y1) {
    return u >= x0 && u < x1 && v >= y0 && v < y1;
}

// 24 patches of common object colours (8-bit sRGB under daylight), in four
// rows of six: natural colours, saturated primaries, then greys.
constexpr int kPatches[24][3] = {
    {115, 82, 68},   {194, 150, 130}, {98, 122, 157},  {87, 108, 67},   {133, 128, 177}, {103, 189, 170},
    {214, 126, 44},  {80, 91, 166},   {193, 90, 99},   {94, 60, 108},   {157, 188, 64},  {224, 163, 46},
    {56, 61, 150},   {70, 148, 73},   {175, 54, 60},   {231, 199, 31},  {187, 86, 149},  {8, 133, 161},
    {243, 243, 242}, {200, 200, 200}, {160, 160, 160}, {122, 122, 121}, {85, 85, 85},    {52, 52, 52},
};

// A room: a wall darkening toward the corners, a floor, the 24 patches on
// the left, the 18 % card (sRGB 118) in the middle right.
Linear Room(double u, double v) {
    if (Inside(u, v, 0.58, 0.25, 0.88, 0.70)) return FromSrgb(118, 118, 118);
    if (Inside(u, v, 0.06, 0.20, 0.52, 0.80)) {
        const int col = std::min(5, int((u - 0.06) / 0.46 * 6.0)), row = std::min(3, int((v - 0.20) / 0.60 * 4.0));
        const double cu = (u - 0.06) / 0.46 * 6.0 - col, cv = (v - 0.20) / 0.60 * 4.0 - row;
        if (cu > 0.08 && cu < 0.92 && cv > 0.08 && cv < 0.92) {
            const int* c = kPatches[row * 6 + col];
            return FromSrgb(c[0], c[1], c[2]);
        }
        return FromSrgb(30, 30, 30);
    }
    const double fall = 1.0 - 0.5 * ((u - 0.5) * (u - 0.5) + (v - 0.4) * (v - 0.4));
    const Linear wall = v > 0.85 ? FromSrgb(110, 92, 75) : FromSrgb(170, 168, 165);
    return {wall.r * fall, wall.g * fall, wall.b * fall};
}

Linear Portrait(double u, double v) {
    const double du = (u - 0.5) / 0.22, dv = (v - 0.45) / 0.32;
    const double face = du * du + dv * dv;
    if (v > 0.82) return FromSrgb(236, 236, 232);  // shirt
    if (face < 1.0) {
        if (v < 0.22) return FromSrgb(45, 32, 25);  // hair
        // Skin lit from the left: lighter on one cheek, a shadow on the other.
        const double shade = 1.05 - 0.35 * std::clamp(du, -1.0, 1.0) * 0.5 - 0.15 * face;
        const Linear s = FromSrgb(214, 160, 134);
        return {s.r * shade, s.g * shade, s.b * shade};
    }
    const double fall = 0.8 + 0.2 * v;
    const Linear wall = FromSrgb(128, 130, 132);
    return {wall.r * fall, wall.g * fall, wall.b * fall};
}

Linear Sunset(double u, double v) {
    const double horizon = 0.66;
    if (v > horizon + 0.03 * std::sin(u * 9.0)) {
        // The shore: dark rocks, 6..40 levels.
        const int l = 6 + int(34.0 * (0.5 + 0.5 * std::sin(u * 37.0) * std::cos(v * 23.0)));
        return FromSrgb(l + 4, l, l - 2 > 0 ? l - 2 : 0);
    }
    const double su = u - 0.62, sv = v - 0.58;
    if (su * su + sv * sv < 0.0016) return FromSrgb(255, 250, 225);  // the sun
    const double glow = std::exp(-(su * su + sv * sv) * 18.0);
    const double t = std::clamp(v / horizon, 0.0, 1.0);  // 0 at the top, 1 at the horizon
    const Linear top = FromSrgb(48, 52, 104), mid = FromSrgb(176, 92, 96), low = FromSrgb(246, 152, 62);
    const Linear a = t < 0.5 ? top : mid, b = t < 0.5 ? mid : low;
    const double k = t < 0.5 ? t * 2.0 : (t - 0.5) * 2.0;
    Linear c{a.r + (b.r - a.r) * k, a.g + (b.g - a.g) * k, a.b + (b.b - a.b) * k};
    const Linear sun = FromSrgb(255, 214, 150);
    return {c.r + (sun.r - c.r) * glow, c.g + (sun.g - c.g) * glow, c.b + (sun.b - c.b) * glow};
}

Linear WellExposed(double u, double v) {
    if (Inside(u, v, 0.05, 0.08, 0.95, 0.92)) {
        const int col = std::min(5, int((u - 0.05) / 0.90 * 6.0)), row = std::min(3, int((v - 0.08) / 0.84 * 4.0));
        const double cu = (u - 0.05) / 0.90 * 6.0 - col, cv = (v - 0.08) / 0.84 * 4.0 - row;
        if (cu > 0.06 && cu < 0.94 && cv > 0.06 && cv < 0.94) {
            const int* c = kPatches[row * 6 + col];
            return FromSrgb(c[0], c[1], c[2]);
        }
    }
    return FromSrgb(118, 118, 118);
}

Linear HighKey(double u, double v) {
    const double du = u - 0.35, dv = v - 0.5;
    if (du * du + dv * dv < 0.04) return FromSrgb(238, 222, 210);  // a pale vase
    if (Inside(u, v, 0.60, 0.30, 0.85, 0.75)) return FromSrgb(205, 214, 226);  // a pale blue box
    if (v > 0.78) return FromSrgb(222, 222, 220);  // table
    return FromSrgb(244, 244, 242);  // white wall
}

Linear Night(double u, double v) {
    for (double lx : {0.2, 0.45, 0.7, 0.9}) {
        const double du = (u - lx) * 4.0, dv = v - 0.3;
        const double d = du * du + dv * dv;
        if (d < 0.0012) return FromSrgb(255, 236, 190);  // a lamp
        if (d < 0.02) {
            const double glow = 1.0 - d / 0.02;
            const Linear l = FromSrgb(160, 120, 70);
            return {l.r * glow + 0.004, l.g * glow + 0.004, l.b * glow + 0.006};
        }
    }
    // Windows, walls and the street from 8 to 50 levels; the sky 10..30.
    const int t = int(21.0 * (1.0 + std::sin(u * 41.0) * std::sin(v * 29.0)));
    if (v > 0.7) return FromSrgb(8 + t, 8 + t, 10 + t);  // the street
    if (Inside(u, v, 0.05, 0.35, 0.95, 0.7)) return FromSrgb(10 + t, 10 + t, 14 + t);  // house fronts
    return FromSrgb(10 + int(20.0 * v), 12 + int(20.0 * v), 22 + int(20.0 * v));  // the sky
}

// A clear sky filling the frame, deep blue at the top paling towards the
// horizon, with a small red kite on its string: the blue is the scene's.
Linear ClearSky(double u, double v) {
    const double ku = (u - 0.68) / 0.05, kv = (v - 0.40) / 0.08;
    if (std::fabs(ku) + std::fabs(kv) < 1.0) return FromSrgb(200, 40, 36);  // the kite
    if (v > 0.48 && std::fabs(u - 0.68 + (v - 0.48) * 0.6) < 0.002) return FromSrgb(60, 60, 60);  // its string
    const Linear top = FromSrgb(52, 98, 190), low = FromSrgb(168, 200, 238);
    return {top.r + (low.r - top.r) * v, top.g + (low.g - top.g) * v, top.b + (low.b - top.b) * v};
}

// An orange evening sky turning yellow towards the horizon, over the black
// silhouette of a hill with a tree on it: the sky's colour is the light's,
// and a photographer keeps it.
Linear EveningSky(double u, double v) {
    const double hill = 0.80 - 0.08 * std::sin(u * 3.0);
    const double tu = (u - 0.3) / 0.06, tv = (v - (hill - 0.14)) / 0.12;
    if (v > hill || tu * tu + tv * tv < 1.0 || (std::fabs(u - 0.3) < 0.006 && v > hill - 0.05))
        return FromSrgb(24, 20, 20);
    const Linear top = FromSrgb(236, 128, 56), low = FromSrgb(250, 206, 120);
    const double t = v / hill;
    return {top.r + (low.r - top.r) * t, top.g + (low.g - top.g) * t, top.b + (low.b - top.b) * t};
}

}  // namespace

std::vector<Scene> MakeScenes(int width, int height) {
    const int w = std::max(width, 64), h = std::max(height, 48);
    std::vector<Scene> s;
    s.push_back({"grey-card-tungsten", Draw(w, h, {1.0, 0.72, 0.42}, Room), CastGoal::kRemove,
                 Area(w, h, 0.60, 0.27, 0.86, 0.68)});
    s.push_back({"grey-card-shade", Draw(w, h, {0.74, 0.88, 1.0}, Room), CastGoal::kRemove,
                 Area(w, h, 0.60, 0.27, 0.86, 0.68)});
    s.push_back({"skin-patch", Draw(w, h, {1.0, 1.0, 1.0}, Portrait), CastGoal::kNone, {}});
    s.push_back({"sunset-gradient", Draw(w, h, {1.0, 1.0, 1.0}, Sunset), CastGoal::kKeep,
                 Area(w, h, 0.0, 0.42, 0.45, 0.62)});
    s.push_back({"well-exposed", Draw(w, h, {1.0, 1.0, 1.0}, WellExposed), CastGoal::kNone, {}});
    s.push_back({"high-key", Draw(w, h, {1.0, 1.0, 1.0}, HighKey), CastGoal::kNone, {}});
    s.push_back({"night", Draw(w, h, {1.0, 1.0, 1.0}, Night), CastGoal::kNone, {}});
    s.push_back({"clear-sky", Draw(w, h, {1.0, 1.0, 1.0}, ClearSky), CastGoal::kKeep,
                 Area(w, h, 0.05, 0.05, 0.55, 0.95)});
    s.push_back({"evening-sky", Draw(w, h, {1.0, 1.0, 1.0}, EveningSky), CastGoal::kKeep,
                 Area(w, h, 0.45, 0.05, 0.95, 0.60)});
    return s;
}

}  // namespace lumarex_quality
