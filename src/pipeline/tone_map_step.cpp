// SPDX-License-Identifier: MIT
#include "pipeline/tone_map_step.h"

namespace lx {

BaseMapBlend BlendOf(const ImageParam& param, float scale, int64_t offsetX, int64_t offsetY) {
    BaseMapBlend b;
    b.map = param.baseMap->As<float>();
    b.mapWidth = param.width, b.mapHeight = param.height;
    b.scale = scale;
    b.offsetX = int32_t(std::clamp<int64_t>(offsetX, INT32_MIN, INT32_MAX));
    b.offsetY = int32_t(std::clamp<int64_t>(offsetY, INT32_MIN, INT32_MAX));
    b.low = float(param.baseMapLow);
    b.flatRange = param.baseMapHigh == param.baseMapLow;
    b.q = 1.0f / float(int64_t{param.baseMapHigh} - param.baseMapLow);
    return b;
}

}  // namespace lx
