// SPDX-License-Identifier: MIT
// AllocImageBlob and FreeImageBlob on fuzzed descriptors and samples. The
// blob must be an exact blue-green-red copy of the caller's image, the
// caller's image must stay as it was, and every host block must come back.
#include <cstring>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/fuzz_input.h"
#include "support/harness.h"

namespace lx::fuzz {
namespace {

struct BlobInput {
    ImageFields image;
    FailPlan fail;
};

template <class IO>
void Visit(IO& io, BlobInput& f) {
    Visit(io, f.image), Visit(io, f.fail);
}

// Sample `slot` (0 blue, 1 green, 2 red) of blob pixel (x, y).
uint32_t BlobSample(const ImageBlob& blob, int32_t x, int32_t y, int slot) {
    const uint8_t* p = blob.pixels->Data() + int64_t{y} * blob.rowStride;
    if (blob.sampleType == 0) return p[int64_t{x} * 3 + slot];
    uint16_t v;
    std::memcpy(&v, p + (int64_t{x} * 3 + slot) * 2, 2);
    return v;
}

void ExpectCopy(const ImageBlob& blob, const CallerImage& image) {
    Check(blob.sampleType == image.desc().sampleType && blob.width == image.desc().width &&
              blob.height == image.desc().height,
          "a blob keeps the descriptor's type and size");
    if (SampleBytes(blob.sampleType) == 0) {
        Check(blob.pixels == nullptr, "a blob of an unknown sample type has no pixels");
        return;
    }
    Check(blob.pixels != nullptr, "a blob of a known sample type has pixels");
    if (!image.HasSamples()) return;
    const int64_t row = int64_t{blob.width} * 3 * SampleBytes(blob.sampleType);
    Check(blob.rowStride >= row && int64_t{blob.rowStride} * blob.height <= blob.pixels->Size(),
          "the blob's block holds its rows");
    for (int32_t y = 0; y < blob.height; ++y)
        for (int32_t x = 0; x < blob.width; ++x)
            for (int k = 0; k < 3; ++k)
                Check(BlobSample(blob, x, y, 2 - k) == image.Sample(k, x, y), "the blob is the image, blue first");
}

void Run(const BlobInput& f, std::span<const uint8_t> pixels) {
    const CallerImage image(f.image, SampleBytes(f.image.sampleType), SizeRule{}, pixels);

    Arm(f.fail);
    ImageBlob* blob = AllocImageBlob(&image.desc());
    image.ExpectUntouched("AllocImageBlob");
    ExpectLive(BlocksHeld(blob, nullptr), "after AllocImageBlob");
    if (blob != nullptr) ExpectCopy(*blob, image);
    FreeImageBlob(blob);
    ExpectLive(0, "after FreeImageBlob");
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(BlobInput)
