// SPDX-License-Identifier: MIT
#include "pipeline/rebuild_step.h"

#include "pipeline/rebuild_step_twins.h"
#include "simd/kernels.h"

namespace lx {

template <class T>
void RebuildProportional(const ImageView<T>& image, const float* value) {
    if (simd::FastKernels()) RebuildProportionalFast<T>(image, value);
    else RebuildProportionalPlain<T>(image, value);
}

template void RebuildProportional<uint8_t>(const ImageView<uint8_t>&, const float*);
template void RebuildProportional<uint16_t>(const ImageView<uint16_t>&, const float*);

}  // namespace lx
