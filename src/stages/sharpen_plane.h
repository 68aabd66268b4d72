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
// an empty plane is left alone. Allocates nothing.
void SharpenPlane8(const Plane& plane, float amount);
void SharpenPlane16(const Plane& plane, float amount);

}  // namespace lx
