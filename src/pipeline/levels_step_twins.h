// SPDX-License-Identifier: MIT
// The fast twins of LevelRow8/16 and LevelValues8/16, whose plain twins are
// the LevelRow and LevelValues templates of levels_step.h: SIMD
// (levels_step_hwy.cpp; the plain forms again in a build without SIMD,
// simd/no_simd.cpp). The same bytes either way; a source of another layout
// than a blob's takes the plain form.
#pragma once

#include <cstdint>

#include "pipeline/levels_step.h"

namespace lx {

void LevelRow8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y,
                   const ImageView<uint8_t>& out, float* value);
void LevelRow16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                    const ImageView<uint16_t>& out, float* value);
// trunc(p[i] / 1000) into q[i] as the SIMD form of the 16-bit levels
// divides, for |p[i]| < 2^30 (the plain division in a build without SIMD).
void DivideBy1000Fast(const int32_t* p, int32_t n, int32_t* q);

void LevelValues8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y, int32_t n,
                      float* value);
void LevelValues16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                       int32_t n, float* value);

}  // namespace lx
