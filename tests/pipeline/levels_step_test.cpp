// SPDX-License-Identifier: MIT
#include "pipeline/levels_step.h"

#include <gtest/gtest.h>

#include <cstring>
#include <vector>


namespace lx {
namespace {

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

}  // namespace
}  // namespace lx
