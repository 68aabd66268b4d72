// SPDX-License-Identifier: MIT
#include "api/sample_base_map.h"

#include <algorithm>
#include <cmath>

#include "platform/float_convert.h"

namespace lx {
namespace {

}  // namespace

float SampleBaseMap(const HostBlock* map, float scale, int32_t mapWidth, int32_t mapHeight,
                    int32_t offsetX, int32_t offsetY, int32_t x, int32_t y) {
    if (map == nullptr || mapWidth <= 0 || mapHeight <= 0) return 0.0f;
    // The sums are integers; formed in 64 bits they cannot wrap.
    const float fx = static_cast<float>(int64_t{offsetX} + x) / scale;
    const float fy = static_cast<float>(int64_t{offsetY} + y) / scale;
    if (!std::isfinite(fx) || !std::isfinite(fy)) return 0.0f;

    int64_t x0 = TruncSaturate(fx), x1 = x0 + 1;
    int64_t y0 = TruncSaturate(fy), y1 = y0 + 1;
    x0 = std::clamp<int64_t>(x0, 0, mapWidth - 1);
    x1 = std::clamp<int64_t>(x1, 0, mapWidth - 1);
    y0 = std::clamp<int64_t>(y0, 0, mapHeight - 1);
    y1 = std::clamp<int64_t>(y1, 0, mapHeight - 1);

    const float* m = map->As<float>();
    const float tl = m[y0 * mapWidth + x0], tr = m[y0 * mapWidth + x1];
    const float bl = m[y1 * mapWidth + x0], br = m[y1 * mapWidth + x1];

    float top = tl, bottom = bl;
    if (x0 != x1) {
        const float u = (fx - static_cast<float>(x0)) / static_cast<float>(x1 - x0);
        top = tl + (tr - tl) * u;
        bottom = bl + (br - bl) * u;
    }
    if (y0 == y1) return top;
    return top + (bottom - top) * (fy - static_cast<float>(y0)) / static_cast<float>(y1 - y0);
}

}  // namespace lx
