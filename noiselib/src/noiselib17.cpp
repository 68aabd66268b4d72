// SPDX-License-Identifier: MIT
// The noise library's three entry points: argument checks, the preset
// table, and the mapping from the parameter block to the denoiser.
#include "noiselib17.h"

#include <algorithm>
#include <cstddef>

#include "denoise.h"
#include "noise_estimate.h"
#include "work_memory.h"

static_assert(sizeof(NoiseParamBlock) == 32 && offsetof(NoiseParamBlock, word16) == 16 &&
                  offsetof(NoiseParamBlock, reserved20) == 20 && offsetof(NoiseParamBlock, qword) == 24,
              "callers lay the block out as 32-bit words at 0..16 and a 64-bit field at 24");

namespace noiselib {
namespace {

constexpr int32_t kPresetCount = 5;
constexpr int32_t kMaxLevel = 10;
constexpr int32_t kMaxAdjustA = 100;
constexpr int32_t kMaxAdjustB = 20;

// Preset table, gentle to strong. `level` scales the measured noise (3 = as
// measured); adjustA sets how different two patches may be and still be
// averaged, adjustB how far and how freely the chroma is smoothed; the search
// window grows with the preset.
//
//   preset  level  adjustA  adjustB  search window  luma h  chroma radius, k
//     0       3      28        4        3 x 3         1.2       1, 0.65
//     1       3      44        6        5 x 5         1.6       1, 0.85
//     2       3      60        8        5 x 5         2.0       2, 1.05
//     3       4      60       12        7 x 7         2.0       2, 1.45
//     4       5      76       16        7 x 7         2.4       3, 1.85
//
// Presets 0..2 share level 3 because the apply pipelines pass level 3 for
// them whatever the table says; adjustA and adjustB tell them apart.
struct Preset {
    int32_t level, adjustA, adjustB, searchRadius;
};
constexpr Preset kPresets[kPresetCount] = {
    {3, 28, 4, 1}, {3, 44, 6, 2}, {3, 60, 8, 2}, {4, 60, 12, 3}, {5, 76, 16, 3},
};

// The block's words, clamped to their ranges, turned into filter settings.
//   sigma        = measured luma noise x level / 3
//   lumaH        = 0.5 + 2.5 adjustA / 100     (0.5 .. 3.0)
//   chromaRadius = 1 + adjustB / 8             (1 .. 3)
//   chromaK      = 0.25 + adjustB / 10         (0.25 .. 2.25)
DenoiseSettings SettingsFor(const NoiseParamBlock& block, int32_t preset, float measuredSigma) {
    const int32_t level = std::clamp(block.level, 0, kMaxLevel);
    const int32_t a = std::clamp(block.adjustA, 0, kMaxAdjustA);
    const int32_t b = std::clamp(block.adjustB, 0, kMaxAdjustB);
    DenoiseSettings s;
    s.searchRadius = kPresets[preset].searchRadius;
    s.sigma = measuredSigma * float(level) / 3.0f;
    s.lumaH = 0.5f + 2.5f * float(a) / 100.0f;
    s.chromaRadius = 1 + b / 8;
    s.chromaK = 0.25f + float(b) / 10.0f;
    return s;
}

// Below this (1/20 of an 8-bit level) there is nothing worth removing.
constexpr float kMinSigma = 0.05f;

template <class T>
int32_t Run(uint8_t* buffer, int32_t width, int32_t height, int64_t rowStride, bool redFirst,
            NoiseParamBlock* block, int32_t preset, int32_t mode) {
    float sigma = 0.0f;
    {
        WorkBlock scratch = WorkBlock::Allocate(NoiseEstimateScratchBytes(width));
        if (!scratch) return NOISELIB_FAILED;
        sigma = EstimateLumaNoise<T>(buffer, width, height, rowStride, redFirst, scratch.data());
    }
    // Bytes 20..23 are the library's own: the measured noise, in hundredths
    // of an 8-bit level (luma deviation). Bounded by the histogram's range.
    block->reserved20 = static_cast<int32_t>(sigma * 100.0f + 0.5f);
    if (mode == 1) return NOISELIB_OK;

    const DenoiseSettings settings = SettingsFor(*block, preset, sigma);
    if (!(settings.sigma >= kMinSigma)) return NOISELIB_OK;  // level 0, or no measurable noise (flat or tiny images)
    WorkBlock scratch = WorkBlock::Allocate(DenoiseScratchBytes(width, height, int(sizeof(T)), settings));
    if (!scratch) return NOISELIB_FAILED;
    Denoise<T>(buffer, width, height, rowStride, redFirst, settings, scratch.data());
    return NOISELIB_OK;
}

}  // namespace
}  // namespace noiselib

extern "C" {

NOISELIB_API int32_t NoiseSetFilterRecord(FilterRecord* record) {
    noiselib::SetHostRecord(record);
    return NOISELIB_OK;
}

NOISELIB_API int32_t FillNoiseParamsFromPreset(NoiseParamBlock* block, int32_t preset) {
    if (block == nullptr || preset < 0 || preset >= noiselib::kPresetCount) return NOISELIB_FAILED;
    const noiselib::Preset& p = noiselib::kPresets[preset];
    block->level = p.level;
    block->adjustA = p.adjustA;
    block->adjustB = p.adjustB;
    block->reserved20 = 0;
    return NOISELIB_OK;
}

NOISELIB_API int32_t RemoveNoiseBufPreset(void* buffer, int32_t width, int32_t height, int32_t rowStride,
                                          int32_t /*reserved5*/, int32_t sixteenBit, uint8_t /*reserved7*/,
                                          uint8_t redFirst, NoiseParamBlock* block, int32_t preset, int32_t mode,
                                          int64_t /*reserved12*/) {
    if (buffer == nullptr || block == nullptr || width <= 0 || height <= 0) return NOISELIB_FAILED;
    if (sixteenBit != 0 && sixteenBit != 1) return NOISELIB_FAILED;
    if (mode != 0 && mode != 1) return NOISELIB_FAILED;
    if (preset < 0 || preset >= noiselib::kPresetCount) return NOISELIB_FAILED;
    const int64_t bytesPerSample = sixteenBit ? 2 : 1;
    if (int64_t{rowStride} < int64_t{width} * 3 * bytesPerSample) return NOISELIB_FAILED;

    auto* samples = static_cast<uint8_t*>(buffer);
    return sixteenBit ? noiselib::Run<uint16_t>(samples, width, height, rowStride, redFirst != 0, block, preset, mode)
                      : noiselib::Run<uint8_t>(samples, width, height, rowStride, redFirst != 0, block, preset, mode);
}

}  // extern "C"
