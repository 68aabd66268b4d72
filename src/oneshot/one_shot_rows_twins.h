// SPDX-License-Identifier: MIT
// The twins behind the one-shot row kernels of one_shot_rows.h.
//
// Every kernel has a plain form, written for exactness and read as the
// reference, and a fast form (SIMD through Highway, dynamic dispatch) that
// gives the same bytes and floats. A kernel that reads the image takes row y
// of an ImageView (its width is the row's n pixels) and leaves the samples
// in three planar rows; the fast form moves them with the shared planar
// loads and stores (simd/planar_rows-inl.h). The chooser without suffix runs
// the plain form when simd::ReferenceKernels() holds and, for kernels that
// read the image, when its samples are not all its own (simd::SamplesAreOwn),
// else the fast form. The plain form handles every layout, pixel by pixel
// in row order, reading each pixel back after writing it, as a
// pixel-at-a-time loop does. The fast forms are in one_shot_rows_hwy.cpp; a
// build without SIMD runs the plain forms in their place (simd/no_simd.cpp).
#pragma once

#include <cstdint>

#include "oneshot/one_shot_rows.h"

namespace lx {

uint8_t RowMinimumPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest);
uint8_t RowMinimumFast(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest);
void RemoveBlackRowPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                         uint8_t* largest);
void RemoveBlackRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                        uint8_t* largest);
void ApplyTintRowPlain(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                       uint8_t* largest, int64_t* moved);
void ApplyTintRowFast(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                      uint8_t* largest, int64_t* moved);
void ReadRowPlain(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest);
void ReadRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest);
void ChromaCellsRowPlain(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells);
void ChromaCellsRowFast(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells);
void StretchValuesRowPlain(const uint8_t* v, int32_t n, float stretch, float* out);
void StretchValuesRowFast(const uint8_t* v, int32_t n, float stretch, float* out);
void BrightenRowPlain(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t);
void BrightenRowFast(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                     uint8_t* const scratch[3]);

}  // namespace lx
