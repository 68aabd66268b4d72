// SPDX-License-Identifier: MIT
// The twins behind ColorRestoreTone and the whole-image forms: the plain
// form, the reference, and the fast form (SIMD, color_restore_hwy.cpp; the
// plain form again in a build without SIMD, simd/no_simd.cpp). The choosers
// in color_restore.h run the fast one when the build has it and no two
// pixels share a sample. A null `tone` leaves out the rescaling (the
// ColorRestore8 form). The same bytes either way.
#pragma once

#include <cstdint>

#include "stages/color_restore.h"

namespace lx {

void ColorRestorePlain(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables);
void ColorRestorePlain(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables);
void ColorRestoreFast(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables);
void ColorRestoreFast(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables);

}  // namespace lx
