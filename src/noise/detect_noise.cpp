// SPDX-License-Identifier: MIT
#include "noise/detect_noise.h"

#include <functional>

#include "noise/noise_library.h"

namespace lx::noise {

int32_t DetectNoise(const ImageDesc* image, int32_t noisePreset, int32_t noiseLevelOverride,
                    int32_t noiseWord0, int64_t noiseQword) {
    const EntryPoints& entries = Entries();
    if (image == nullptr || entries.fillParams == nullptr || entries.removeNoise == nullptr) return 0;
    // The library takes no pixel stride: it reads three-sample pixels. A
    // descriptor with any other step (a 4-byte BGRA image, a planar image)
    // would be read as garbage, so it is refused.
    const int32_t sampleBytes = image->sampleType != 0 ? 2 : 1;
    const int32_t pixelStride = sampleBytes == 2 ? (image->pixelStride & ~1) : image->pixelStride;
    if (pixelStride != 3 * sampleBytes) return 0;

    // The words the library does not fill stay 0 rather than stack garbage.
    NoiseParamBlock block{};
    block.word0 = noiseWord0;
    block.qword = noiseQword;
    entries.fillParams(&block, noisePreset);
    block.word16 = 0;
    if (noisePreset == 1) {
        block.word0 = -1;
        block.qword = 0;
    }
    if (noiseLevelOverride != -1) {
        block.level = noiseLevelOverride;
    } else if (noisePreset < 3) {
        block.level = 3;
    }  // else: the level the preset filled in

    // std::less orders any two pointers, also ones into different objects.
    const bool redFirst = !std::less<const void*>()(image->channel3, image->channel1);
    void* buffer = redFirst ? image->channel1 : image->channel3;
    const int32_t sixteenBit = sampleBytes == 2 ? 1 : 0;

    const int32_t result = entries.removeNoise(buffer, image->width, image->height, image->rowStride, 0, sixteenBit,
                                               0, redFirst ? 1 : 0, &block, noisePreset, 1, 0);
    return result == NOISELIB_OK ? 1 : 0;
}

}  // namespace lx::noise
