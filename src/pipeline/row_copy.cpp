// SPDX-License-Identifier: MIT
#include "pipeline/row_copy.h"

#include "pipeline/row_copy_twins.h"
#include "simd/kernels.h"

namespace lx {

template <class T>
void CopyPixels(const ImageView<const T>& from, const ImageView<T>& to, Stores stores) {
    if (simd::ReferenceKernels()) CopyPixelsPlain<T>(from, to);
    else CopyPixelsFast<T>(from, to, stores);
}

template void CopyPixels<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&, Stores);
template void CopyPixels<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&, Stores);

}  // namespace lx
