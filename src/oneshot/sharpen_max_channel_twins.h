// SPDX-License-Identifier: MIT
// The twins behind SharpenMaxChannel8: the plain form, the reference, and
// the fast form (SIMD, sharpen_max_channel_hwy.cpp; the plain form again in
// a build without SIMD, simd/no_simd.cpp). The same bytes either way. The
// fast form expects samples that are the image's own; it returns false,
// having changed nothing, when its row buffers cannot be had.
#pragma once

#include <cstdint>

#include "oneshot/sharpen_max_channel.h"

namespace lx {

void SharpenMaxChannel8Plain(const ImageView<uint8_t>& image, float amount);
bool SharpenMaxChannel8Fast(const ImageView<uint8_t>& image, float amount);

}  // namespace lx
