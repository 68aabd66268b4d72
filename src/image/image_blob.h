// SPDX-License-Identifier: MIT
// The interleaved working copy of an image. Each pixel holds its samples in
// the order channel 3, channel 2, channel 1 (blue, green, red), one byte or
// one 16-bit word each. 8-bit rows are padded to a multiple of 4 bytes;
// 16-bit rows are width x 6 bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "host/host_buffers.h"
#include "image/image_view.h"
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

// The blob's pixels as an image: channel 1 is sample 2 of each pixel. Width
// and height below 0 count as 0. The blob must hold pixels of T.
template <class T>
ImageView<T> BlobView(const ImageBlob& blob) {
    using S = std::remove_const_t<T>;
    T* base = reinterpret_cast<T*>(blob.pixels->Data());
    return ImageView<T>{{base + 2, base + 1, base}, int64_t{blob.rowStride} / int64_t{sizeof(S)}, 3,
                        std::max(blob.width, 0), std::max(blob.height, 0)};
}

// AllocImageBlob and FreeImageBlob. The copy takes every sample of the
// caller's image; a width or height of 0 or less gives a block without
// samples, an unknown sample type a blob without pixels. Null when host
// memory is short, no host record is set, or the size leaves the host's
// int32 range.
ImageBlob* AllocImageBlobImpl(const ImageDesc& image);
void FreeImageBlobImpl(ImageBlob* blob);

// Owns a blob made by AllocImageBlobImpl.
struct BlobDeleter {
    void operator()(ImageBlob* blob) const { FreeImageBlobImpl(blob); }
};
using BlobOwner = std::unique_ptr<ImageBlob, BlobDeleter>;

}  // namespace lx
