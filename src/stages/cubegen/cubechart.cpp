// SPDX-License-Identifier: MIT
// lumarex_cubechart: draws each colour cube as a before/after colour chart,
// through the library's own 8-bit path, so that a person can see that the
// tables are smooth (no hue flips, no banding).
//
//   lumarex_cubechart <dir>     writes <dir>/cube_a.png, cube_b.png, cube_c.png
//
// Each chart has two rows, before (top) and after (bottom). A row holds five
// panels: saturation 1, 0.75, 0.5, 0.25 and 0 (a narrow grey strip); in each
// panel the hue runs left to right from red through yellow, green, cyan,
// blue and magenta back to red, and the value (largest channel) from 255 at
// the top to 0 at the bottom.

#include <OpenImageIO/imageio.h>

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

#include "stages/color_cube.h"

namespace {

constexpr int kHueWidth = 360;  // one column per degree
constexpr int kGreyWidth = 32;
constexpr int kValueHeight = 256;  // one row per level
constexpr int kGap = 8;
constexpr double kSaturations[] = {1.0, 0.75, 0.5, 0.25, 0.0};
constexpr int kPanels = 5;
constexpr int kWidth = 4 * (kHueWidth + kGap) + kGreyWidth;
constexpr int kHeight = 2 * kValueHeight + kGap;
constexpr uint8_t kBackground = 40;

// HSV to 8-bit RGB: hue in degrees, saturation 0..1, value in levels.
void HsvToRgb(double hue, double sat, double value, uint8_t* rgb) {
    const double h = hue / 60.0;
    const int sector = int(h) % 6;
    const double f = h - std::floor(h);
    const double p = value * (1.0 - sat), q = value * (1.0 - sat * f), t = value * (1.0 - sat * (1.0 - f));
    double r, g, b;
    switch (sector) {
        case 0: r = value, g = t, b = p; break;
        case 1: r = q, g = value, b = p; break;
        case 2: r = p, g = value, b = t; break;
        case 3: r = p, g = q, b = value; break;
        case 4: r = t, g = p, b = value; break;
        default: r = value, g = p, b = q; break;
    }
    rgb[0] = uint8_t(std::lround(r));
    rgb[1] = uint8_t(std::lround(g));
    rgb[2] = uint8_t(std::lround(b));
}

// The "before" row: kWidth x kValueHeight, interleaved RGB.
std::vector<uint8_t> ChartRow() {
    std::vector<uint8_t> px(size_t(kWidth) * kValueHeight * 3, kBackground);
    for (int y = 0; y < kValueHeight; ++y) {
        const double value = 255 - y;
        int x0 = 0;
        for (int panel = 0; panel < kPanels; ++panel) {
            const int w = kSaturations[panel] > 0.0 ? kHueWidth : kGreyWidth;
            for (int x = 0; x < w; ++x) {
                uint8_t* p = &px[(size_t(y) * kWidth + x0 + x) * 3];
                HsvToRgb(x * 360.0 / w, kSaturations[panel], value, p);
            }
            x0 += w + kGap;
        }
    }
    return px;
}

bool WriteChart(const std::string& path, int selector) {
    std::vector<uint8_t> chart(size_t(kWidth) * kHeight * 3, kBackground);
    const std::vector<uint8_t> before = ChartRow();
    std::vector<uint8_t> after = before;
    uint8_t* a = after.data();
    const lx::ImageView<uint8_t> row{{a, a + 1, a + 2}, int64_t{kWidth} * 3, 3, kWidth, kValueHeight};
    if (selector == 2) lx::ColorCubeApplyC8(row);
    else lx::ColorCubeApply8(selector, 0, row);
    std::copy(before.begin(), before.end(), chart.begin());
    std::copy(after.begin(), after.end(), chart.begin() + size_t(kValueHeight + kGap) * kWidth * 3);

    auto out = OIIO::ImageOutput::create(path);
    if (!out) return false;
    const OIIO::ImageSpec spec(kWidth, kHeight, 3, OIIO::TypeDesc::UINT8);
    const bool ok = out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, chart.data()) && out->close();
    if (!ok) std::fprintf(stderr, "cubechart: %s\n", out->geterror().c_str());
    return ok;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: lumarex_cubechart <dir>\n");
        return 2;
    }
    const std::string dir = argv[1];
    const bool ok = WriteChart(dir + "/cube_a.png", 0) && WriteChart(dir + "/cube_b.png", 1) &&
                    WriteChart(dir + "/cube_c.png", 2);
    return ok ? 0 : 1;
}
