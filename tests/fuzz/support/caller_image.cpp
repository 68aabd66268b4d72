// SPDX-License-Identifier: MIT
#include "support/caller_image.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

constexpr int32_t kSide = 64;         // a dimension along a non-zero stride
constexpr int32_t kStillSide = 512;   // a dimension along a zero stride, over the pixel budget
constexpr int64_t kMaxSpan = 256 * 1024;
constexpr int64_t kSlack = 64;        // spare bytes, so that channels need not fill the buffer

int64_t Wrap(int64_t v, int64_t side) { return v > side ? 1 + (v - 1) % side : v; }

// Byte offsets of the lowest and highest addressed sample from pixel (0, 0).
struct Extent {
    int64_t low = 0, high = 0;
};
Extent ExtentOf(int64_t w, int64_t h, int64_t rowStride, int64_t pixelStride) {
    const int64_t x = (w - 1) * pixelStride, y = (h - 1) * rowStride;
    return Extent{std::min<int64_t>(0, x) + std::min<int64_t>(0, y), std::max<int64_t>(0, x) + std::max<int64_t>(0, y)};
}

}  // namespace

CallerImage::CallerImage(const ImageFields& f, int sampleBytes, const SizeRule& rule,
                         std::span<const uint8_t> pixels)
    : sampleBytes_(sampleBytes) {
    desc_ = ImageDesc{f.sampleType, f.width, f.height, f.rowStride, f.pixelStride, nullptr, nullptr, nullptr};
    const bool fixed = rule.fixedWidth >= 0;
    int64_t w = fixed ? rule.fixedWidth : f.width, h = fixed ? rule.fixedHeight : f.height;
    // 16-bit strides count whole samples: the library rounds them down to even.
    int64_t rs = sampleBytes == 2 ? (f.rowStride & ~1) : f.rowStride;
    int64_t ps = sampleBytes == 2 ? (f.pixelStride & ~1) : f.pixelStride;

    Extent e;
    if (sampleBytes > 0 && w > 0 && h > 0) {
        if (!fixed) {
            if (ps != 0) w = Wrap(w, kSide);
            if (rs != 0) h = Wrap(h, kSide);
            if (w * h > rule.stillPixels && w * h <= rule.hugePixels) w = Wrap(w, kStillSide), h = Wrap(h, kStillSide);
        }
        e = ExtentOf(w, h, rs, ps);
        while (e.high - e.low + sampleBytes > kMaxSpan) {
            if (fixed) {
                if (rs != 0 && h > 1) rs = 0, desc_.rowStride = 0;
                else ps = 0, desc_.pixelStride = 0;
            } else if (h > 1) {
                h = 1;
            } else {
                w = 1;
            }
            e = ExtentOf(w, h, rs, ps);
        }
        if (!fixed) desc_.width = int32_t(w), desc_.height = int32_t(h);
    } else {
        w = h = 0;
    }
    width_ = int32_t(w), height_ = int32_t(h);
    rowStride_ = rs, pixelStride_ = ps;

    // Room for three channels side by side (planar), or anywhere on top of
    // each other; each starts where its fuzzed place says.
    const int64_t span = e.high - e.low + std::max(sampleBytes, 1);
    size_ = size_t(3 * span + kSlack);
    buffer_.reset(new uint8_t[size_]);
    void** channel[3] = {&desc_.channel1, &desc_.channel2, &desc_.channel3};
    for (int k = 0; k < 3; ++k) {
        start_[k] = int64_t(f.place[k] % uint64_t(int64_t(size_) - span + 1)) - e.low;
        *channel[k] = buffer_.get() + start_[k];
    }

    const size_t given = std::min(pixels.size(), size_);
    if (given > 0) std::memcpy(buffer_.get(), pixels.data(), given);
    uint32_t s = f.pixelSeed | 1u;  // xorshift32
    for (size_t i = given; i < size_; ++i) {
        s ^= s << 13, s ^= s >> 17, s ^= s << 5;
        buffer_[i] = uint8_t(s >> 24);
    }
    before_.assign(buffer_.get(), buffer_.get() + size_);
    MarkSamples();
}

const uint8_t* CallerImage::At(int k, int32_t x, int32_t y) const {
    return buffer_.get() + start_[k] + int64_t{y} * rowStride_ + int64_t{x} * pixelStride_;
}

uint32_t CallerImage::Sample(int k, int32_t x, int32_t y) const {
    const uint8_t* p = At(k, x, y);
    return sampleBytes_ == 2 ? uint32_t(p[0]) | uint32_t(p[1]) << 8 : p[0];
}

void CallerImage::MarkSamples() {
    addressed_.assign(size_, 0);
    if (!HasSamples()) return;
    // Along a zero stride every pixel is the first one.
    const int32_t xs = pixelStride_ == 0 ? 1 : width_, ys = rowStride_ == 0 ? 1 : height_;
    for (int k = 0; k < 3; ++k)
        for (int32_t y = 0; y < ys; ++y)
            for (int32_t x = 0; x < xs; ++x) {
                const size_t o = size_t(At(k, x, y) - buffer_.get());
                std::memset(&addressed_[o], 1, size_t(sampleBytes_));
            }
}

void CallerImage::ExpectUntouched(const char* call) const {
    if (std::memcmp(buffer_.get(), before_.data(), size_) == 0) return;
    std::fprintf(stderr, "%s changed the caller's image\n", call);
    Fail("the library writes no caller image it only reads");
}

void CallerImage::ExpectWrittenOnlyAtSamples(const char* call) const {
    for (size_t i = 0; i < size_; ++i)
        if (addressed_[i] == 0 && buffer_[i] != before_[i]) {
            std::fprintf(stderr, "%s wrote byte %zu of %zu, which is no sample of the image\n", call, i, size_);
            Fail("the library writes only the samples of the caller's image");
        }
}

}  // namespace lx::fuzz
