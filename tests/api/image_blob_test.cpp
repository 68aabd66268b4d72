// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/images.h"

#include <vector>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace {

using lx::test::BlobPtr;
using lx::test::TestHost;

// 8-bit rows are padded to whole 4-byte words, 16-bit rows are not.
TEST(ImageBlob, RowStridesArePaddedFor8BitOnly) {
    TestHost host;
    struct Case { int32_t type, width, stride; } cases[] = {{0, 1, 4}, {0, 4, 12}, {0, 5, 16}, {1, 5, 30}};
    for (const auto& c : cases) {
        std::vector<uint16_t> px(size_t(c.width) * 3 * 2);
        ImageDesc d{c.type, c.width, 2, c.width * 6, 6, px.data(), px.data() + 1, px.data() + 2};
        BlobPtr blob(AllocImageBlob(&d));
        ASSERT_NE(blob, nullptr);
        EXPECT_EQ(blob->rowStride, c.stride) << "type " << c.type << " width " << c.width;
        EXPECT_EQ(blob->pixels->Size(), c.stride * 2);
    }
    EXPECT_EQ(host.live(), 0);
}

// An image without pixels gets a blob with an empty block; without a host
// record nothing is allocated and the call fails cleanly.
TEST(ImageBlob, EmptyImagesAndNoHostRecord) {
    TestHost host;
    uint8_t px[12] = {};
    ImageDesc d{0, -3, 2, 6, 3, px, px + 1, px + 2};
    BlobPtr empty(AllocImageBlob(&d));
    ASSERT_NE(empty, nullptr);
    EXPECT_EQ(empty->pixels->Size(), 0);
    empty.reset();
    d.width = 2;
    SetFilterRecord(nullptr);
    EXPECT_EQ(AllocImageBlob(&d), nullptr);
}

// Sizes whose rows or blocks pass the host's int32 size are refused before
// anything is asked of the host; every pixel on one sample, so the caller's
// buffer is 3 bytes whatever the size.
TEST(ImageBlob, SizesPastTheHostsRangeAreRefused) {
    TestHost host;
    uint8_t px[6] = {};
    const struct { int32_t type, width, height; } sizes[] = {
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
