// SPDX-License-Identifier: MIT
#include <gtest/gtest.h>

#include "support/images.h"

#include <cstring>
#include <numeric>
#include <vector>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/test_host.h"

namespace {

using lx::test::BlobPtr;

using lx::test::TestHost;

ImageDesc Interleaved8(std::vector<uint8_t>& px, int w, int h, int rowStride, bool bgr = false) {
    uint8_t* base = px.data();
    return ImageDesc{0, w, h, rowStride, 3, bgr ? base + 2 : base, base + 1, bgr ? base : base + 2};
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

TEST(ImageBlob, PixelsAreStoredBlueGreenRed) {
    TestHost host;
    // 3 x 2 planar image with padded rows: each channel plane has its own values.
    const int w = 3, h = 2, stride = 5;
    std::vector<uint8_t> r(stride * h), g(stride * h), b(stride * h);
    for (int i = 0; i < stride * h; ++i) r[i] = uint8_t(100 + i), g[i] = uint8_t(50 + i), b[i] = uint8_t(i);
    ImageDesc d{0, w, h, stride, 1, r.data(), g.data(), b.data()};
    BlobPtr blob(AllocImageBlob(&d));
    ASSERT_NE(blob, nullptr);
    const uint8_t* p = blob->pixels->Data();
    EXPECT_EQ(p[0], b[0]) << "the first byte is the blue sample of pixel (0, 0)";
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const uint8_t* px = p + y * blob->rowStride + x * 3;
            EXPECT_EQ(px[0], b[y * stride + x]);
            EXPECT_EQ(px[1], g[y * stride + x]);
            EXPECT_EQ(px[2], r[y * stride + x]);
        }
}

TEST(ImageBlob, BgrInterleavedBufferIsCopiedRowForRow) {
    TestHost host;
    const int w = 5, h = 3, stride = 16;
    std::vector<uint8_t> px(stride * h);
    std::iota(px.begin(), px.end(), uint8_t{1});
    ImageDesc d = Interleaved8(px, w, h, stride, /*bgr=*/true);
    BlobPtr blob(AllocImageBlob(&d));
    ASSERT_NE(blob, nullptr);
    for (int y = 0; y < h; ++y)
        EXPECT_EQ(0, std::memcmp(blob->pixels->Data() + y * blob->rowStride, px.data() + y * stride, w * 3));
}

TEST(ImageBlob, SixteenBitStridesAreRoundedDownToEven) {
    TestHost host;
    // Interleaved RGB16 with an odd pixel and row stride in the descriptor.
    const int w = 2, h = 2;
    std::vector<uint16_t> px(w * h * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint16_t(1000 * (i + 1));
    ImageDesc d{1, w, h, w * 6 + 1, 7, px.data(), px.data() + 1, px.data() + 2};
    BlobPtr blob(AllocImageBlob(&d));
    ASSERT_NE(blob, nullptr);
    const uint16_t* s = blob->pixels->As<uint16_t>();
    for (int i = 0; i < w * h; ++i) {
        EXPECT_EQ(s[3 * i + 0], px[3 * i + 2]);
        EXPECT_EQ(s[3 * i + 1], px[3 * i + 1]);
        EXPECT_EQ(s[3 * i + 2], px[3 * i + 0]);
    }
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

    // Larger than the host's int32 size can carry: refused, not wrapped.
    host.FailAt(0);
    d.width = 1 << 20;
    d.height = 1 << 12;
    EXPECT_EQ(AllocImageBlob(&d), nullptr);
    EXPECT_EQ(host.allocations(), 0);

    SetFilterRecord(nullptr);
    d.width = 2;
    d.height = 2;
    EXPECT_EQ(AllocImageBlob(&d), nullptr) << "no host record: a clean failure";
}

}  // namespace
