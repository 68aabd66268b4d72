// SPDX-License-Identifier: MIT
// CopyPixels with SIMD: planar rows interleaved into three-sample pixels
// with vector stores (StoreRun), or streaming stores for the aligned middle
// of each row.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/row_copy_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/cache_control.h>
#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>

#include "pipeline/row_copy_twins.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {

// One row of whole vectors of pixels from the first one whose interleaved
// samples start a vector-aligned address, written with streaming stores
// (each vector's worth interleaved on the stack first); the pixels before
// and after with StoreRun. A row without such a pixel (too short) is all
// StoreRun.
template <class T>
void StreamRow(const T* const in[3], const ImageView<T>& to, int32_t y) {
    const hn::ScalableTag<T> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const size_t align = hn::Lanes(d) * sizeof(T);
    int32_t order[3];
    if (!simd::InterleavedOrder<T>(to.channel, to.pixelStride, order)) return StoreRun<T>(in, to.width, to, y, 0);
    T* const base = std::min({to.channel[0], to.channel[1], to.channel[2]}) + to.Offset(0, y);
    // 3 x sizeof(T) bytes a pixel: among any N pixels one starts an aligned
    // vector (T is aligned to its size).
    int32_t x = 0;
    while (x < N && reinterpret_cast<uintptr_t>(base + 3 * int64_t{x}) % align != 0) ++x;
    if (x == N || x + N > to.width) return StoreRun<T>(in, to.width, to, y, 0);
    StoreRun<T>(in, x, to, y, 0);
    HWY_ALIGN T interleaved[3 * hn::MaxLanes(d)];
    for (; x + N <= to.width; x += N) {
        hn::Vec<decltype(d)> s[3];
        for (int k = 0; k < 3; ++k) s[order[k]] = hn::LoadU(d, in[k] + x);
        hn::StoreInterleaved3(s[0], s[1], s[2], d, interleaved);
        T* const out = base + 3 * int64_t{x};
        for (int j = 0; j < 3; ++j) hn::Stream(hn::Load(d, interleaved + j * N), d, out + j * N);
    }
    const T* const rest[3] = {in[0] + x, in[1] + x, in[2] + x};
    StoreRun<T>(rest, to.width - x, to, y, x);
}

template <class T>
void CopyFromPlanar(const ImageView<const T>& from, const ImageView<T>& to, Stores stores) {
    for (int32_t y = 0; y < to.height; ++y) {
        const T* in[3];
        from.Row(y, in);
        if (stores == Stores::kStreaming) StreamRow<T>(in, to, y);
        else StoreRun<T>(in, to.width, to, y, 0);
    }
}

void Copy8(const ImageView<const uint8_t>& from, const ImageView<uint8_t>& to, Stores stores) {
    CopyFromPlanar(from, to, stores);
}
void Copy16(const ImageView<const uint16_t>& from, const ImageView<uint16_t>& to, Stores stores) {
    CopyFromPlanar(from, to, stores);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Copy8);
HWY_EXPORT(Copy16);

template <class T>
void CopyPixelsFast(const ImageView<const T>& from, const ImageView<T>& to, Stores stores) {
    // Written a channel at a time, so only where no two pixels of `to` share
    // a sample.
    if (to.Empty() || from.pixelStride != 1 || !simd::SamplesAreOwn(to)) return CopyPixelsPlain<T>(from, to);
    if constexpr (sizeof(T) == 1) HWY_DYNAMIC_DISPATCH(Copy8)(from, to, stores);
    else HWY_DYNAMIC_DISPATCH(Copy16)(from, to, stores);
}

template void CopyPixelsFast<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&, Stores);
template void CopyPixelsFast<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&, Stores);

void FenceStreamingStores() { hwy::FlushStream(); }

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
