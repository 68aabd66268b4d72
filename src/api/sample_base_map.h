// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

#include "host/host_buffers.h"

namespace lx {

// Reads the float map held in `map` (mapWidth x mapHeight floats, row after
// row) bilinearly at ((offsetX + x) / scale, (offsetY + y) / scale). Beyond
// the last row or column the last one is repeated; coordinates between -1 and
// 0 extrapolate from the first two samples, as the interpolation weights do.
// A null or empty map, and a non-finite coordinate, read as 0.
float SampleBaseMap(const HostBlock* map, float scale, int32_t mapWidth, int32_t mapHeight,
                    int32_t offsetX, int32_t offsetY, int32_t x, int32_t y);

}  // namespace lx
