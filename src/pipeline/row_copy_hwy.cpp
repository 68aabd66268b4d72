// SPDX-License-Identifier: MIT
// CopyPixels with SIMD: planar rows interleaved into three-sample pixels
// with vector stores (StoreRun).
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/row_copy_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "pipeline/row_copy.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {

template <class T>
void CopyFromPlanar(const ImageView<const T>& from, const ImageView<T>& to) {
    for (int32_t y = 0; y < to.height; ++y) {
        const T* in[3];
        from.Row(y, in);
        StoreRun<T>(in, to.width, to, y, 0);
    }
}

void Copy8(const ImageView<const uint8_t>& from, const ImageView<uint8_t>& to) { CopyFromPlanar(from, to); }
void Copy16(const ImageView<const uint16_t>& from, const ImageView<uint16_t>& to) { CopyFromPlanar(from, to); }

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Copy8);
HWY_EXPORT(Copy16);

template <class T>
void CopyPixelsFast(const ImageView<const T>& from, const ImageView<T>& to) {
    // Written a channel at a time, so only where no two pixels of `to` share
    // a sample.
    if (to.Empty() || from.pixelStride != 1 || !simd::SamplesAreOwn(to)) return CopyPixelsPlain<T>(from, to);
    if constexpr (sizeof(T) == 1) HWY_DYNAMIC_DISPATCH(Copy8)(from, to);
    else HWY_DYNAMIC_DISPATCH(Copy16)(from, to);
}

template void CopyPixelsFast<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&);
template void CopyPixelsFast<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&);

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
