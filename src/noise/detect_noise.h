// SPDX-License-Identifier: MIT
// DetectNoise: asks the noise library to estimate the noise of an image.
#pragma once

#include <cstdint>

#include "lumarex/lumarex.h"

namespace lx::noise {

// Prepares a parameter block and calls RemoveNoiseBufPreset in analysis mode
// (mode 1), which leaves the samples unchanged.
//
//   block word 0   <- noiseWord0, 64-bit field <- noiseQword, then the preset
//                     is filled in, word at byte 16 <- 0
//   preset 1       -> word 0 <- -1, 64-bit field <- 0
//   level (byte 4) <- noiseLevelOverride unless it is -1;
//                     else 3 for presets below 3, else the preset's own level
//
// `image` must be one interleaved buffer (three channel pointers one sample
// apart): the library reads three-sample pixels and takes no pixel stride,
// so a pixel stride other than 3 samples (3 bytes, or 6 for any sample type
// but 0; an odd 16-bit stride counts as the even one below) is refused with
// 0 and no call. The buffer handed over starts at the lower of channel1 and channel3;
// the red-first flag is 1 when channel1 is that one (or both are equal). The
// sample flag is 1 for any sample type other than 0.
//
// Returns 1 when the library answered 0, else 0. Also 0, without any call,
// for a null image or when the noise library or one of the two entry points
// it needs is missing.
int32_t DetectNoise(const ImageDesc* image, int32_t noisePreset, int32_t noiseLevelOverride,
                    int32_t noiseWord0, int64_t noiseQword);

}  // namespace lx::noise
