// SPDX-License-Identifier: MIT
#include "stages/local_contrast_map.h"

#include "math/float_math.h"

namespace lx {

int32_t SmoothingRadius(int32_t width, int32_t height) {
    return static_cast<int32_t>(int64_t{std::max(width, height)} * 20 / 100);
}

float SmoothingDecay(int32_t radius) { return math::Exp(-(1.0f / (static_cast<float>(radius) * 0.5f))); }

}  // namespace lx
