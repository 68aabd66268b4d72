// SPDX-License-Identifier: MIT
#include "stages/color_cube.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <array>
#include <cstdint>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;
enum Cube { kA = 0, kB = 1, kC = 2 };

template <class T>
Rgb Through(Cube cube, Rgb in) {
    T px[3] = {T(in[0]), T(in[1]), T(in[2])};
    const auto view = lx::test::PixelView(px);
    if constexpr (sizeof(T) == 1) cube == kC ? lx::ColorCubeApplyC8(view) : lx::ColorCubeApply8(cube, 0, view);
    else cube == kC ? lx::ColorCubeApplyC16(view) : lx::ColorCubeApply16(cube, 0, view);
    return {px[0], px[1], px[2]};
}

// Worked values. 8 bits: the table's sum truncated; at 255 the rounded
// coefficients may leave it a level short of the lattice. 16 bits: a sample
// belongs to the cell of ceil(v / 256) (level 31.5 on CubeC's red edge
// extrapolates the second cell back, 37 - 35 * 0.5 / 32 = 36.453125, stored
// as 9332; the first cell would give 9324), and results round to nearest,
// halves up (grey 611 in CubeA: 823.57, 578.30, 545.59 -> 824, 578, 546).
TEST(ColorCube, WorkedValues) {
    const struct { Cube cube; Rgb in, out; } cases8[] = {
        {kA, {16, 16, 16}, {17, 15, 15}},  // other corners of the cell are not grey
        {kA, {255, 0, 0}, {254, 12, 0}},   // one level short of the lattice's (255, 13, 0)
        {kB, {96, 128, 192}, {96, 116, 192}},
        {kC, {64, 128, 64}, {66, 132, 66}},
        {kC, {255, 255, 255}, {254, 254, 254}},  // 254.998 truncated
    };
    for (const auto& c : cases8) EXPECT_EQ(Through<uint8_t>(c.cube, c.in), c.out) << "cube " << c.cube;
    for (int g : {0, 32, 64, 96, 128, 160, 192, 224, 255}) EXPECT_EQ(Through<uint8_t>(kA, {g, g, g}), (Rgb{g, g, g}));
    EXPECT_EQ(Through<uint16_t>(kC, {31 * 256 + 128, 0, 0}), (Rgb{9332, 0, 0}));
    EXPECT_EQ(Through<uint16_t>(kA, {611, 611, 611}), (Rgb{824, 578, 546}));
}

TEST(ColorCube, SixteenBitTopsOutAt65280) {
    for (Cube cube : {kA, kB, kC}) {
        EXPECT_EQ(Through<uint16_t>(cube, {65535, 65535, 65535}), (Rgb{65280, 65280, 65280})) << "cube " << cube;
        for (int v = 65280; v <= 65535; v += 15)
            for (Rgb in : {Rgb{v, 0, 0}, Rgb{v, v / 2, 65535 - v}})
                for (int out : Through<uint16_t>(cube, in)) EXPECT_LE(out, 65280);
    }
}

// Every 17th level of each channel: 4096 colours, interleaved.
std::vector<uint8_t> ColourGrid8() {
    std::vector<uint8_t> px;
    for (int r = 0; r < 256; r += 17)
        for (int g = 0; g < 256; g += 17)
            for (int b = 0; b < 256; b += 17) px.insert(px.end(), {uint8_t(r), uint8_t(g), uint8_t(b)});
    return px;
}

void Apply(int selector, int alsoC, lx::ImageView<uint8_t> v) { lx::ColorCubeApply8(selector, alsoC, v); }
void Apply(int selector, int alsoC, lx::ImageView<uint16_t> v) { lx::ColorCubeApply16(selector, alsoC, v); }
void ApplyC(lx::ImageView<uint8_t> v) { lx::ColorCubeApplyC8(v); }
void ApplyC(lx::ImageView<uint16_t> v) { lx::ColorCubeApplyC16(v); }

// The first table and CubeC in one call give what two calls give, with the
// whole image passing the first table before any of it passes CubeC: on a
// grid of colours, and on rows that share samples (a row stride of one
// pixel, or pixels that all sit on one sample).
template <class T>
void ExpectOneCallIsTwoPasses(int selector, int alsoC, int scale, int w, int h, int pixelStride, int rowStride) {
    const std::vector<uint8_t> grid = ColourGrid8();
    std::vector<T> fused(grid.begin(), grid.end()), steps;
    for (T& v : fused) v = T(v * scale);
    steps = fused;
    const auto view = [&](std::vector<T>& px) { return lx::test::View(&px[0], &px[1], &px[2], w, h, pixelStride, rowStride); };
    Apply(selector, alsoC, view(fused));
    Apply(selector, 0, view(steps));
    ApplyC(view(steps));
    EXPECT_EQ(fused, steps) << sizeof(T) * 8 << "-bit, selector " << selector << ", " << w << " x " << h << ", strides "
                            << pixelStride << ", " << rowStride;
}

TEST(ColorCube, AlsoCFollowsTheSelectedTable) {
    for (int selector : {0, 1, -1}) {
        ExpectOneCallIsTwoPasses<uint8_t>(selector, 1, 1, 64, 64, 3, 64 * 3);
        ExpectOneCallIsTwoPasses<uint16_t>(selector, 7, 257, 4096, 1, 3, 4096 * 3);
    }
    ExpectOneCallIsTwoPasses<uint8_t>(0, 1, 1, 2, 30, 3, 3);
    ExpectOneCallIsTwoPasses<uint16_t>(1, 1, 257, 3, 20, 2, 3);
    // A selector naming no table applies none.
    std::vector<uint8_t> none = ColourGrid8();
    Apply(2, 0, lx::test::View(&none[0], &none[1], &none[2], 4096, 1, 3, 4096 * 3));
    EXPECT_EQ(none, ColourGrid8());
    uint8_t px[3] = {200, 100, 50};  // two pixels, both at px
    lx::ColorCubeApply8(1, 1, lx::test::View(px, px + 1, px + 2, 2, 1, 0, 0));
    EXPECT_EQ((Rgb{px[0], px[1], px[2]}), (Rgb{208, 94, 31})) << "CubeB twice, then CubeC twice";
}

}  // namespace
