// SPDX-License-Identifier: MIT
// AllocImageBlob / FreeImageBlob: the interleaved working copy of an image.
#include "image/image_blob.h"

#include <algorithm>
#include <cstring>
#include <new>

namespace lx {
namespace {

// The sample of `channel` at (x, y); strides in bytes, offsets formed in 64
// bits so that large or negative strides cannot wrap. Read bytewise: a
// caller's 16-bit plane need not be 2-byte aligned.
template <class T>
T SampleAt(const void* channel, int64_t rowStride, int64_t pixelStride, int32_t x, int32_t y) {
    T v;
    std::memcpy(&v, static_cast<const uint8_t*>(channel) + y * rowStride + x * pixelStride, sizeof v);
    return v;
}

template <class T>
void CopyIntoBlob(const ImageDesc& image, const ImageBlob& blob, int64_t rowStride, int64_t pixelStride) {
    uint8_t* base = blob.pixels->Data();
    for (int32_t y = 0; y < blob.height; ++y) {
        T* out = reinterpret_cast<T*>(base + int64_t{y} * blob.rowStride);
        for (int32_t x = 0; x < blob.width; ++x) {
            // Blob pixels hold channel 3, channel 2, channel 1 in that order.
            out[0] = SampleAt<T>(image.channel3, rowStride, pixelStride, x, y);
            out[1] = SampleAt<T>(image.channel2, rowStride, pixelStride, x, y);
            out[2] = SampleAt<T>(image.channel1, rowStride, pixelStride, x, y);
            out += 3;
        }
    }
}

}  // namespace

ImageBlob* AllocImageBlobImpl(const ImageDesc& image) {
    BlobOwner blob(new (std::nothrow) ImageBlob{nullptr, image.sampleType, image.height, image.width, 0});
    if (!blob) return nullptr;
    if (image.sampleType != 0 && image.sampleType != 1) return blob.release();  // no pixels for an unknown type

    // A width or height of 0 or less gives an empty block and copies nothing.
    const int64_t width = std::max(image.width, 0);
    const int64_t height = std::max(image.height, 0);
    const int64_t rowStride = image.sampleType == 0 ? BlobRowStride8(static_cast<int32_t>(width)) : width * 6;
    if (rowStride > INT32_MAX) return nullptr;
    blob->rowStride = static_cast<int32_t>(rowStride);
    // At most ~2^31 x 2^31 bytes: formed in 64 bits; a size beyond the host's
    // int32 range gives null.
    const int64_t bytes = rowStride * height;
    blob->pixels = AllocateHostBlock64(bytes);
    if (blob->pixels == nullptr) return nullptr;
    if (bytes == 0) return blob.release();

    if (image.sampleType == 0) {
        CopyIntoBlob<uint8_t>(image, *blob, image.rowStride, image.pixelStride);
    } else {
        // 16-bit strides are used rounded down to an even number of bytes.
        CopyIntoBlob<uint16_t>(image, *blob, image.rowStride & ~1, image.pixelStride & ~1);
    }
    return blob.release();
}

void FreeImageBlobImpl(ImageBlob* blob) {
    if (blob == nullptr) return;
    ReleaseHostBlock(blob->pixels);
    delete blob;
}

}  // namespace lx
