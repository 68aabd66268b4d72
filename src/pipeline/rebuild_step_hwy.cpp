// SPDX-License-Identifier: MIT
// The proportional channel rebuild with SIMD: the plain ratio and products
// lane by lane, the branch on a zero value or a black pixel as a mask. The
// same bytes as RebuildProportionalPlain.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/rebuild_step_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "pipeline/rebuild_step_twins.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

template <class T>
void RebuildRun(T* const c[3], const float* value, int32_t n) {
    using D = SampleDepth<T>;
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const int32_t N = int32_t(hn::Lanes(df));
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        hn::Vec<decltype(di)> px[3];
        for (int k = 0; k < 3; ++k) px[k] = LoadSamples(di, c[k] + x);
        const auto mx = hn::Max(hn::Max(px[0], px[1]), px[2]);
        const auto v = hn::LoadU(df, value + x);
        const auto none = hn::Or(hn::Eq(v, hn::Zero(df)), hn::RebindMask(df, hn::Eq(mx, hn::Zero(di))));
        const auto ratio = hn::IfThenZeroElse(none, hn::Div(v, hn::ConvertTo(df, hn::Max(mx, hn::Set(di, 1)))));
        for (int k = 0; k < 3; ++k)
            StoreSamples(di, TruncClampVec(df, hn::Mul(hn::ConvertTo(df, px[k]), ratio), 0, D::kFull), c[k] + x);
    }
    if (x < n) RebuildProportionalPlain<T>(ImageView<T>{{c[0] + x, c[1] + x, c[2] + x}, n - x, 1, n - x, 1}, value + x);
}

template <class T>
void Rebuild(const ImageView<T>& image, const float* value) {
    ForEachPlanarRun(image, [&](T* const c[3], int32_t x0, int32_t y, int32_t n) {
        RebuildRun<T>(c, value + int64_t{y} * image.width + x0, n);
    });
}

void Rebuild8(const ImageView<uint8_t>& image, const float* value) { Rebuild<uint8_t>(image, value); }
void Rebuild16(const ImageView<uint16_t>& image, const float* value) { Rebuild<uint16_t>(image, value); }

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Rebuild8);
HWY_EXPORT(Rebuild16);

template <class T>
void RebuildProportionalFast(const ImageView<T>& image, const float* value) {
    if (image.Empty()) return;
    if (!simd::SamplesAreOwn(image)) return RebuildProportionalPlain<T>(image, value);
    if constexpr (sizeof(T) == 1) HWY_DYNAMIC_DISPATCH(Rebuild8)(image, value);
    else HWY_DYNAMIC_DISPATCH(Rebuild16)(image, value);
}

template void RebuildProportionalFast<uint8_t>(const ImageView<uint8_t>&, const float*);
template void RebuildProportionalFast<uint16_t>(const ImageView<uint16_t>&, const float*);

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
