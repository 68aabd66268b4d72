// SPDX-License-Identifier: MIT
// Which bands along a picture's edges count as a frame: a flat colour in
// pairs on opposite edges, through JPEG-like noise, at either depth; and
// what is not one.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>

#include "frame.h"

namespace lumarex_cli {
namespace {

// A 200 x 150 picture of a gradient (no line of it flat) with bands of
// `colour` (levels, +-2 of noise) `left`, `top`, `right` and `bottom`
// pixels wide; `topColour` >= 0 gives the top band a colour of its own.
Picture Framed(int bits, int colour, int left, int top, int right, int bottom, int topColour = -1) {
    Picture p;
    p.width = 200, p.height = 150, p.bits = bits;
    const size_t n = size_t(200) * 150 * 3;
    if (bits == 16) p.rgb16.resize(n);
    else p.rgb8.resize(n);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x) {
            const bool inTop = y < top, inFrame = inTop || x < left || x >= 200 - right || y >= 150 - bottom;
            const int noise = (x * 7 + y * 13) % 5 - 2;
            for (int c = 0; c < 3; ++c) {
                int v = 40 + (x + 2 * y + 30 * c) % 160;
                if (inFrame) v = std::clamp((inTop && topColour >= 0 ? topColour : colour) + noise, 0, 255);
                const size_t i = (size_t(y) * 200 + size_t(x)) * 3 + size_t(c);
                if (bits == 16) p.rgb16[i] = uint16_t(v * 257);
                else p.rgb8[i] = uint8_t(v);
            }
        }
    return p;
}

void ExpectFrame(const Frame& f, int left, int top, int right, int bottom, const char* what) {
    EXPECT_EQ(f.left, left) << what;
    EXPECT_EQ(f.top, top) << what;
    EXPECT_EQ(f.right, right) << what;
    EXPECT_EQ(f.bottom, bottom) << what;
}

TEST(Frame, BandsInPairsOfOneFlatColour) {
    for (int bits : {8, 16}) {
        // A print's white border all round, a letterbox's black bars.
        ExpectFrame(FrameOf(Framed(bits, 250, 12, 9, 12, 9)), 12, 9, 12, 9, "border");
        ExpectFrame(FrameOf(Framed(bits, 2, 0, 20, 0, 24)), 0, 20, 0, 24, "letterbox");
        // A band along one edge only (a clipped sky), or bands of two colours.
        ExpectFrame(FrameOf(Framed(bits, 255, 0, 30, 0, 0)), 0, 0, 0, 0, "one band");
        ExpectFrame(FrameOf(Framed(bits, 0, 0, 20, 0, 20, 255)), 0, 0, 0, 0, "white above, black below");
        // Narrower than 1 % of the side (and 2 pixels), or leaving less
        // than half of the picture inside.
        ExpectFrame(FrameOf(Framed(bits, 0, 0, 1, 0, 1)), 0, 0, 0, 0, "hairlines");
        ExpectFrame(FrameOf(Framed(bits, 0, 0, 40, 0, 40)), 0, 0, 0, 0, "more bars than photo");
        ExpectFrame(FrameOf(Framed(bits, 0, 0, 0, 0, 0)), 0, 0, 0, 0, "no frame");
    }
    // A white backdrop around a subject: its flat rows above and below run
    // up to the subject, whose rows are mostly backdrop still.
    Picture backdrop = Framed(8, 250, 0, 0, 0, 0);
    for (int y = 0; y < 150; ++y)
        for (int x = 0; x < 200; ++x)
            if (y < 30 || y >= 120 || x < 70 || x >= 130)
                for (int c = 0; c < 3; ++c) backdrop.rgb8[(size_t(y) * 200 + size_t(x)) * 3 + size_t(c)] = 250;
    ExpectFrame(FrameOf(backdrop), 0, 0, 0, 0, "backdrop");
    // A border met along a slant (a print scanned askew): the rows where the
    // photo takes a quarter, then half of the width join the band; the
    // analysis reaches one row further in, past the border's corner.
    Picture askew = Framed(8, 250, 0, 10, 0, 10);
    for (int x = 0; x < 150; ++x)
        for (int c = 0; c < 3; ++c) {
            askew.rgb8[(size_t(10) * 200 + size_t(x)) * 3 + size_t(c)] = 250;
            if (x < 100) askew.rgb8[(size_t(11) * 200 + size_t(x)) * 3 + size_t(c)] = 250;
        }
    const Frame slant = FrameOf(askew);
    ExpectFrame(slant, 0, 11, 0, 10, "askew");
    EXPECT_EQ(slant.reachTop, 12);
    EXPECT_EQ(slant.reachBottom, 10);
    EXPECT_EQ(slant.Analysed(200, 150).h, 150 - 22);
    // Noise past kFrameSpread is no flat colour.
    Picture rough = Framed(8, 128, 10, 10, 10, 10);
    for (size_t i = 20 * 3; i < 180 * 3; i += 6) rough.rgb8[i] = uint8_t(128 + 2 * kFrameSpread);
    ExpectFrame(FrameOf(rough), 10, 0, 10, 0, "the top row rough: only the sides");
}

TEST(Frame, ThePartDescribedInPlace) {
    Picture p = Framed(16, 250, 12, 9, 12, 9);
    const ImageDesc whole = DescribeRgb(p), part = DescribePart(p, Region{12, 9, 176, 132});
    EXPECT_EQ(part.width, 176);
    EXPECT_EQ(part.height, 132);
    EXPECT_EQ(part.rowStride, whole.rowStride);
    EXPECT_EQ(static_cast<uint8_t*>(part.channel2) - static_cast<uint8_t*>(whole.channel2),
              9 * whole.rowStride + 12 * whole.pixelStride);
}

}  // namespace
}  // namespace lumarex_cli
