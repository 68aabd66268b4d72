// SPDX-License-Identifier: MIT
// Three-tap sharpening of a float plane in 8-bit or 16-bit sample units.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// Sharpen `plane` (width x height floats, row after row, no gap) in place
// with the kernel (-s/4, 1 + s/2, -s/4), normalised to sum 1. Every row gets
// the kernel twice (a walk left to right, then right to left on its result),
// then every column twice (top to bottom, then bottom to top). Each walk
// reads a neighbour's value from before the walk and clamps every result to
// [0, limit]. The first and last sample of a line have one neighbour and are
// scaled by 1 / (side + centre), so a constant plane stays constant,
// borders included. s = amount: 0 leaves the plane unchanged, larger values
// sharpen more; a step edge overshoots on both sides up to the clamp.
//
//   SharpenPlane8    limit 255
//   SharpenPlane16   limit 65280 (255 x 256, the 16-bit full scale)
//
// Lines of one sample have no neighbour to sharpen against: a plane of width
// 1 gets only the column walks, a plane of height 1 only the row walks, and
// an empty plane is left alone. Allocates nothing (a few KB of stack).
void SharpenPlane8(const Plane& plane, float amount);
void SharpenPlane16(const Plane& plane, float amount);

// The weights of one call, for callers that sharpen a row at a time:
//   sum    = (s x -0.25 + 0) + (s x 0.5 + 1) + s x -0.25    (1 up to rounding)
//   side   = (s x -0.25) / sum,   centre = (s x 0.5 + 1) / sum
//   edge   = 1 / (side + 0 + centre)
struct SharpenKernel {
    float side = 0.0f;
    float centre = 1.0f;
    float edge = 1.0f;
    float limit = 255.0f;  // results are clamped to [0, limit]
};
SharpenKernel MakeSharpenKernel(float amount, float limit);

// Because a walk reads every neighbour as it was before the walk, each
// application is a three-tap stencil on old values, and a walk is these two
// kernels applied to lines side by side (n samples each, one per line):
//
// An inner sample of n lines at once, `behind` being the neighbour the walk
// has just left and `ahead` the one still to come:
//   out[i] = clamp((side x behind[i] + centre x cur[i]) + side x ahead[i])
// out may be cur; it must not be behind or ahead.
void SharpenLines(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                  const SharpenKernel& k);
// The first or last sample of n lines, whose one neighbour is `neighbour`:
//   out[i] = clamp((side x neighbour[i] + centre x cur[i]) x edge)
void SharpenLineEnds(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k);
// Both run their SIMD twins (sharpen_plane_twins.h) when the build has them;
// the same bits.

// Both walks along one row of n >= 2 samples: left to right from `in` into
// `scratch`, then right to left from `scratch` into `out` (which may be
// `in`). n floats each; scratch must not overlap the others.
void SharpenRow(const float* in, float* scratch, float* out, int32_t n, const SharpenKernel& k);

}  // namespace lx
