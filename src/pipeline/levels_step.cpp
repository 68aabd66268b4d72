// SPDX-License-Identifier: MIT
#include "pipeline/levels_step.h"

#include "pipeline/levels_step_twins.h"
#include "simd/kernels.h"

namespace lx {

void LevelRow8(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y,
               const ImageView<uint8_t>& out, float* value) {
    if (simd::ReferenceKernels()) LevelRow<uint8_t>(table, source, y, out, value);
    else LevelRow8Fast(table, source, y, out, value);
}

void LevelRow16(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                const ImageView<uint16_t>& out, float* value) {
    if (simd::ReferenceKernels()) LevelRow<uint16_t>(step, source, y, out, value);
    else LevelRow16Fast(step, source, y, out, value);
}

void LevelValues8(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y, int32_t n,
                  float* value) {
    if (simd::ReferenceKernels()) LevelValues<uint8_t>(table, source, y, n, value);
    else LevelValues8Fast(table, source, y, n, value);
}

void LevelValues16(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y, int32_t n,
                   float* value) {
    if (simd::ReferenceKernels()) LevelValues<uint16_t>(step, source, y, n, value);
    else LevelValues16Fast(step, source, y, n, value);
}

}  // namespace lx
