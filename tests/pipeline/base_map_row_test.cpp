// SPDX-License-Identifier: MIT
#include "pipeline/base_map_row.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>

#include "api/sample_base_map.h"
#include "host/host_buffers.h"
#include "support/test_host.h"

namespace lx {
namespace {

uint32_t Bits(float f) {
    uint32_t b;
    std::memcpy(&b, &f, sizeof b);
    return b;
}

// The row reader must give SampleBaseMap's value bit for bit (signed zeros
// included) on odd map sizes, for scales that interpolate, repeat edges,
// saturate or give no finite coordinate, and offsets at the int32 limits.
TEST(BaseMapRow, ReadsAsSampleBaseMapBitForBit) {
    test::TestHost host;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float scales[] = {1.0f, 0.5f, 0.37f, 1.7f, 3.0f, 2.5e-6f, 1e30f, -1.0f, -0.6f, 0.0f, inf, nan};
    const struct {
        int32_t x, y;
    } offsets[] = {{0, 0}, {-1, -1}, {-40, 3}, {3, -40}, {12, 5}, {INT32_MAX, 0}, {INT32_MIN, INT32_MIN}, {0, INT32_MAX}};
    const struct {
        int32_t w, h;
    } sizes[] = {{1, 1}, {1, 7}, {7, 1}, {5, 3}, {37, 23}};

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    int64_t compared = 0;
    for (const auto& size : sizes) {
        HostBuffer map = HostBuffer::Allocate(int64_t{size.w} * size.h * 4);
        ASSERT_TRUE(map);
        float* m = map.data<float>();
        for (int64_t i = 0; i < int64_t{size.w} * size.h; ++i) m[i] = i % 5 == 0 ? (i % 2 ? -0.0f : 0.0f) : value(rng);
        for (float scale : scales)
            for (const auto& o : offsets)
                for (int32_t y = -2; y < size.h + 6; ++y) {
                    const BaseMapRow row(m, scale, size.w, size.h, o.x, o.y, y);
                    for (int32_t x = -2; x < size.w + 6; ++x, ++compared) {
                        const float want = SampleBaseMap(map.get(), scale, size.w, size.h, o.x, o.y, x, y);
                        ASSERT_EQ(Bits(row.At(x)), Bits(want))
                            << size.w << "x" << size.h << " scale " << scale << " offset (" << o.x << ", " << o.y
                            << ") at (" << x << ", " << y << ")";
                    }
                }
    }
    EXPECT_GT(compared, 100000);
}

}  // namespace
}  // namespace lx
