// SPDX-License-Identifier: MIT
// Per-target SIMD plumbing for the pixel kernels (include it after
// <hwy/highway.h> in a file compiled once per target): views of any layout
// as planar runs of samples, the float-to-integer conversions of
// platform/float_convert.h on vectors, and the exact division by 1000 of
// the per-mille steps.
//
// A kernel is written once over three planar arrays (channel 1, 2, 3) of
// n samples. ForEachPlanarRun hands it the rows of a planar view as they are
// and copies any other layout through the stack in runs of kRunPixels,
// de-interleaving three-sample pixels with vector loads. The caller makes
// sure that the view's samples are all its own (simd::SamplesAreOwn): then
// reading a run before writing it, a channel at a time, changes nothing.
#if defined(LUMAREX_SIMD_PLANAR_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMAREX_SIMD_PLANAR_ROWS_INL_H_
#undef LUMAREX_SIMD_PLANAR_ROWS_INL_H_
#else
#define LUMAREX_SIMD_PLANAR_ROWS_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <type_traits>

#include "image/image_view.h"
#include "simd/own_samples.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The vectors the pixel kernels compute in: float lanes and their int32
// twins, as many lanes as the target's widest float vector.
using DF = hn::ScalableTag<float>;
using DI = hn::RebindToSigned<DF>;
using VF = hn::Vec<DF>;
using VI = hn::Vec<DI>;

inline constexpr int32_t kRunPixels = 256;

// The whole vectors of n interleaved three-sample pixels from `base` (channel
// k at sample order[k] of each pixel) into planar arrays; returns the number
// of pixels done, a multiple of the vector length.
template <class T>
int32_t DeinterleaveVectors(const T* base, const int32_t order[3], int32_t n, T* const out[3]) {
    const hn::ScalableTag<T> d;
    const int32_t N = int32_t(hn::Lanes(d));
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        hn::Vec<decltype(d)> s[3];
        hn::LoadInterleaved3(d, base + 3 * int64_t{x}, s[0], s[1], s[2]);
        for (int k = 0; k < 3; ++k) hn::StoreU(s[order[k]], d, out[k] + x);
    }
    return x;
}

// The reverse of DeinterleaveVectors.
template <class T>
int32_t InterleaveVectors(const T* const in[3], int32_t n, const int32_t order[3], T* base) {
    const hn::ScalableTag<T> d;
    const int32_t N = int32_t(hn::Lanes(d));
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        hn::Vec<decltype(d)> s[3];
        for (int k = 0; k < 3; ++k) s[order[k]] = hn::LoadU(d, in[k] + x);
        hn::StoreInterleaved3(s[0], s[1], s[2], d, base + 3 * int64_t{x});
    }
    return x;
}

// n samples of each channel of row y from column x0, into planar arrays.
template <class T>
void LoadRun(const ImageView<const T>& v, int32_t y, int32_t x0, int32_t n, T* const out[3]) {
    const int64_t o = v.Offset(x0, y);
    if (v.pixelStride == 1) {
        for (int k = 0; k < 3; ++k) std::memcpy(out[k], v.channel[k] + o, size_t(n) * sizeof(T));
        return;
    }
    int32_t order[3];
    int32_t x = 0;
    if (simd::InterleavedOrder<T>(v.channel, v.pixelStride, order))
        x = DeinterleaveVectors<T>(std::min({v.channel[0], v.channel[1], v.channel[2]}) + o, order, n, out);
    for (; x < n; ++x)
        for (int k = 0; k < 3; ++k) out[k][x] = v.channel[k][o + int64_t{x} * v.pixelStride];
}

// The reverse of LoadRun: channel 1 of every pixel of the run, then channel
// 2, then channel 3.
template <class T>
void StoreRun(const T* const in[3], int32_t n, const ImageView<T>& v, int32_t y, int32_t x0) {
    const int64_t o = v.Offset(x0, y);
    if (v.pixelStride == 1) {
        for (int k = 0; k < 3; ++k) std::memcpy(v.channel[k] + o, in[k], size_t(n) * sizeof(T));
        return;
    }
    int32_t order[3];
    int32_t x = 0;
    if (simd::InterleavedOrder<T>(v.channel, v.pixelStride, order))
        x = InterleaveVectors<T>(in, n, order, std::min({v.channel[0], v.channel[1], v.channel[2]}) + o);
    for (int k = 0; k < 3; ++k)
        for (int32_t i = x; i < n; ++i) v.channel[k][o + int64_t{i} * v.pixelStride] = in[k][i];
}

// Runs kernel(c[3], x0, y, n) on every run of a view whose pixels share no
// samples: the rows of a planar view in place, any other view copied a run
// at a time.
template <class T, class Kernel>
void ForEachPlanarRun(const ImageView<T>& v, const Kernel& kernel) {
    if (v.Empty()) return;
    if (v.pixelStride == 1) {
        for (int32_t y = 0; y < v.height; ++y) {
            T* row[3];
            v.Row(y, row);
            kernel(row, 0, y, v.width);
        }
        return;
    }
    HWY_ALIGN T run[3][kRunPixels];
    T* const c[3] = {run[0], run[1], run[2]};
    for (int32_t y = 0; y < v.height; ++y)
        for (int32_t x0 = 0; x0 < v.width; x0 += kRunPixels) {
            const int32_t n = std::min(kRunPixels, v.width - x0);
            LoadRun<T>(v, y, x0, n, c);
            kernel(c, x0, y, n);
            StoreRun<T>(c, n, v, y, x0);
        }
}

// ----------------------------------------------------------------------------
// Conversions. Lanes that the plain code would not convert are given a safe
// value first: the emulated targets convert with a C++ cast.

#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
namespace conversion_detail {
// Floats to int32 lanes, and doubles to int32 lanes in a vector of half the
// width, for each vector width the target has.
HWY_INLINE __m128i Truncate(__m128 v) { return _mm_cvttps_epi32(v); }
HWY_INLINE __m128i Truncate(__m128d v) { return _mm_cvttpd_epi32(v); }
#if HWY_TARGET <= HWY_AVX2
HWY_INLINE __m256i Truncate(__m256 v) { return _mm256_cvttps_epi32(v); }
HWY_INLINE __m128i Truncate(__m256d v) { return _mm256_cvttpd_epi32(v); }
#endif
#if HWY_TARGET <= HWY_AVX3
HWY_INLINE __m512i Truncate(__m512 v) { return _mm512_cvttps_epi32(v); }
HWY_INLINE __m256i Truncate(__m512d v) { return _mm512_cvttpd_epi32(v); }
#endif
}  // namespace conversion_detail
#endif

// trunc(x) for lanes that are numbers within the int32 range, where the
// processor's conversion is exact: without the fix-up that Highway's
// ConvertTo adds for lanes outside the range (four more operations with GCC).
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToSigned<DF>> TruncInRange(DF df, hn::Vec<DF> x) {
    (void)df;
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
    return hn::Vec<hn::RebindToSigned<DF>>{conversion_detail::Truncate(x.raw)};
#else
    return hn::ConvertTo(hn::RebindToSigned<DF>(), x);
#endif
}

// The same for doubles into the int32 lanes of dh, as DemoteTo, without
// its clamp to the int32 range.
template <class DH, class VD>
HWY_INLINE hn::Vec<DH> TruncDemoteInRange(DH dh, VD x) {
    (void)dh;
#if HWY_ARCH_X86 && HWY_TARGET != HWY_SCALAR && HWY_TARGET != HWY_EMU128
    return hn::Vec<DH>{conversion_detail::Truncate(x.raw)};
#else
    return hn::DemoteTo(dh, x);
#endif
}

// trunc(p / 1000) for |p| < 2^22: in float, p is exact and 0.001f lies
// above 1/1000 by a relative 4.75e-8, so p x 0.001f rounds to a value that
// is never below the quotient's whole part (for a multiple of 1000 it is the
// quotient itself) and stays below the next whole number while the quotient
// is below 8192: the truncation is exact.
HWY_INLINE VI DivideBy1000Narrow(VI p) {
    const DF df;
    return TruncInRange(df, hn::Mul(hn::ConvertTo(df, p), hn::Set(df, 0.001f)));
}

// trunc(p / 1000) for |p| < 2^30, by a multiplication: with M = 2^40 / 1000
// rounded up (1099511628, which exceeds it by 224 / 1000),
// floor(u x M / 2^40) = floor(u / 1000) for 0 <= u < 2^30, since u x M / 2^40
// exceeds u / 1000 by u x 224 / (1000 x 2^40) < 0.00022 / 1000 and a
// quotient's fraction is at most 999 / 1000. The 64-bit products come from
// the even and the odd 32-bit lanes in turn; the sign of p is put back after.
HWY_INLINE VI DivideBy1000Wide(VI p) {
    const DI di;
#if HWY_TARGET == HWY_SCALAR
    const hn::Rebind<double, DI> dd;  // one lane
    return hn::DemoteTo(di, hn::Mul(hn::PromoteTo(dd, p), hn::Set(dd, 0.001)));
#else
    const hn::RebindToUnsigned<DI> du;
    const hn::Repartition<uint64_t, DI> dw;
    const auto u = hn::BitCast(du, hn::Abs(p));
    const auto m = hn::Set(du, 1099511628u);
    // The even lanes' quotients end up in the low halves, the odd lanes' in
    // the high halves of the 64-bit products shifted right by 40 and by 8.
    const auto even = hn::ShiftRight<40>(hn::MulEven(u, m));
    const auto odd = hn::ShiftRight<8>(hn::MulEven(hn::BitCast(du, hn::ShiftRight<32>(hn::BitCast(dw, u))), m));
    const VI q = hn::BitCast(di, hn::OddEven(hn::BitCast(du, odd), hn::BitCast(du, even)));
    return hn::IfThenElse(hn::Lt(p, hn::Zero(di)), hn::Neg(q), q);
#endif
}

// clamp(trunc(x), lo, hi) with NaN giving lo, as TruncClamp.
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToSigned<DF>> TruncClampVec(DF df, hn::Vec<DF> x, int32_t lo, int32_t hi) {
    const auto loF = hn::Set(df, float(lo));
    // x >= lo fails for NaN; min(x, hi) truncates to hi exactly.
    const auto safe = hn::IfThenElse(hn::Ge(x, loF), hn::Min(x, hn::Set(df, float(hi))), loF);
    return TruncInRange(df, safe);
}

// trunc(x) saturated to the int32 range, NaN giving 0, as TruncSaturate.
template <class DF>
HWY_INLINE hn::Vec<hn::RebindToSigned<DF>> TruncSaturateVec(DF df, hn::Vec<DF> x) {
    const hn::RebindToSigned<DF> di;
    const auto top = hn::Set(df, 2147483648.0f);
    const auto finite = hn::IfThenElse(hn::Eq(x, x), x, hn::Zero(df));
    const auto safe = hn::Min(hn::Max(finite, hn::Set(df, -2147483648.0f)), hn::Set(df, 2147483520.0f));
    return hn::IfThenElse(hn::RebindMask(di, hn::Ge(x, top)), hn::Set(di, INT32_MAX), TruncInRange(df, safe));
}

// Samples of type T (8 or 16 bits) to int32 lanes and back; the values to
// store are in the sample range.
template <class DI, class T>
HWY_INLINE hn::Vec<DI> LoadSamples(DI di, const T* p) {
    return hn::PromoteTo(di, hn::LoadU(hn::Rebind<T, DI>(), p));
}
template <class DI, class T>
HWY_INLINE void StoreSamples(DI /*di*/, hn::Vec<DI> v, T* p) {
    const hn::Rebind<T, DI> dt;
    hn::StoreU(hn::DemoteTo(dt, v), dt, p);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#endif  // LUMAREX_SIMD_PLANAR_ROWS_INL_H_
