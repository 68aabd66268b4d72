// SPDX-License-Identifier: MIT
// AllocImageBlob and FreeImageBlob on fuzzed descriptors and samples. The
// blob must be an exact blue-green-red copy of the caller's image, the
// caller's image must stay as it was, and every host block must come back.
#include <cstring>

#include "image/image_blob.h"
#include "lumarex/lumarex.h"
#include "support/caller_image.h"
#include "support/fuzz_host.h"
#include "support/fuzz_input.h"
#include "support/harness.h"
#include "support/seed_images.h"

namespace lx::fuzz {
namespace {

struct BlobInput {
    ImageFields image;
    FailPlan fail;
};

template <class IO>
void Visit(IO& io, BlobInput& f) {
    Visit(io, f.image);
    Visit(io, f.fail);
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
    FuzzHost& host = FuzzHost::Get();
    const CallerImage image(f.image, SampleBytes(f.image.sampleType), SizeRule{}, pixels);

    host.Arm(f.fail);
    ImageBlob* blob = AllocImageBlob(&image.desc());
    image.ExpectUntouched("AllocImageBlob");
    host.ExpectLive(BlocksHeld(blob, nullptr), "after AllocImageBlob");
    if (blob != nullptr) ExpectCopy(*blob, image);
    FreeImageBlob(blob);
    host.ExpectLive(0, "after FreeImageBlob");
}

}  // namespace

std::vector<Seed> Seeds() {
    std::vector<Seed> seeds;
    const std::vector<uint8_t> rgb8 = CastGradient(5, 4, 1, 20), rgb16 = CastGradient(6, 5, 2, 30);
    // Interleaved, rows padded by 2 bytes.
    seeds.push_back(MakeSeed("interleaved8", BlobInput{{0, 5, 4, 17, 3, {0, 1, 2}, 1}, {}}, rgb8));
    // Planar: three 7 x 3 planes one after the other.
    seeds.push_back(MakeSeed("planar8", BlobInput{{0, 7, 3, 7, 1, {0, 21, 42}, 2}, {}}));
    // Blue first, odd strides rounded down to even, bottom row first.
    seeds.push_back(MakeSeed("bgr16_bottom_up", BlobInput{{1, 6, 5, -37, 7, {4, 2, 0}, 3}, {}}, rgb16));
    // 16-bit channels on odd addresses.
    seeds.push_back(MakeSeed("odd_addresses16", BlobInput{{1, 4, 4, 24, 6, {1, 3, 5}, 4}, {}}));
    // Every pixel on one sample per channel, at sizes of every scale.
    seeds.push_back(MakeSeed("still_3000x20", BlobInput{{0, 3000, 20, 0, 0, {0, 1, 2}, 5}, {}}));
    seeds.push_back(MakeSeed("still_past_int32", BlobInput{{1, 1 << 20, 1 << 12, 0, 0, {0, 2, 4}, 6}, {}}));
    // Pixels overlapping their neighbours, rows going left.
    seeds.push_back(MakeSeed("overlapping", BlobInput{{0, 9, 9, 2, -1, {0, 5, 9}, 7}, {}}));
    seeds.push_back(MakeSeed("unknown_type", BlobInput{{7, 4, 4, 12, 3, {0, 1, 2}, 8}, {}}));
    seeds.push_back(MakeSeed("empty", BlobInput{{0, 0, 5, 0, 3, {0, 1, 2}, 9}, {}}));
    seeds.push_back(MakeSeed("host_refuses", BlobInput{{0, 5, 4, 15, 3, {0, 1, 2}, 10}, {1, 0}}));
    seeds.push_back(MakeSeed("lock_fails", BlobInput{{1, 5, 4, 30, 6, {0, 2, 4}, 11}, {0, 1}}));
    return seeds;
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(BlobInput)
