// SPDX-License-Identifier: MIT
// The sharpening line kernels with SIMD: each lane computes one line's
// sample with the plain kernels' float operations in their order
// (side x behind + centre x cur, then + side x ahead), so the bits are the
// same. The lines are independent, so this is a plain elementwise loop; the
// gain over the compiler's own code is the vector width (the default build
// targets SSE2 only).
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/sharpen_plane_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "stages/sharpen_plane_twins.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// x > limit ? limit : (x < 0 ? 0 : x), as the plain clamp (a NaN stays NaN).
template <class D, class V>
HWY_INLINE V ClampToLimit(D d, V x, V limit) {
    return hn::IfThenElse(hn::Gt(x, limit), limit, hn::IfThenElse(hn::Lt(x, hn::Zero(d)), hn::Zero(d), x));
}

void Lines(const float* behind, const float* cur, const float* ahead, float* out, int32_t n, const SharpenKernel& k) {
    const hn::ScalableTag<float> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const auto side = hn::Set(d, k.side), centre = hn::Set(d, k.centre), limit = hn::Set(d, k.limit);
    int32_t i = 0;
    for (; i + N <= n; i += N) {
        const auto sum = hn::Add(hn::Add(hn::Mul(side, hn::LoadU(d, behind + i)), hn::Mul(centre, hn::LoadU(d, cur + i))),
                                 hn::Mul(side, hn::LoadU(d, ahead + i)));
        hn::StoreU(ClampToLimit(d, sum, limit), d, out + i);
    }
    if (i < n) SharpenLinesPlain(behind + i, cur + i, ahead + i, out + i, n - i, k);
}

void LineEnds(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k) {
    const hn::ScalableTag<float> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const auto side = hn::Set(d, k.side), centre = hn::Set(d, k.centre), edge = hn::Set(d, k.edge),
               limit = hn::Set(d, k.limit);
    int32_t i = 0;
    for (; i + N <= n; i += N) {
        const auto sum = hn::Add(hn::Mul(side, hn::LoadU(d, neighbour + i)), hn::Mul(centre, hn::LoadU(d, cur + i)));
        hn::StoreU(ClampToLimit(d, hn::Mul(sum, edge), limit), d, out + i);
    }
    if (i < n) SharpenLineEndsPlain(neighbour + i, cur + i, out + i, n - i, k);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Lines);
HWY_EXPORT(LineEnds);

void SharpenLinesFast(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                      const SharpenKernel& k) {
    HWY_DYNAMIC_DISPATCH(Lines)(behind, cur, ahead, out, n, k);
}

void SharpenLineEndsFast(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k) {
    HWY_DYNAMIC_DISPATCH(LineEnds)(neighbour, cur, out, n, k);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
