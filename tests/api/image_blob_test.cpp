// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/images.h"

#include <cstring>
#include <vector>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace {

using lx::test::BlobPtr;
using lx::test::TestHost;

ImageDesc Interleaved8(std::vector<uint8_t>& px, int w, int h, int rowStride) {
    return ImageDesc{0, w, h, rowStride, 3, px.data(), px.data() + 1, px.data() + 2};
}

TEST(ImageBlob, RowStridesArePaddedFor8BitOnly) {
    TestHost host;
    struct Case { int32_t type, width, stride; } cases[] = {
        {0, 1, 4}, {0, 4, 12}, {0, 5, 16}, {0, 0, 0}, {1, 1, 6}, {1, 5, 30}};
    for (const auto& c : cases) {
        std::vector<uint16_t> px(size_t(std::max(c.width, 1)) * 3 * 2);
        ImageDesc d{c.type, c.width, 2, c.width * 6, 6, px.data(), px.data() + 1, px.data() + 2};
        BlobPtr blob(AllocImageBlob(&d));
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(blob->rowStride, c.stride) << "type " << c.type << " width " << c.width;
        EXPECT_EQ(blob->pixels->Size(), c.stride * 2);
        EXPECT_EQ(blob->width, c.width);
        EXPECT_EQ(blob->height, 2);
    }
    EXPECT_EQ(host.live(), 0);
}

TEST(ImageBlob, UnknownTypesEmptyImagesAndFailures) {
    TestHost host;
    std::vector<uint8_t> px(12);
    ImageDesc d = Interleaved8(px, 2, 2, 6);

    d.sampleType = 2;
    BlobPtr typeless(AllocImageBlob(&d));
    ASSERT_NE(typeless, nullptr);
    EXPECT_EQ(typeless->pixels, nullptr);
    EXPECT_EQ(host.allocations(), 0);

    d.sampleType = 0;
    d.width = -3;
    BlobPtr empty(AllocImageBlob(&d));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->pixels->Size(), 0);

    d.width = 2;
    host.FailAt(1);
    EXPECT_EQ(AllocImageBlob(&d), nullptr);
    EXPECT_EQ(host.live(), 1) << "the empty blob's block only";
    empty.reset();

    host.FailAt(0);
    SetFilterRecord(nullptr);
    EXPECT_EQ(AllocImageBlob(&d), nullptr) << "no host record: a clean failure";
}

// Sizes whose rows or blocks pass the host's int32 size are refused before
// anything is asked of the host; every pixel on one sample, so the caller's
// buffer is 3 bytes whatever the size.
TEST(ImageBlob, SizesPastTheHostsRangeAreRefused) {
    TestHost host;
    uint8_t px[6] = {};
    const struct {
        int32_t type, width, height;
    } sizes[] = {
        {0, INT32_MAX, 1},      // one 8-bit row of 6.4 GB
        {1, 1 << 29, 1},        // one 16-bit row of 3.2 GB
        {0, 1, INT32_MAX},      // 4-byte rows: 8.6 GB
        {1, 65536, 65536},      // 25.8 GB
        {0, 26755, 26755},      // 2 147 570 340 bytes, just past the host's range
    };
    for (const auto& s : sizes) {
        const ImageDesc d{s.type, s.width, s.height, 0, 0, px, px + 2, px + 4};
        EXPECT_EQ(AllocImageBlob(&d), nullptr) << s.width << " x " << s.height;
    }
    EXPECT_EQ(host.allocations(), 0);
}

}  // namespace
