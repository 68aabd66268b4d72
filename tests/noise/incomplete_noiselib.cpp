// SPDX-License-Identifier: MIT
// A noise library that lacks two of its three entry points: it exports only
// FillNoiseParamsFromPreset, which fills a recognisable level.
#include "noiselib17.h"

extern "C" NOISELIB_API int32_t FillNoiseParamsFromPreset(NoiseParamBlock* block, int32_t preset) {
    if (block != nullptr) block->level = 40 + preset;
    return 0;
}
