// SPDX-License-Identifier: MIT
// The tone-mapping rows with SIMD: gains gathered by level, the base map
// read a vector of columns at a time where the plain read reduces to two
// neighbouring samples per map row (scale 1, see BaseMapRow), and the plain
// float operations in their order. Pixels at the map's last column, beyond
// it, or at other scales read the map through BaseMapRow::At one by one.
// Where AVX-512 permutes bytes (Highway's AVX3_DL target, which this file
// asks for), 8-bit levels read the gains from byte planes 64 at a time.
#if defined(LUMAREX_SIMD)

#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL 1
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/tone_map_step_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "pipeline/tone_map_step_twins.h"
#include "simd/byte_tables-inl.h"
#include "simd/gather_pairs-inl.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// std::clamp(r, 0, full): a NaN stays NaN.
HWY_INLINE VF ClampFull(DF df, VF r, float full) {
    const VF top = hn::Set(df, full);
    return hn::IfThenElse(hn::Lt(r, hn::Zero(df)), hn::Zero(df), hn::IfThenElse(hn::Lt(top, r), top, r));
}

// The gain-table index trunc(v) & (levels - 1). The rows hold levels (0 ..
// full scale, as the plain forms require of them), so the processor's
// conversion is exact.
HWY_INLINE hn::Vec<DI> LevelIndex(DF df, VF v, int32_t levels) {
    return hn::And(TruncInRange(df, v), hn::Set(DI(), levels - 1));
}

template <class T>
void GlobalRow(float* v, int32_t n, const float* primary) {
    using D = SampleDepth<T>;
    const DF df;
    const int32_t N = int32_t(hn::Lanes(df));
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        const VF value = hn::LoadU(df, v + x);
        const VF gain = hn::GatherIndex(df, primary, LevelIndex(df, value, D::kLevels));
        hn::StoreU(ClampFull(df, hn::Mul(gain, value), D::kFullF), df, v + x);
    }
    if (x < n) ToneMapGlobalRowPlain<T>(v + x, n - x, primary);
}

// The base map's blend weight t of the N pixels from x (begin <= x, x + N
// <= end): the map read at their columns, its row distance applied, the
// tone range's scale and the clamp to 0 .. 1.
class BlendWeights {
public:
    BlendWeights(const BaseMapRow& map, const BaseMapBlend& b, int32_t begin, int32_t end)
        : map_(map), flat_(b.flatRange), low_(hn::Set(DF(), b.low)), q_(hn::Set(DF(), b.q)),
          dy_(hn::Set(DF(), map.RowDistance())), begin_(begin),
          // The map columns of x = begin, begin + 1, ...; formed only for a
          // span that is not empty (a row that reads as 0 has no map rows).
          top0_(begin < end ? map.Row0() + map.Column(begin) : nullptr),
          bottom0_(begin < end ? map.Row1() + map.Column(begin) : nullptr) {}

    HWY_INLINE VF At(int32_t x) const {
        const DF df;
        const VF one = hn::Set(df, 1.0f), zero = hn::Zero(df);
        const int32_t i = x - begin_;
        // u = fx - column = +0 exactly (see BaseMapRow).
        const VF tl = hn::LoadU(df, top0_ + i), tr = hn::LoadU(df, top0_ + i + 1);
        const VF top = hn::Add(tl, hn::Mul(hn::Sub(tr, tl), zero));
        VF u = top;
        if (!map_.SameRow()) {
            const VF bl = hn::LoadU(df, bottom0_ + i), br = hn::LoadU(df, bottom0_ + i + 1);
            const VF bottom = hn::Add(bl, hn::Mul(hn::Sub(br, bl), zero));
            u = hn::Add(top, hn::Mul(hn::Sub(bottom, top), dy_));
        }
        const VF t = flat_ ? hn::IfThenElseZero(hn::Gt(u, low_), one) : hn::Mul(hn::Sub(u, low_), q_);
        return hn::IfThenElse(hn::Gt(t, one), one, hn::IfThenElse(hn::Lt(t, zero), zero, t));
    }

private:
    const BaseMapRow& map_;
    bool flat_;
    VF low_, q_, dy_;
    int32_t begin_;
    const float* top0_;
    const float* bottom0_;
};

// clamp(((1 - t) s + t p) v, 0, full).
template <class T>
HWY_INLINE VF Blend(VF v, VF t, VF s, VF p) {
    const DF df;
    const VF gain = hn::Add(hn::Mul(hn::Sub(hn::Set(df, 1.0f), t), s), hn::Mul(t, p));
    return ClampFull(df, hn::Mul(gain, v), SampleDepth<T>::kFullF);
}

template <class T>
void LocalRow(float* row, int32_t n, int32_t y, const float* primary, const float* secondary, const BaseMapBlend& b,
              const GainForms& forms) {
    using D = SampleDepth<T>;
    const BaseMapRow map(b.map, b.scale, b.mapWidth, b.mapHeight, b.offsetX, b.offsetY, y);
    const int32_t begin = map.Begin(n), end = map.End(n);
    for (int32_t x = 0; x < begin; ++x) ToneMapLocalPixel<T>(row, x, map.At(x), primary, secondary, b);

    const DF df;
    const int32_t N = int32_t(hn::Lanes(df));
    const BlendWeights weights(map, b, begin, end);
    int32_t x = begin;
#if HWY_TARGET == HWY_AVX3_DL
    // 64 values at a time: their levels as bytes (in the order the byte
    // look-ups give the gains back in 16 consecutive lanes each).
    if constexpr (sizeof(T) == 1) {
        if (forms.secondaryBytes != nullptr && forms.primaryBytes != nullptr) {
            for (; x + 4 * N <= end; x += 4 * N) {
                VF v[4];
                __m512i level[4];
                for (int j = 0; j < 4; ++j) {
                    v[j] = hn::LoadU(df, row + x + j * N);
                    level[j] = LevelIndex(df, v[j], D::kLevels).raw;
                }
                const __m512i bytes = NarrowToBytes(level);
                __m512 s[4], p[4];
                LookupFloats(forms.secondaryBytes, bytes, s);
                LookupFloats(forms.primaryBytes, bytes, p);
                for (int j = 0; j < 4; ++j)
                    hn::StoreU(Blend<T>(v[j], weights.At(x + j * N), VF{s[j]}, VF{p[j]}), df, row + x + j * N);
            }
        }
    }
#endif
    for (; x + N <= end; x += N) {
        const VF v = hn::LoadU(df, row + x);
        const auto level = LevelIndex(df, v, D::kLevels);
        VF s, p;
        if (forms.pairs != nullptr) {
            GatherPairs(df, forms.pairs, secondary, primary, level, s, p);
        } else {
            s = hn::GatherIndex(df, secondary, level);
            p = hn::GatherIndex(df, primary, level);
        }
        hn::StoreU(Blend<T>(v, weights.At(x), s, p), df, row + x);
    }
    for (; x < n; ++x) ToneMapLocalPixel<T>(row, x, map.At(x), primary, secondary, b);
}

void GlobalRow8(float* v, int32_t n, const float* primary) { GlobalRow<uint8_t>(v, n, primary); }
void GlobalRow16(float* v, int32_t n, const float* primary) { GlobalRow<uint16_t>(v, n, primary); }
void LocalRow8(float* row, int32_t n, int32_t y, const float* primary, const float* secondary, const BaseMapBlend& b,
               const GainForms& forms) {
    LocalRow<uint8_t>(row, n, y, primary, secondary, b, forms);
}
void LocalRow16(float* row, int32_t n, int32_t y, const float* primary, const float* secondary, const BaseMapBlend& b,
                const GainForms& forms) {
    LocalRow<uint16_t>(row, n, y, primary, secondary, b, forms);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(GlobalRow8);
HWY_EXPORT(GlobalRow16);
HWY_EXPORT(LocalRow8);
HWY_EXPORT(LocalRow16);

template <class T>
void ToneMapGlobalRowFast(float* v, int32_t n, const float* primary) {
    if constexpr (sizeof(T) == 1) HWY_DYNAMIC_DISPATCH(GlobalRow8)(v, n, primary);
    else HWY_DYNAMIC_DISPATCH(GlobalRow16)(v, n, primary);
}

template <class T>
void ToneMapLocalRowFast(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                         const BaseMapBlend& b, const GainForms& forms) {
    if constexpr (sizeof(T) == 1) HWY_DYNAMIC_DISPATCH(LocalRow8)(row, n, y, primary, secondary, b, forms);
    else HWY_DYNAMIC_DISPATCH(LocalRow16)(row, n, y, primary, secondary, b, forms);
}

template void ToneMapGlobalRowFast<uint8_t>(float*, int32_t, const float*);
template void ToneMapGlobalRowFast<uint16_t>(float*, int32_t, const float*);
template void ToneMapLocalRowFast<uint8_t>(float*, int32_t, int32_t, const float*, const float*, const BaseMapBlend&,
                                           const GainForms&);
template void ToneMapLocalRowFast<uint16_t>(float*, int32_t, int32_t, const float*, const float*,
                                            const BaseMapBlend&, const GainForms&);

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
