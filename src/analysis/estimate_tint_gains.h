// SPDX-License-Identifier: MIT
// The colour-cast (tint) analysis: measures the cast of an image and returns
// the per-channel gains that, multiplied into the channels, would neutralise
// it. The first channel is the reference (gain 1.0); the second and third
// are measured against it on a 101 x 101 chromaticity grid of the pixels
// that are neither too dark nor clipped (see analysis_helpers.h).
//
// Every variant runs the same analysis:
//   1. histograms of the three channels; give up when one is piled up
//      against an end (IsHistogramUsable, factor 1.3, band 30 %, share 70 %),
//      or when exactly one channel clips at the top and is the brightest;
//   2. the grid of the pixels whose channels all lie in 31..245 (tint
//      mode 2: all >= 31 and not all three above 245), smoothed with a
//      half-life of 1.5 cells, ranked from the most to the least populated
//      cell;
//   3. gains from the ranked cells by the tint mode:
//
//   mode | candidates (100, from p % of the cells up in 0.1 % steps) | limit trim
//   -----+------------------------------------------------------------+-----------
//   0    | TintFromNearestCell, p from 0.1 %                          | linear
//   1    | TintFromCellBox,     p from 0.1 %                          | log
//   2    | TintFromCellBox,     p from 0.5 % (concentrated) .. 2.5 %  | both, the
//        | (spread out); gives up when over 99.99 % of the grid has   | tighter one
//        | both second and third channel at or below the first        |
//   3    | no candidates: TintFromCentroid of the whole grid          | none
//   < 0  | as 0
//   > 3  | as 0, but candidates from TintFromCellBox
//
//   The first candidate whose second and third gains both lie within
//   2 x spread of 1.0 is taken, or the first candidate if none does. The
//   spread is how far apart the channels end: each channel's limit starts
//   at 245 and drops past the top 0.5 % of its histogram mass (or log
//   mass), and spread is the larger relative offset of the second and third
//   limit from the first. An image whose channels end apart thus accepts
//   larger gains.
//
// Values are 8-bit levels; the 16-bit variant scales them by 256 (too dark:
// at or below 7680 = 30 x 256; limit 62720 = 245 x 256) and has 65536-bin
// histograms with top bin 65535.
//
// Result: true when the analysis ran to its end (the gains may still be
// 1.0); false when it gave up, with all three gains 1.0. It gives up, besides the cases
// above, when no pixel reaches the grid (for instance one channel at or below
// 30 everywhere): there is nothing to measure a cast on. Images with height
// or width <= 0 have no pixels and give false that way. The image is only
// read. Channel pointers must address every examined sample.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// The three gains go to gains[0..2] (first, second, third channel); the
// result is true when the analysis ran to its end.

// 8-bit image: examines every pixel. Working tables (about 130 KB) live in
// the call's own storage; no failure path.
bool EstimateTintGains(const ImageView<const uint8_t>& image, int32_t tintMode, float gains[3]);

// 8-bit blob (interleaved, three samples per pixel; `blob` as BlobView gives
// it): examines every 8th pixel of every 8th row, starting at pixel (0, 0).
// The view's pixel stride is not read: blob pixels are three samples apart.
// Working tables live in the call's own storage; no failure path.
bool EstimateTintGainsBlob8(const ImageView<const uint8_t>& blob, int32_t tintMode, float gains[3]);

// 16-bit blob, sampled as the 8-bit blob. Its three 65536-bin histograms
// (and in tint modes 1 and 2 three log histograms) are host blocks (256 KB
// each); when the host refuses one, every block already taken is released
// and the result is false with gains 1.0.
bool EstimateTintGainsBlob16(const ImageView<const uint16_t>& blob, int32_t tintMode, float gains[3]);

}  // namespace lx
