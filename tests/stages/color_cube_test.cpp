// SPDX-License-Identifier: MIT
#include "stages/color_cube.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <array>
#include <cstdint>
#include <cstring>
#include <vector>

namespace {

using Rgb = std::array<int, 3>;
enum Cube { kA = 0, kB = 1, kC = 2 };
constexpr std::array<int, 9> kNodes = {0, 32, 64, 96, 128, 160, 192, 224, 255};

Rgb Through8(Cube cube, Rgb in) {
    uint8_t px[3] = {uint8_t(in[0]), uint8_t(in[1]), uint8_t(in[2])};
    if (cube == kC) lx::ColorCubeApplyC8(lx::test::PixelView(px));
    else lx::ColorCubeApply8(cube, 0, lx::test::PixelView(px));
    return {px[0], px[1], px[2]};
}

Rgb Through16(Cube cube, Rgb in) {
    uint16_t px[3] = {uint16_t(in[0]), uint16_t(in[1]), uint16_t(in[2])};
    if (cube == kC) lx::ColorCubeApplyC16(lx::test::PixelView(px));
    else lx::ColorCubeApply16(cube, 0, lx::test::PixelView(px));
    return {px[0], px[1], px[2]};
}

struct Row {
    Cube cube;
    Rgb in, out;
};

// Worked values. 8 bits: the table's sum truncated; at 255 the rounded
// coefficients may leave it a level short of the lattice. 16 bits: a sample
// belongs to the cell of ceil(v / 256) (level 31.5 on CubeC's red edge
// extrapolates the second cell back, 37 - 35 * 0.5 / 32 = 36.453125, stored
// as 9332; the first cell would give 9324), and results round to nearest,
// halves up (grey 611 in CubeA: 823.57, 578.30, 545.59 -> 824, 578, 546).
TEST(ColorCube, WorkedValues) {
    const Row cases8[] = {
        {kA, {16, 16, 16}, {17, 15, 15}},  // other corners of the cell are not grey
        {kA, {1, 1, 1}, {1, 0, 0}},
        {kA, {255, 255, 255}, {255, 255, 255}},
        {kA, {255, 0, 0}, {254, 12, 0}},     // one level short of the lattice's (255, 13, 0)
        {kA, {192, 128, 96}, {191, 130, 96}},
        {kB, {96, 128, 192}, {96, 116, 192}},
        {kB, {128, 128, 128}, {127, 127, 127}},
        {kC, {64, 128, 64}, {66, 132, 66}},
        {kC, {255, 255, 255}, {254, 254, 254}},  // 254.998 truncated
    };
    for (const Row& c : cases8) EXPECT_EQ(Through8(c.cube, c.in), c.out) << "cube " << c.cube;
    for (int g : kNodes) EXPECT_EQ(Through8(kA, {g, g, g}), (Rgb{g, g, g}));
    EXPECT_EQ(Through16(kC, {31 * 256 + 128, 0, 0}), (Rgb{9332, 0, 0}));
    EXPECT_EQ(Through16(kA, {611, 611, 611}), (Rgb{824, 578, 546}));
}

TEST(ColorCube, SixteenBitTopsOutAt65280) {
    for (Cube cube : {kA, kB, kC}) {
        EXPECT_EQ(Through16(cube, {65535, 65535, 65535}), (Rgb{65280, 65280, 65280})) << "cube " << cube;
        for (int v = 65280; v <= 65535; v += 5)
            for (Rgb in : {Rgb{v, v, v}, Rgb{v, 0, 0}, Rgb{0, v, v}, Rgb{v, v / 2, 65535 - v}})
                for (int out : Through16(cube, in)) EXPECT_LE(out, 65280);
    }
}

TEST(ColorCube, NodesAgreeBetween8And16Bit) {
    for (Cube cube : {kA, kB, kC})
        for (int r : kNodes)
            for (int g : kNodes)
                for (int b : kNodes) {
                    const Rgb o8 = Through8(cube, {r, g, b}), o16 = Through16(cube, {r * 256, g * 256, b * 256});
                    for (int ch = 0; ch < 3; ++ch)
                        EXPECT_NEAR(o16[ch], o8[ch] * 256, 256) << "cube " << cube << " node " << r << ' ' << g << ' ' << b;
                }
}

// Along the grey axis and each primary axis the 16-bit output has no jumps
// of a level or more: the cell of ceil(v / 256) and the distance from its
// node must pair up. (Just above a multiple of 256 the sample extrapolates
// the next cell back by up to a level, which steps by a fraction of a level.)
TEST(ColorCube, SixteenBitLinesAreContinuous) {
    for (Cube cube : {kA, kB, kC})
        for (Rgb dir : {Rgb{1, 1, 1}, Rgb{1, 0, 0}, Rgb{0, 1, 0}, Rgb{0, 0, 1}}) {
            Rgb prev = Through16(cube, {0, 0, 0});
            for (int v = 1; v <= 65535; ++v) {
                const Rgb out = Through16(cube, {v * dir[0], v * dir[1], v * dir[2]});
                for (int ch = 0; ch < 3; ++ch) ASSERT_LT(std::abs(out[ch] - prev[ch]), 256) << "cube " << cube << " v " << v;
                prev = out;
            }
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

TEST(ColorCube, AlsoCFollowsTheSelectedTable) {
    const std::vector<uint8_t> grid = ColourGrid8();
    const int n = int(grid.size() / 3);
    for (int selector : {0, 1}) {
        std::vector<uint8_t> both = grid, steps = grid;
        lx::ColorCubeApply8(selector, 1, lx::test::View(&both[0], &both[1], &both[2], 64, n / 64, 3, 64 * 3));
        lx::ColorCubeApply8(selector, 0, lx::test::View(&steps[0], &steps[1], &steps[2], 64, n / 64, 3, 64 * 3));
        lx::ColorCubeApplyC8(lx::test::View(&steps[0], &steps[1], &steps[2], 64, n / 64, 3, 64 * 3));
        EXPECT_EQ(both, steps) << "selector " << selector;

        std::vector<uint16_t> both16(grid.begin(), grid.end()), steps16;
        for (uint16_t& v : both16) v = uint16_t(v * 257);
        steps16 = both16;
        lx::ColorCubeApply16(selector, 7, lx::test::View(&both16[0], &both16[1], &both16[2], n, 1, 3, n * 3));
        lx::ColorCubeApply16(selector, 0, lx::test::View(&steps16[0], &steps16[1], &steps16[2], n, 1, 3, n * 3));
        lx::ColorCubeApplyC16(lx::test::View(&steps16[0], &steps16[1], &steps16[2], n, 1, 3, n * 3));
        EXPECT_EQ(both16, steps16) << "selector " << selector;
    }
    // A selector naming no table applies none; CubeC still follows.
    std::vector<uint8_t> none = grid, onlyC = grid, c = grid;
    lx::ColorCubeApply8(2, 0, lx::test::View(&none[0], &none[1], &none[2], n, 1, 3, n * 3));
    EXPECT_EQ(none, grid);
    lx::ColorCubeApply8(-1, 1, lx::test::View(&onlyC[0], &onlyC[1], &onlyC[2], n, 1, 3, n * 3));
    lx::ColorCubeApplyC8(lx::test::View(&c[0], &c[1], &c[2], n, 1, 3, n * 3));
    EXPECT_EQ(onlyC, c);
}

// Planar images with padded rows give the same pixels as interleaved ones
// and leave the padding alone.
template <class T, class Apply>
void ExpectPlanarMatchesInterleaved(int scale, Apply apply) {
    const std::vector<uint8_t> grid = ColourGrid8();
    const int w = 61, h = 67, pad = 5;  // 4087 of the 4096 colours
    std::vector<T> inter(size_t(w) * h * 3);
    for (size_t n = 0; n < inter.size(); ++n) inter[n] = T(grid[n] * scale);
    const T kPad = T(0xBEEF);
    std::vector<T> planes(size_t(3) * (w + pad) * h, kPad);
    auto plane = [&](int ch, int x, int y) -> T& { return planes[(size_t(ch) * h + y) * (w + pad) + x]; };
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < 3; ++ch) plane(ch, x, y) = inter[(size_t(y) * w + x) * 3 + ch];

    apply(&inter[0], &inter[1], &inter[2], w, h, 3, w * 3);
    apply(&plane(0, 0, 0), &plane(1, 0, 0), &plane(2, 0, 0), w, h, 1, w + pad);
    for (int y = 0; y < h; ++y) {
        for (int x = 0; x < w; ++x)
            for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(plane(ch, x, y), inter[(size_t(y) * w + x) * 3 + ch]) << x << ' ' << y;
        for (int x = w; x < w + pad; ++x)
            for (int ch = 0; ch < 3; ++ch) ASSERT_EQ(plane(ch, x, y), kPad);
    }
}

TEST(ColorCube, PlanarAndInterleavedAgree) {
    ExpectPlanarMatchesInterleaved<uint8_t>(1, [](uint8_t* r, uint8_t* g, uint8_t* b, int w, int h, int ps, int rs) {
        lx::ColorCubeApply8(1, 1, lx::test::View(r, g, b, w, h, ps, rs));
    });
    ExpectPlanarMatchesInterleaved<uint16_t>(257, [](uint16_t* r, uint16_t* g, uint16_t* b, int w, int h, int ps, int rs) {
        lx::ColorCubeApply16(0, 1, lx::test::View(r, g, b, w, h, ps, rs));
    });
}

TEST(ColorCube, EmptyImagesTouchNothing) {
    struct Size { int32_t w, h; } sizes[] = {{0, 4}, {4, 0}, {0, 0}, {-3, 4}, {4, -1}};
    for (const Size s : sizes) {
        uint8_t px8[48];
        uint16_t px16[48];
        std::memset(px8, 0x5A, sizeof px8);
        std::memset(px16, 0x5A, sizeof px16);
        lx::ColorCubeApply8(1, 1, lx::test::View(px8, px8 + 1, px8 + 2, s.w, s.h, 3, 12));
        lx::ColorCubeApplyC8(lx::test::View(px8, px8 + 1, px8 + 2, s.w, s.h, 3, 12));
        lx::ColorCubeApply16(0, 1, lx::test::View(px16, px16 + 1, px16 + 2, s.w, s.h, 3, 12));
        lx::ColorCubeApplyC16(lx::test::View(px16, px16 + 1, px16 + 2, s.w, s.h, 3, 12));
        for (uint8_t v : px8) ASSERT_EQ(v, 0x5A);
        for (uint16_t v : px16) ASSERT_EQ(v, 0x5A5A);
    }
}

// Pixels that share samples see the whole image pass through the first
// table before any of it passes through CubeC.
TEST(ColorCube, PixelsSharingSamplesPassEachTableInTurn) {
    uint8_t px[3] = {200, 100, 50};  // two pixels, both at px
    lx::ColorCubeApply8(1, 1, lx::test::View(px, px + 1, px + 2, 2, 1, 0, 0));
    EXPECT_EQ((Rgb{px[0], px[1], px[2]}), (Rgb{208, 94, 31})) << "CubeB twice, then CubeC twice";

    // Rows that reach into the next row (row stride 3 bytes, 2-pixel rows),
    // 8 and 16 bits, against the two passes made as two calls.
    const std::vector<uint8_t> grid = ColourGrid8();
    std::vector<uint8_t> fused(grid.begin(), grid.begin() + 96), steps = fused;
    lx::ColorCubeApply8(0, 1, lx::test::View(&fused[0], &fused[1], &fused[2], 2, 30, 3, 3));
    lx::ColorCubeApply8(0, 0, lx::test::View(&steps[0], &steps[1], &steps[2], 2, 30, 3, 3));
    lx::ColorCubeApplyC8(lx::test::View(&steps[0], &steps[1], &steps[2], 2, 30, 3, 3));
    EXPECT_EQ(fused, steps);
    std::vector<uint16_t> fused16(96), steps16;
    for (size_t i = 0; i < fused16.size(); ++i) fused16[i] = uint16_t(grid[i] * 257);
    steps16 = fused16;
    lx::ColorCubeApply16(1, 1, lx::test::View(&fused16[0], &fused16[1], &fused16[2], 3, 20, 2, 3));
    lx::ColorCubeApply16(1, 0, lx::test::View(&steps16[0], &steps16[1], &steps16[2], 3, 20, 2, 3));
    lx::ColorCubeApplyC16(lx::test::View(&steps16[0], &steps16[1], &steps16[2], 3, 20, 2, 3));
    EXPECT_EQ(fused16, steps16);
}

}  // namespace
