// SPDX-License-Identifier: MIT
#include "oneshot/sharpen_max_channel.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <vector>

namespace lx {
namespace {

// An 8-bit image in a caller's layout: interleaved RGB or three planes, rows
// padded beyond the pixels.
struct Image {
    int32_t width, height, pixelStride, rowStride;
    bool planar;
    std::vector<uint8_t> bytes;

    Image(int32_t w, int32_t h, bool planes)
        : width(w), height(h), pixelStride(planes ? 1 : 3), rowStride(w * pixelStride + 5), planar(planes),
          bytes(size_t(rowStride) * h * (planes ? 3 : 1), 0xEE) {}
    uint8_t* channel(int c) { return bytes.data() + (planar ? size_t(rowStride) * height * c : size_t(c)); }
    uint8_t* at(int c, int32_t x, int32_t y) { return channel(c) + ptrdiff_t(y) * rowStride + ptrdiff_t(x) * pixelStride; }
    void Set(int32_t x, int32_t y, uint8_t r, uint8_t g, uint8_t b) { *at(0, x, y) = r, *at(1, x, y) = g, *at(2, x, y) = b; }
    void Sharpen(float amount) {
        SharpenMaxChannel8(channel(0), channel(1), channel(2), width, height, pixelStride, rowStride, amount);
    }
};

// One pass over a line, from the brightest values the line had when the
// pass began: the reference for the stage's in-place lockstep walks.
void PassReference(uint8_t* const start[3], int32_t n, ptrdiff_t step, float s) {
    float a = -0.25f * s, c = 0.5f * s + 1.0f;
    const float total = a + c + a;
    a /= total, c /= total;
    const float e = 1.0f / (a + c);
    std::vector<float> m(n);
    for (int32_t j = 0; j < n; ++j) m[j] = std::max({start[0][j * step], start[1][j * step], start[2][j * step]});
    for (int32_t j = 0; j < n; ++j) {
        if (m[j] == 0.0f) continue;
        const float g = j == 0       ? (c * m[0] + a * m[1]) / m[0] * e
                        : j == n - 1 ? (a * m[n - 2] + c * m[n - 1]) / m[n - 1] * e
                                     : (a * m[j - 1] + c * m[j] + a * m[j + 1]) / m[j];
        for (int ch = 0; ch < 3; ++ch) {
            uint8_t& v = start[ch][j * step];
            const float x = float(v) * g;
            v = x >= 255.0f ? 255 : (x > 0.0f ? uint8_t(int(x)) : 0);
        }
    }
}

void SharpenReference(Image& im, float s) {
    for (int32_t y = 0; y < im.height && im.width > 1; ++y) {
        uint8_t* first[3] = {im.at(0, 0, y), im.at(1, 0, y), im.at(2, 0, y)};
        uint8_t* last[3] = {im.at(0, im.width - 1, y), im.at(1, im.width - 1, y), im.at(2, im.width - 1, y)};
        PassReference(first, im.width, im.pixelStride, s);
        PassReference(last, im.width, -im.pixelStride, s);
    }
    for (int32_t x = 0; x < im.width && im.height > 1; ++x) {
        uint8_t* first[3] = {im.at(0, x, 0), im.at(1, x, 0), im.at(2, x, 0)};
        uint8_t* last[3] = {im.at(0, x, im.height - 1), im.at(1, x, im.height - 1), im.at(2, x, im.height - 1)};
        PassReference(first, im.height, im.rowStride, s);
        PassReference(last, im.height, -im.rowStride, s);
    }
}

// Random content with black pixels (no finite gain) and near-white ones
// (clamped), in both layouts and every size class.
TEST(SharpenMaxChannel, MatchesLineByLineSharpeningBitForBit) {
    std::mt19937 rng(5);
    const struct { int32_t w, h; } sizes[] = {{1, 1}, {9, 1}, {1, 9}, {2, 2}, {70, 67}, {130, 3}, {3, 130}};
    for (const bool planar : {false, true}) {
        for (const auto& s : sizes) {
            SCOPED_TRACE(testing::Message() << s.w << " x " << s.h << (planar ? " planar" : " interleaved"));
            Image im(s.w, s.h, planar);
            for (int32_t y = 0; y < s.h; ++y)
                for (int32_t x = 0; x < s.w; ++x) {
                    const uint32_t r = rng();
                    if (r % 16 == 0) im.Set(x, y, 0, 0, 0);
                    else im.Set(x, y, uint8_t(r >> 8), uint8_t(r >> 16), uint8_t(r >> 24));
                }
            Image expected = im;
            SharpenReference(expected, 1.3f);
            im.Sharpen(1.3f);
            EXPECT_EQ(im.bytes, expected.bytes);
        }
    }
}

TEST(SharpenMaxChannel, ZeroAmountAndFlatAreasChangeNothing) {
    Image noise(37, 29, false);
    std::mt19937 rng(9);
    for (uint8_t& b : noise.bytes) b = uint8_t(rng());
    const std::vector<uint8_t> before = noise.bytes;
    noise.Sharpen(0.0f);
    EXPECT_EQ(noise.bytes, before);

    // A flat area keeps its colour up to the border (the weights sum to 1
    // exactly for these amounts; others may round a level down).
    for (const float amount : {0.5f, 1.0f, 2.0f}) {
        Image flat(37, 29, true);
        for (int32_t y = 0; y < 29; ++y)
            for (int32_t x = 0; x < 37; ++x) flat.Set(x, y, 200, 120, 40);
        const std::vector<uint8_t> original = flat.bytes;
        flat.Sharpen(amount);
        EXPECT_EQ(flat.bytes, original) << amount;
    }
}

// Along one row: a black pixel stays black; a bright pixel beside darker ones
// gets brighter and its neighbours darker, each keeping its channel ratios
// until a channel reaches 255.
TEST(SharpenMaxChannel, EdgesBrightenAndDarkenWithinTheRange) {
    Image im(5, 1, false);
    im.Set(0, 0, 0, 0, 0);
    im.Set(1, 0, 80, 40, 20);
    im.Set(2, 0, 120, 60, 30);
    im.Set(3, 0, 80, 40, 20);
    im.Set(4, 0, 250, 125, 50);
    im.Sharpen(0.5f);
    EXPECT_EQ(*im.at(0, 0, 0), 0);
    EXPECT_EQ(*im.at(1, 0, 0), 0);
    EXPECT_EQ(*im.at(2, 0, 0), 0);
    EXPECT_GT(*im.at(0, 2, 0), 120);
    EXPECT_LT(*im.at(0, 3, 0), 80);
    EXPECT_NEAR(*im.at(0, 2, 0), 2 * *im.at(1, 2, 0), 2);
    EXPECT_NEAR(*im.at(1, 2, 0), 2 * *im.at(2, 2, 0), 2);
    EXPECT_EQ(*im.at(0, 4, 0), 255) << "red overshoots and is clamped";
    EXPECT_GT(*im.at(1, 4, 0), 125);
}

}  // namespace
}  // namespace lx
