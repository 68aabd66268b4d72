// SPDX-License-Identifier: MIT
#include "noise/remove_noise_for_pipeline.h"

#include <algorithm>

#include "noise/noise_library.h"

namespace lx::noise {
namespace {

// word + adjustment in 64 bits (no overflow for any int32 pair), clamped.
int32_t AdjustClamped(int32_t word, int32_t adjustment, int32_t high) {
    return static_cast<int32_t>(std::clamp<int64_t>(int64_t{word} + adjustment, 0, high));
}

}  // namespace

bool RemoveNoiseForPipeline(void* buffer, int32_t width, int32_t height, int32_t rowStride, int32_t sixteenBit,
                               int32_t noisePreset, int32_t noiseAdjustA, int32_t noiseAdjustB,
                               int32_t noiseLevelOverride, int32_t noiseWord0, int64_t noiseQword) {
    const EntryPoints& entries = Entries();
    if (entries.fillParams == nullptr || entries.removeNoise == nullptr) return false;

    NoiseParamBlock block{};
    block.word0 = noiseWord0;
    block.qword = noiseQword;
    entries.fillParams(&block, noisePreset);
    block.word16 = 0;
    int32_t level = noisePreset < 3 ? 3 : block.level;
    if (noisePreset == 1) {
        block.word0 = -1;
        block.qword = 0;
    }
    block.adjustA = AdjustClamped(block.adjustA, noiseAdjustA, 100);
    block.adjustB = AdjustClamped(block.adjustB, noiseAdjustB, 20);
    if (noiseLevelOverride != -1) level = noiseLevelOverride;
    block.level = level;

    const int32_t result = entries.removeNoise(buffer, width, height, rowStride, 0, sixteenBit != 0 ? 1 : 0, 0, 0,
                                               &block, noisePreset, 0, 0);
    return result != NOISELIB_FAILED;
}

}  // namespace lx::noise
