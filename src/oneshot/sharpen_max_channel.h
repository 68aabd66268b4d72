// SPDX-License-Identifier: MIT
// Colour-preserving sharpening of an 8-bit image on its brightest channel.
#pragma once

#include <cstdint>

#include "image/image_view.h"
#include "stages/sharpen_plane.h"

namespace lx {

// Sharpens an 8-bit image in place without shifting its colours. For each
// pixel p, M(p) is the largest of its three samples; a three-tap kernel
// (side a, centre c, side a, from the amount s: a = -0.25 s, c = 0.5 s + 1,
// both divided by a + c + a) is run over M, and all three samples of the
// pixel are multiplied by the ratio g of the sharpened to the unsharpened M,
// then clamped to 0..255 and truncated:
//
//   interior pixel  g = (a M(prev) + c M(p) + a M(next)) / M(p)
//   end pixel       g = (c M(p) + a M(neighbour)) / M(p) * e,  e = 1 / (a + c)
//
// A pass walks one line, taking its neighbours' M as they were when the pass
// began. Every row gets a pass from the first to the last pixel and then one
// back; then every column gets one from row 0 down and then one back up.
//
// amount: 0 leaves the image unchanged; larger values sharpen more.
// A flat area stays flat and keeps its colour, along the border too. A pixel
// whose three samples are 0 has no finite gain and stays 0. Lines of one
// pixel, whose single pixel has no neighbour, are left alone: width 1 skips
// the row passes, height 1 the column passes.
//
// The plain form allocates nothing. The fast form (SIMD, for images whose
// samples are their own, simd::SamplesAreOwn) works on planar copies of two
// rows at a time, about 18 bytes per pixel of a row, from the process heap
// (HeapArray); where that is refused the plain form runs.
void SharpenMaxChannel8(const ImageView<uint8_t>& image, float amount);

// The kernel's weights are the float planes' (MakeSharpenKernel, the same
// bits; its clamp limit is not used here, results are clamped to 0..255).

}  // namespace lx
