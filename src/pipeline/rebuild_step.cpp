// SPDX-License-Identifier: MIT
#include "pipeline/rebuild_step.h"

#include "pipeline/rebuild_step_twins.h"
#include "simd/kernels.h"

namespace lx {

template <class T>
void RebuildProportional(const ImageView<T>& image, const float* value) {
    if (simd::ReferenceKernels()) RebuildProportionalPlain<T>(image, value);
    else RebuildProportionalFast<T>(image, value);
}

template void RebuildProportional<uint8_t>(const ImageView<uint8_t>&, const float*);
template void RebuildProportional<uint16_t>(const ImageView<uint16_t>&, const float*);

}  // namespace lx
