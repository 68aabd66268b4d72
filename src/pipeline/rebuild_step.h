// SPDX-License-Identifier: MIT
// The channel rebuild of the apply pipelines: the levelled channels are
// scaled so that their largest lands on the tone-mapped value, keeping the
// ratios between them (hue and saturation).
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// Per pixel, mx = the largest channel, v = the value-plane entry:
// ratio = v / mx (0 when v is 0, and a pixel whose channels are all 0 stays
// 0); each channel = clamp(trunc(channel x ratio), 0, full scale). `value`
// holds image.width floats per row, row after row. Runs the SIMD twin
// (rebuild_step_twins.h) when the build has it and the view's samples are
// all its own; the same bytes. Instantiated for uint8_t and uint16_t.
template <class T>
void RebuildProportional(const ImageView<T>& image, const float* value);

}  // namespace lx
