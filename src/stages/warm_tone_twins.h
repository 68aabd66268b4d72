// SPDX-License-Identifier: MIT
// The twins behind WarmToneCorrect: the plain form, the reference, and the
// fast form (SIMD, warm_tone_hwy.cpp; the plain form again in a build
// without SIMD, simd/no_simd.cpp). The choosers in warm_tone.h run the fast
// one when the build has it and no two pixels share a sample. The same bytes
// either way.
#pragma once

#include <cstdint>

#include "stages/warm_tone.h"

namespace lx {

void WarmToneCorrectPlain(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables);
void WarmToneCorrectPlain(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables);
void WarmToneCorrectFast(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables);
void WarmToneCorrectFast(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables);

}  // namespace lx
