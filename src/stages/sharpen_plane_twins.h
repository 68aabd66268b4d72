// SPDX-License-Identifier: MIT
// The twins behind SharpenLines and SharpenLineEnds: the plain form, the
// reference, and the fast form (SIMD, sharpen_plane_hwy.cpp; the plain form
// again in a build without SIMD, simd/no_simd.cpp). The same bits either way.
#pragma once

#include <cstdint>

#include "stages/sharpen_plane.h"

namespace lx {

void SharpenLinesPlain(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                       const SharpenKernel& k);
void SharpenLinesFast(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                      const SharpenKernel& k);
void SharpenLineEndsPlain(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k);
void SharpenLineEndsFast(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k);

}  // namespace lx
