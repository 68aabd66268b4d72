// SPDX-License-Identifier: MIT
#include "pipeline/row_copy.h"

#include "simd/kernels.h"

namespace lx {

template <class T>
void CopyPixels(const ImageView<const T>& from, const ImageView<T>& to) {
    if (simd::FastKernels()) CopyPixelsFast<T>(from, to);
    else CopyPixelsPlain<T>(from, to);
}

template void CopyPixels<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&);
template void CopyPixels<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&);

#if !defined(LUMAREX_SIMD)
template <class T>
void CopyPixelsFast(const ImageView<const T>& from, const ImageView<T>& to) {
    CopyPixelsPlain<T>(from, to);
}
template void CopyPixelsFast<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&);
template void CopyPixelsFast<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&);
#endif

}  // namespace lx
