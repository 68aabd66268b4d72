// SPDX-License-Identifier: MIT
#include "analysis/blob_histograms.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <algorithm>

#include "support/blob_builder.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;

// The tabled 8-bit pass counts exactly what the plain pass counts, on odd
// sizes (rows padded to 4 bytes) and for tint factors that leave, scale,
// stretch, zero or negate samples. Both add to histograms that already hold
// counts.
TEST(BlobHistograms, TabledPassMatchesThePlainPass) {
    test::TestHost host;
    const struct {
        bool tinted;
        int64_t f[3];
    } cases[] = {{false, {1000, 1000, 1000}}, {true, {1000, 1000, 1000}}, {true, {1163, 1000, 837}},
                 {true, {1600, 800, 399}},    {true, {0, -500, 2500}},    {true, {50000, 1, 1000}}};
    const struct {
        int w, h;
    } sizes[] = {{1, 1}, {5, 3}, {2, 9}, {37, 23}};
    for (const auto& size : sizes) {
        // Runs of equal pixels, dark and bright extremes, grey and coloured.
        BlobPtr blob = test::MakeBlob<uint8_t>(size.w, size.h, [](int x, int y, int c) {
            const uint32_t h = uint32_t(x / 3) * 73856093u ^ uint32_t(y) * 19349663u ^ uint32_t(c) * 83492791u;
            const uint32_t v = (h >> 9) % 300;
            return uint8_t(v >= 256 ? (v & 1) * 255 : v);
        });
        ASSERT_NE(blob, nullptr);
        for (const auto& c : cases) {
            int32_t maxPlain[256], allPlain[256], maxTabled[256], allTabled[256];
            for (int i = 0; i < 256; ++i) maxPlain[i] = maxTabled[i] = i, allPlain[i] = allTabled[i] = 3 * i;
            FillBlobHistograms8(*blob, c.tinted, c.f, maxPlain, allPlain);
            FillBlobHistograms8Tabled(*blob, c.tinted, c.f, maxTabled, allTabled);
            EXPECT_TRUE(std::equal(maxPlain, maxPlain + 256, maxTabled))
                << size.w << "x" << size.h << " factors " << c.f[0] << ", " << c.f[1] << ", " << c.f[2];
            EXPECT_TRUE(std::equal(allPlain, allPlain + 256, allTabled))
                << size.w << "x" << size.h << " factors " << c.f[0] << ", " << c.f[1] << ", " << c.f[2];
        }
    }
    EXPECT_EQ(host.live(), 0);
}

}  // namespace
}  // namespace lx
