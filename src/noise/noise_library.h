// SPDX-License-Identifier: MIT
// The binding to the noise-removal library: three entry points found by name
// when Lumarex is loaded, null when missing.
#pragma once

#include "noiselib17.h"

namespace lx::noise {

struct EntryPoints {
    NoiseSetFilterRecordFn setFilterRecord = nullptr;
    FillNoiseParamsFromPresetFn fillParams = nullptr;
    RemoveNoiseBufPresetFn removeNoise = nullptr;
};

// Process-wide entry points, written only at module start (and by tests).
EntryPoints& Entries();

}  // namespace lx::noise
