// SPDX-License-Identifier: MIT
// Estimating the noise of an image from its luma.
#pragma once

#include <cstdint>

#include "work_memory.h"

namespace noiselib {

// Scratch the estimate needs for an image `width` pixels wide, in bytes.
int64_t NoiseEstimateScratchBytes(int width);

// Standard deviation of the noise in the luma of the image (8-bit scale),
// assuming white noise.
//
// Each interior pixel's luma is filtered with the second-difference kernel
//
//      1 -2  1
//     -2  4 -2        (sum of squares 36: white noise of deviation s
//      1 -2  1         comes out with deviation 6 s)
//
// which cancels flat areas, ramps and bilinear shading, so what is left is
// mostly noise plus texture. The magnitudes go into a histogram (bins of 1/8)
// and a low quantile is read: the lower part of the distribution comes from
// smooth areas, where texture adds least. For Gaussian noise the 25th
// percentile of |N(0, 1)| is 0.31864.
//
// Images smaller than 3 x 3 give 0. `scratch` must hold
// NoiseEstimateScratchBytes(width) bytes.
template <class T>
float EstimateLumaNoise(const uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
                        void* scratch);

}  // namespace noiselib
