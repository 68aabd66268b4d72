// SPDX-License-Identifier: MIT
// The denoise step of the apply pipelines: prepares the noise library's
// parameter block from the caller's settings and removes noise in place from
// a private copy of the pixels.
#pragma once

#include <cstdint>

namespace lx::noise {

// `buffer`: interleaved three-sample pixels in blob order (channel 3 first),
// `width` x `height`, `rowStride` bytes per row; 8-bit samples when
// `sixteenBit` is 0, 16-bit otherwise. Changed in place.
//
// Block preparation, in this order:
//   1. word 0 <- noiseWord0, 64-bit field <- noiseQword
//   2. the library fills the block for noisePreset
//   3. word at byte 16 <- 0
//   4. level <- 3 for presets below 3, else the filled word at byte 4
//   5. preset 1: word 0 <- -1, 64-bit field <- 0
//   6. word at byte 8  <- word + noiseAdjustA, clamped to 0..100
//   7. word at byte 12 <- word + noiseAdjustB, clamped to 0..20
//   8. level <- noiseLevelOverride unless it is -1; word at byte 4 <- level
// then RemoveNoiseBufPreset(buffer, width, height, rowStride, 0, sample flag,
// 0, 0 (blue first), block, noisePreset, 0 (remove), 0).
//
// Returns true on success (any library result but 3), false when the library
// reports failure (3) or when it or one of the two entry points is missing;
// the buffer is then not to be used as denoised.
bool RemoveNoiseForPipeline(void* buffer, int32_t width, int32_t height, int32_t rowStride, int32_t sixteenBit,
                               int32_t noisePreset, int32_t noiseAdjustA, int32_t noiseAdjustB,
                               int32_t noiseLevelOverride, int32_t noiseWord0, int64_t noiseQword);

}  // namespace lx::noise
