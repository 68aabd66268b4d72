// SPDX-License-Identifier: MIT
#include "metrics.h"

#include <algorithm>
#include <cmath>

namespace lumarex_quality {
namespace {

template <typename Count>
double PercentOfPixels(const Rgb8& before, const Rgb8& after, Count newly) {
    const size_t n = size_t(before.width) * before.height;
    if (n == 0 || after.rgb.size() != before.rgb.size()) return 0.0;
    size_t hits = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &before.rgb[i * 3];
        const uint8_t* q = &after.rgb[i * 3];
        hits += (newly(p[0], q[0]) || newly(p[1], q[1]) || newly(p[2], q[2])) ? 1 : 0;
    }
    return 100.0 * double(hits) / double(n);
}

}  // namespace

double HighlightClippingAdded(const Rgb8& before, const Rgb8& after) {
    return PercentOfPixels(before, after, [](uint8_t p, uint8_t q) { return q >= kHighClip && p < kHighClip; });
}

double ShadowClippingAdded(const Rgb8& before, const Rgb8& after) {
    return PercentOfPixels(before, after, [](uint8_t p, uint8_t q) { return q <= kLowClip && p > kLowClip; });
}

bool IsNearNeutral(const Lab& c) { return Chroma(c) < 10.0 && c.l >= 20.0 && c.l <= 90.0; }

bool IsSaturated(const Lab& c) { return Chroma(c) >= 20.0; }

bool IsSkinTone(const Lab& c) {
    const double chroma = Chroma(c);
    if (chroma < 10.0 || chroma > 45.0 || c.l < 25.0 || c.l > 90.0) return false;
    const double hue = HueDegrees(c);
    return hue >= 20.0 && hue <= 65.0;
}

Shift ColourShift(const Rgb8& before, const Rgb8& after, bool (*select)(const Lab&)) {
    const size_t n = size_t(before.width) * before.height;
    if (n == 0 || after.rgb.size() != before.rgb.size()) return {};
    const lumarex_cli::RgbSpace& space = before.Space();
    double sum = 0.0;
    size_t picked = 0;
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &before.rgb[i * 3];
        const Lab was = space.LabOf(p[0], p[1], p[2]);
        if (!select(was)) continue;
        const uint8_t* q = &after.rgb[i * 3];
        Lab now = space.LabOf(q[0], q[1], q[2]);
        now.l = was.l;
        sum += DeltaE2000(was, now);
        ++picked;
    }
    if (picked == 0) return {};
    return {sum / double(picked), 100.0 * double(picked) / double(n)};
}

Lab MeanLab(const Rgb8& image, const Rect& area) {
    Lab sum;
    size_t n = 0;
    for (int y = area.y; y < area.y + area.h && y < image.height; ++y)
        for (int x = area.x; x < area.x + area.w && x < image.width; ++x) {
            const uint8_t* p = &image.rgb[(size_t(y) * image.width + x) * 3];
            const Lab c = image.Space().LabOf(p[0], p[1], p[2]);
            sum.l += c.l, sum.a += c.a, sum.b += c.b;
            ++n;
        }
    if (n == 0) return {};
    return {sum.l / double(n), sum.a / double(n), sum.b / double(n)};
}

double CastRemoved(const Rgb8& before, const Rgb8& after, const Rect& area) {
    const Lab was = MeanLab(before, area), now = MeanLab(after, area);
    const double c0 = std::hypot(was.a, was.b);
    if (c0 == 0.0) return 0.0;
    return 100.0 * (1.0 - std::hypot(now.a, now.b) / c0);
}

double DarkestLightness(const Rgb8& image, double percent) {
    const size_t n = size_t(image.width) * image.height;
    if (n == 0) return 0.0;
    // L* of each 8-bit luma level is close enough for a percentile: count
    // the pixels by the lightness of their own colour, in tenths.
    std::vector<uint32_t> counts(1001, 0);
    for (size_t i = 0; i < n; ++i) {
        const uint8_t* p = &image.rgb[i * 3];
        const double l = std::clamp(image.Space().LightnessOf(p[0], p[1], p[2]), 0.0, 100.0);
        ++counts[size_t(std::lround(l * 10.0))];
    }
    const double wanted = percent / 100.0 * double(n);
    double seen = 0.0;
    for (size_t k = 0; k < counts.size(); ++k) {
        seen += counts[k];
        if (seen >= wanted && seen > 0.0) return double(k) / 10.0;
    }
    return 100.0;
}

}  // namespace lumarex_quality
