// SPDX-License-Identifier: MIT
#include "pipeline/levels_step.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <cstring>
#include <vector>

#include "pipeline/apply_blob_param.h"
#include "support/blob_builder.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;

struct LevelsCase {
    int32_t black;
    int64_t blackPoint, scale;
    int64_t tint[3];
    bool tinted, raiseNegatives;
};

// Plain, stretched, over-range and tinted settings, including factors that
// compress most highlights, a zero and a negative factor, and the largest
// factor the pipeline accepts.
const LevelsCase kCases[] = {
    {0, 0, 1000, {1000, 1000, 1000}, false, false},
    {7, 12, 1085, {1000, 1000, 1000}, false, false},
    {3, -20, 255000, {1000, 1000, 1000}, false, false},
    {5, 10, 1100, {952, 857, 1142}, true, false},
    {0, 0, 1000, {1600, 800, 399}, true, false},
    {40, 3, 1180, {1600, 800, 399}, true, true},
    {9, 0, 1000, {0, -500, 2500}, true, false},
    {0, 0, 1000, {8388607, 1000, 1}, true, true},
};

// The 8-bit table form against the pixel-by-pixel step, bit for bit.
TEST(LevelsStep, TableFormMatchesThePlainStep) {
    std::vector<int> values;
    for (int v = 0; v < 256; v += 5) values.push_back(v);
    values.insert(values.end(), {1, 2, 254, 253});
    for (const LevelsCase& c : kCases) {
        const LevelsStep<uint8_t> step(c.black, c.blackPoint, c.scale, c.tint, c.tinted, c.raiseNegatives);
        const LevelsTable8 table(step);
        for (int r : values)
            for (int g : values)
                for (int b : values) {
                    const uint8_t rgb[3] = {uint8_t(r), uint8_t(g), uint8_t(b)};
                    uint8_t want[3], got[3];
                    step.Apply(rgb, want);
                    table.Apply(rgb, got);
                    ASSERT_EQ(std::memcmp(want, got, 3), 0) << "case black " << c.black << " tint " << c.tint[0]
                                                            << " at (" << r << ", " << g << ", " << b << ")";
                }
    }
}

// The pipeline's levels step (stopped after it) on odd sizes, with padded
// rows and the region copy, gives what the step gives pixel by pixel with
// the scale and factors worked out here: black level 3, black point 10,
// white point 245 (each x 257 in 16 bits), tint mode 0 with gains 1.5,
// 0.75, 0.5 (exact in float: factors 1500, 750, 500). The 8-bit region
// copy raises negative differences; the others do not.
template <class T>
void CheckPipelineLevels(bool region) {
    test::TestHost host;
    constexpr bool wide = sizeof(T) == 2;
    const int bw = 37, bh = 23, unit = wide ? 257 : 1;
    BlobPtr blob = test::MakeBlob<T>(bw, bh, [](int x, int y, int c) {
        const uint32_t h = uint32_t(x) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
        const uint32_t v = (h >> 7) % 256;
        return T(wide ? v * 257 - (h & 7) * (v > 0) : v);
    });
    ImageParam p{};
    p.width = bw, p.height = bh, p.blackLevel = 3 * unit, p.needTint[0] = 1;
    for (auto& row : p.shadowPercentiles) row[2] = 10 * unit;
    for (auto& wp : p.whitePoint) wp = 245 * unit;
    for (auto& g : p.tintGains) g[0] = 1.5f, g[1] = 0.75f, g[2] = 0.5f;
    ApplySettings s;
    s.useVariant = 1, s.tintMode = 0, s.variantStrength = 1.0f, s.useShadowClip = 1, s.shadowClipIndex = 2;
    s.progress = [](int32_t step, int32_t, void*) { return step == 1 ? 1 : 0; };

    // An interleaved destination with two pixels of row padding.
    const int w = region ? 21 : bw, h = region ? 13 : bh, left = region ? 5 : 0, top = region ? 3 : 0;
    test::Interleaved<T> out(w, h, 6);
    const ImageDesc d = out.desc();
    int32_t r;
    if (region) r = wide ? ApplyBlobParamLocal16(d, *blob, p, s, {top, left}) : ApplyBlobParamLocal8(d, *blob, p, s, {top, left});
    else r = wide ? ApplyBlobParam16(d, *blob, p, s) : ApplyBlobParam8(d, *blob, p, s);
    ASSERT_EQ(r, 0) << "stopped after the levels step";

    // K = trunc(255 / 235 x 1000) = 1085; 16-bit trunc(65280 / 60395 x 1000) = 1080.
    const int64_t tint[3] = {1500, 750, 500};
    const LevelsStep<T> step(3 * unit, 10 * unit, wide ? 1080 : 1085, tint, true, region && !wide);
    const int64_t blobRow = blob->rowStride / int64_t{sizeof(T)};
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const T* px = blob->pixels->As<T>() + (y + top) * blobRow + (x + left) * 3;  // blue, green, red
            const T rgb[3] = {px[2], px[1], px[0]};
            T want[3];
            step.Apply(rgb, want);
            ASSERT_EQ(std::memcmp(want, out.at(x, y), sizeof want), 0) << "pixel (" << x << ", " << y << ")";
        }
    EXPECT_EQ(host.live(), 1) << "only the blob";
}

TEST(LevelsStep, PipelineLevelsMatchTheStepOnOddSizes) {
    CheckPipelineLevels<uint8_t>(false);
    CheckPipelineLevels<uint8_t>(true);
    CheckPipelineLevels<uint16_t>(false);
    CheckPipelineLevels<uint16_t>(true);
}

}  // namespace
}  // namespace lx
