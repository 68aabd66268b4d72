// SPDX-License-Identifier: MIT
// The row kernels of the streamed local-contrast map with SIMD: the same
// float operations per value in the same order as the plain rows, so the
// same bits. std::max(p, q) is written q where p < q, else p, as the plain
// form takes it.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/local_contrast_map_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "stages/local_contrast_map_twins.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace contrast_detail {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

void DetailRow(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n, float forward,
               float backward, float a) {
    const hn::ScalableTag<float> df;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto vf = hn::Set(df, forward), vb = hn::Set(df, backward), va = hn::Set(df, a);
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        auto sum = hn::Mul(hn::LoadU(df, d + x), vf);
        if (below != nullptr) sum = hn::Add(sum, hn::Mul(va, hn::LoadU(df, below + x)));
        hn::StoreU(sum, df, z + x);
        const auto detail = hn::Sub(hn::LoadU(df, v + x), hn::Mul(sum, vb));
        hn::StoreU(detail, df, d + x);
        hn::StoreU(hn::Abs(detail), df, magnitude + x);
    }
    if (x < n)
        DetailRowPlain(d + x, v + x, magnitude + x, z + x, below != nullptr ? below + x : nullptr, n - x, forward,
                       backward, a);
}

void MapRow(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
            const LocalContrastScale& scale, int32_t* bins) {
    const hn::ScalableTag<float> df;
    const hn::RebindToSigned<decltype(df)> di;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto vf = hn::Set(df, forward), vb = hn::Set(df, backward), va = hn::Set(df, a);
    const auto floor = hn::Set(df, scale.floor), divisor = hn::Set(df, scale.divisor);
    const float h = static_cast<float>(scale.half);
    const auto vh = hn::Set(df, h), vnh = hn::Set(df, -h);
    const auto offset = hn::Set(di, scale.half - 1), last = hn::Set(di, scale.Bins() - 1), zeroI = hn::Zero(di);
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        auto sum = hn::Mul(hn::LoadU(df, e + x), vf);
        if (!bottom) sum = hn::Add(sum, hn::Mul(va, hn::LoadU(df, z + x)));
        hn::StoreU(sum, df, z + x);
        const auto level = hn::Mul(sum, vb);
        const auto bounded = hn::IfThenElse(hn::Lt(level, floor), floor, level);
        const auto v = hn::Div(hn::Mul(bounded, hn::LoadU(df, d + x)), divisor);
        hn::StoreU(v, df, e + x);
        // ContrastBin; lanes past either end are replaced, so their
        // conversion never matters, and the clamp keeps any lane in range.
        auto bin = hn::Add(hn::ConvertTo(di, v), offset);
        bin = hn::IfThenElse(hn::RebindMask(di, hn::Ge(v, vh)), last, bin);
        bin = hn::IfThenElse(hn::RebindMask(di, hn::Le(v, vnh)), zeroI, bin);
        hn::StoreU(hn::Min(hn::Max(bin, zeroI), last), di, bins + x);
    }
    if (x < n) MapRowPlain(e + x, d + x, z + x, bottom, n - x, forward, backward, a, scale, bins + x);
}

}  // namespace HWY_NAMESPACE
}  // namespace contrast_detail
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
namespace contrast_detail {
HWY_EXPORT(DetailRow);
HWY_EXPORT(MapRow);

void DetailRowFast(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n,
                   float forward, float backward, float a) {
    HWY_DYNAMIC_DISPATCH(DetailRow)(d, v, magnitude, z, below, n, forward, backward, a);
}
void MapRowFast(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
                const LocalContrastScale& scale, int32_t* bins) {
    HWY_DYNAMIC_DISPATCH(MapRow)(e, d, z, bottom, n, forward, backward, a, scale, bins);
}
}  // namespace contrast_detail
}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
