// SPDX-License-Identifier: MIT
// The interleaved working copy of an image. Each pixel holds its samples in
// the order channel 3, channel 2, channel 1 (blue, green, red), one byte or
// one 16-bit word each. 8-bit rows are padded to a multiple of 4 bytes;
// 16-bit rows are width x 6 bytes.
#pragma once

#include <cstddef>
#include <cstdint>

#include "host/host_buffers.h"
#include "lumarex/lumarex.h"

struct ImageBlob {
    lx::HostBlock* pixels;  // samples at Data(); null for an unknown sample type
    int32_t sampleType;
    int32_t height;
    int32_t width;
    int32_t rowStride;      // bytes per blob row
};

static_assert(offsetof(ImageBlob, pixels) == 0);
static_assert(offsetof(ImageBlob, rowStride) == 20);

namespace lx {

// Row stride of an 8-bit blob: width x 3 bytes rounded up to a multiple of 4.
// Computed in 64 bits; the caller checks that the result fits.
inline int64_t BlobRowStride8(int32_t width) { return ((int64_t{width} * 24 + 31) / 32) * 4; }

}  // namespace lx
