// SPDX-License-Identifier: MIT
// The levels rows with SIMD, for sources in a blob's layout (three samples
// per pixel). 8-bit samples gather their levelled value from the per-call
// tables of LevelsTable8; 16-bit samples are levelled in int32 lanes with an
// exact division by 1000 (below), where the call's settings keep every
// product under 2^30, and take the plain row otherwise. Pixels whose tinted
// levels need compressing (rare: a channel pushed past the top sample value)
// are redone one by one with the plain step. The same bytes as LevelRow.
//
// Where AVX-512 permutes bytes (VBMI, Highway's AVX3_DL target, which this
// file asks for), 8-bit samples read the same tables as bytes
// (simd/byte_tables-inl.h), 64 pixels a vector, whatever the settings.
#if defined(LUMAREX_SIMD)

#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL 1
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "pipeline/levels_step_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cstdlib>

#include "pipeline/levels_step_twins.h"
#include "simd/byte_tables-inl.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The pixels of a vector, as int32 lanes of channels 1, 2, 3.
template <class T>
HWY_INLINE void LoadPixels(const T* p, const int32_t order[3], VI c[3]) {
    const DI di;
    const hn::Rebind<T, DI> dt;
    hn::Vec<decltype(dt)> s[3];
    hn::LoadInterleaved3(dt, p, s[0], s[1], s[2]);
    for (int k = 0; k < 3; ++k) c[k] = hn::PromoteTo(di, s[order[k]]);
}

// Pixel x with the plain step.
template <class T, class Step>
HWY_INLINE void LevelPixel(const Step& step, const T* src, const int32_t order[3], int32_t x, T* const out[3],
                           float* value) {
    const T* p = src + 3 * int64_t{x};
    const T rgb[3] = {p[order[0]], p[order[1]], p[order[2]]};
    T levelled[3];
    step.Apply(rgb, levelled);
    for (int k = 0; k < 3; ++k) out[k][x] = levelled[k];
    value[x] = float(std::max({levelled[0], levelled[1], levelled[2]}));
}

// Stores the levelled channels and their largest value; redoes the lanes
// in `redo` (a mask of pixels to compress) with the plain step.
template <class T, class Step>
HWY_INLINE void StorePixels(const Step& step, const T* src, const int32_t order[3], int32_t x, VI o[3],
                            hn::Mask<DI> redo, T* const out[3], float* value) {
    const DI di;
    const DF df;
    for (int k = 0; k < 3; ++k) StoreSamples(di, o[k], out[k] + x);
    hn::StoreU(hn::ConvertTo(df, hn::Max(hn::Max(o[0], o[1]), o[2])), df, value + x);
    if (hn::AllFalse(di, redo)) return;
    HWY_ALIGN int32_t flags[64];  // at least the lanes of any target
    hn::Store(hn::VecFromMask(di, redo), di, flags);
    for (size_t i = 0; i < hn::Lanes(di); ++i)
        if (flags[i] != 0) LevelPixel(step, src, order, x + int32_t(i), out, value);
}

// The pixels from x on, one by one with the plain step.
template <class T, class Step>
void LevelTail(const Step& step, const T* src, const int32_t order[3], int32_t x, int32_t n, T* const out[3],
               float* value) {
    for (; x < n; ++x) LevelPixel(step, src, order, x, out, value);
}

void Level8Run(const LevelsTable8& t, const uint8_t* src, const int32_t order[3], int32_t n, uint8_t* const out[3],
               float* value) {
    const DI di;
    const int32_t N = int32_t(hn::Lanes(di));
    const VI low = hn::Set(di, 0xFF), compress = hn::Set(di, LevelsTable8::kCompress);
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        VI c[3], o[3];
        LoadPixels(src + 3 * int64_t{x}, order, c);
        VI flags = hn::Zero(di);
        for (int k = 0; k < 3; ++k) {
            const VI packed = hn::GatherIndex(di, t.Lanes(k), c[k]);
            flags = hn::Or(flags, packed);
            o[k] = hn::And(packed, low);
        }
        StorePixels(t, src, order, x, o, hn::Ne(hn::And(flags, compress), hn::Zero(di)), out, value);
    }
    LevelTail(t, src, order, x, n, out, value);
}

#if HWY_TARGET == HWY_AVX3_DL
// Level8Run through the tables as bytes, 64 pixels a vector: the levelled
// samples, their largest as floats, and the pixels with a compression flag
// redone with the plain step.
void Level8Bytes(const LevelsTable8& t, const uint8_t* src, const int32_t order[3], int32_t n, uint8_t* const out[3],
                 float* value) {
    const hn::Full512<uint8_t> du8;
    const bool anyOver = t.AnyOver();
    int32_t x = 0;
    for (; x + 64 <= n; x += 64) {
        hn::Vec512<uint8_t> s[3];
        hn::LoadInterleaved3(du8, src + 3 * int64_t{x}, s[0], s[1], s[2]);
        __m512i o[3], flags = _mm512_setzero_si512();
        for (int k = 0; k < 3; ++k) {
            const __m512i c = s[order[k]].raw;
            o[k] = LookupBytes(t.Levels(k), c);
            _mm512_storeu_si512(out[k] + x, o[k]);
            if (anyOver) flags = _mm512_or_si512(flags, LookupBytes(t.Over(k), c));
        }
        const __m512i largest = _mm512_max_epu8(_mm512_max_epu8(o[0], o[1]), o[2]);
        __m512i wide[4];
        WidenBytes(TransposeGroups(largest), wide);
        for (int q = 0; q < 4; ++q) _mm512_storeu_ps(value + x + 16 * q, _mm512_cvtepi32_ps(wide[q]));
        for (uint64_t redo = anyOver ? _mm512_test_epi8_mask(flags, flags) : 0; redo != 0; redo &= redo - 1)
            LevelPixel(t, src, order, x + int32_t(hwy::Num0BitsBelowLS1Bit_Nonzero64(redo)), out, value);
    }
    if (x == n) return;
    uint8_t* const rest[3] = {out[0] + x, out[1] + x, out[2] + x};
    Level8Run(t, src + 3 * int64_t{x}, order, n - x, rest, value + x);
}
#endif

// The arithmetic form divides in float for 8-bit samples, whose products
// the call keeps below 2^22, and with a correction for 16-bit ones (2^30).
template <class T>
HWY_INLINE VI DivideBy1000(VI p) {
    if constexpr (sizeof(T) == 1) return DivideBy1000Narrow(p);
    else return DivideBy1000Wide(p);
}

template <class T>
HWY_INLINE VI ClampFull(VI v) {
    const DI di;
    return hn::Min(hn::Max(v, hn::Zero(di)), hn::Set(di, SampleDepth<T>::kFull));
}

// The levels step in int32 lanes (see FitsInt32Lanes for when it is exact).
template <class T>
void LevelArithmeticRun(const LevelsStep<T>& step, const T* src, const int32_t order[3], int32_t n, T* const out[3],
                        float* value) {
    using D = SampleDepth<T>;
    const DI di;
    const int32_t N = int32_t(hn::Lanes(di));
    const VI black = hn::Set(di, int32_t(step.blackLevel())), blackPoint = hn::Set(di, int32_t(step.blackPoint()));
    const VI scale = hn::Set(di, int32_t(step.scale())), full = hn::Set(di, D::kFull), top = hn::Set(di, D::kTop);
    VI tint[3];
    for (int k = 0; k < 3; ++k) tint[k] = hn::Set(di, int32_t(step.tint(k)));
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        VI c[3], o[3];
        LoadPixels(src + 3 * int64_t{x}, order, c);
        auto redo = hn::FirstN(di, 0);
        if (!step.tinted()) {
            for (int k = 0; k < 3; ++k)
                o[k] = ClampFull<T>(DivideBy1000<T>(hn::Mul(hn::Sub(hn::Sub(c[k], black), blackPoint), scale)));
        } else {
            VI e[3];
            for (int k = 0; k < 3; ++k) {
                VI a = hn::Sub(c[k], black);
                if (step.raisesNegatives()) a = hn::Max(a, hn::Zero(di));
                e[k] = DivideBy1000<T>(hn::Mul(a, tint[k]));
            }
            redo = hn::Gt(hn::Max(hn::Max(e[0], e[1]), e[2]), top);
            for (int k = 0; k < 3; ++k)
                o[k] = ClampFull<T>(DivideBy1000<T>(hn::Mul(hn::Sub(hn::Min(e[k], full), blackPoint), scale)));
        }
        StorePixels(step, src, order, x, o, redo, out, value);
    }
    LevelTail(step, src, order, x, n, out, value);
}

void Level8Arithmetic(const LevelsStep<uint8_t>& step, const uint8_t* src, const int32_t order[3], int32_t n,
                      uint8_t* const out[3], float* value) {
    LevelArithmeticRun<uint8_t>(step, src, order, n, out, value);
}
void Level16Arithmetic(const LevelsStep<uint16_t>& step, const uint16_t* src, const int32_t order[3], int32_t n,
                       uint16_t* const out[3], float* value) {
    LevelArithmeticRun<uint16_t>(step, src, order, n, out, value);
}

// A row through a run kernel: straight into a planar row, or through the
// stack for any other layout of the levelled channels.
template <class T, class Step, class RunFn>
void LevelRowVia(const Step& step, const ImageView<const T>& source, int32_t y, const ImageView<T>& out, float* value,
                 const int32_t order[3], RunFn run) {
    const T* src = std::min({source.channel[0], source.channel[1], source.channel[2]}) + source.Offset(0, y);
    if (out.pixelStride == 1) {
        T* c[3];
        out.Row(0, c);
        return run(step, src, order, out.width, c, value);
    }
    HWY_ALIGN T buffer[3][kRunPixels];
    T* const c[3] = {buffer[0], buffer[1], buffer[2]};
    for (int32_t x0 = 0; x0 < out.width; x0 += kRunPixels) {
        const int32_t n = std::min(kRunPixels, out.width - x0);
        run(step, src + 3 * int64_t{x0}, order, n, c, value + x0);
        StoreRun<T>(c, n, out, 0, x0);
    }
}

// The values of a row alone: each run's channels stay on the stack.
template <class T, class Step, class RunFn>
void LevelValuesVia(const Step& step, const T* src, int32_t n, float* value, const int32_t order[3], RunFn run) {
    HWY_ALIGN T buffer[3][kRunPixels];
    T* const c[3] = {buffer[0], buffer[1], buffer[2]};
    for (int32_t x0 = 0; x0 < n; x0 += kRunPixels)
        run(step, src + 3 * int64_t{x0}, order, std::min(kRunPixels, n - x0), c, value + x0);
}

// 8-bit runs: the byte tables where the target permutes bytes; else the
// arithmetic form where the settings keep it exact in int32 lanes
// (kArithmetic), else the gathered tables.
template <bool kArithmetic>
void Level8(const LevelsTable8& t, const uint8_t* src, const int32_t order[3], int32_t n, uint8_t* const out[3],
            float* value) {
#if HWY_TARGET == HWY_AVX3_DL
    Level8Bytes(t, src, order, n, out, value);
#else
    if constexpr (kArithmetic) Level8Arithmetic(t.Step(), src, order, n, out, value);
    else Level8Run(t, src, order, n, out, value);
#endif
}

void LevelValues8(const LevelsTable8& t, bool arithmetic, const uint8_t* src, int32_t n, float* value,
                  const int32_t order[3]) {
    if (arithmetic) LevelValuesVia<uint8_t>(t, src, n, value, order, Level8<true>);
    else LevelValuesVia<uint8_t>(t, src, n, value, order, Level8<false>);
}

void LevelValues16(const LevelsStep<uint16_t>& step, const uint16_t* src, int32_t n, float* value,
                   const int32_t order[3]) {
    LevelValuesVia<uint16_t>(step, src, n, value, order, Level16Arithmetic);
}

// DivideBy1000Wide over n values, the rest one by one; for the tests that
// prove it on every |p| < 2^30.
void DivideBy1000Row(const int32_t* p, int32_t n, int32_t* q) {
    const DI di;
    const int32_t N = int32_t(hn::Lanes(di));
    int32_t x = 0;
    for (; x + N <= n; x += N) hn::StoreU(DivideBy1000Wide(hn::LoadU(di, p + x)), di, q + x);
    for (; x < n; ++x) q[x] = p[x] / 1000;
}

void LevelRow8(const LevelsTable8& t, bool arithmetic, const ImageView<const uint8_t>& source, int32_t y,
               const ImageView<uint8_t>& out, float* value, const int32_t order[3]) {
    if (arithmetic) LevelRowVia<uint8_t>(t, source, y, out, value, order, Level8<true>);
    else LevelRowVia<uint8_t>(t, source, y, out, value, order, Level8<false>);
}

void LevelRow16(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                const ImageView<uint16_t>& out, float* value, const int32_t order[3]) {
    LevelRowVia<uint16_t>(step, source, y, out, value, order, Level16Arithmetic);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(LevelRow8);
HWY_EXPORT(LevelRow16);
HWY_EXPORT(LevelValues8);
HWY_EXPORT(LevelValues16);
HWY_EXPORT(DivideBy1000Row);

void DivideBy1000Fast(const int32_t* p, int32_t n, int32_t* q) { HWY_DYNAMIC_DISPATCH(DivideBy1000Row)(p, n, q); }

namespace {

// The interleaved order of a blob-layout source (three samples per pixel,
// in any order), when it has one.
template <class T>
bool SourceOrder(const ImageView<const T>& source, int32_t order[3]) {
    return simd::InterleavedOrder<T>(source.channel, source.pixelStride, order);
}

// The source's order, when the row can take the SIMD form: the levelled
// channels' pixels must not share samples (they are then written a run at
// a time, not pixel by pixel).
template <class T>
bool SimdLayout(const ImageView<const T>& source, const ImageView<T>& out, int32_t order[3]) {
    return !out.Empty() && simd::SamplesAreOwn(out) && SourceOrder(source, order);
}

// The first sample of row y of a blob-layout source.
template <class T>
const T* SourceRow(const ImageView<const T>& source, int32_t y) {
    return std::min({source.channel[0], source.channel[1], source.channel[2]}) + source.Offset(0, y);
}

// True when every product of the arithmetic form stays below `limit` for
// any sample 0 .. top, so that int32 lanes and DivideBy1000 are exact.
template <class T>
bool FitsInt32Lanes(const LevelsStep<T>& s, int64_t limit) {
    const int64_t L = s.blackLevel(), B = s.blackPoint(), K = std::llabs(s.scale());
    const int64_t top = SampleDepth<T>::kTop, full = SampleDepth<T>::kFull;
    if (std::llabs(L) >= limit || std::llabs(B) >= limit) return false;
    if (!s.tinted()) {
        const int64_t d = std::max(std::llabs(-L - B), std::llabs(top - L - B));
        return d < limit && d * K < limit;
    }
    const int64_t a = std::max(std::llabs(L), std::llabs(top - L));
    int64_t e = 0;
    for (int k = 0; k < 3; ++k) {
        const int64_t t = std::llabs(s.tint(k));
        if (a * t >= limit) return false;
        e = std::max(e, a * t / 1000 + 1);
    }
    const int64_t d = std::max(e, full) + std::llabs(B);  // bounds |min(e, full) - B|
    return d < limit && d * K < limit;
}

}  // namespace

void LevelRow8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y,
                   const ImageView<uint8_t>& out, float* value) {
    int32_t order[3];
    if (!SimdLayout(source, out, order)) return LevelRow<uint8_t>(table, source, y, out, value);
    const bool arithmetic = FitsInt32Lanes(table.Step(), int64_t{1} << 22);
    HWY_DYNAMIC_DISPATCH(LevelRow8)(table, arithmetic, source, y, out, value, order);
}

void LevelRow16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                    const ImageView<uint16_t>& out, float* value) {
    int32_t order[3];
    if (!SimdLayout(source, out, order) || !FitsInt32Lanes(step, int64_t{1} << 30))
        return LevelRow<uint16_t>(step, source, y, out, value);
    HWY_DYNAMIC_DISPATCH(LevelRow16)(step, source, y, out, value, order);
}

void LevelValues8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y, int32_t n,
                      float* value) {
    int32_t order[3];
    if (n <= 0) return;
    if (!SourceOrder(source, order)) return LevelValues<uint8_t>(table, source, y, n, value);
    const bool arithmetic = FitsInt32Lanes(table.Step(), int64_t{1} << 22);
    HWY_DYNAMIC_DISPATCH(LevelValues8)(table, arithmetic, SourceRow(source, y), n, value, order);
}

void LevelValues16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                       int32_t n, float* value) {
    int32_t order[3];
    if (n <= 0) return;
    if (!SourceOrder(source, order) || !FitsInt32Lanes(step, int64_t{1} << 30))
        return LevelValues<uint16_t>(step, source, y, n, value);
    HWY_DYNAMIC_DISPATCH(LevelValues16)(step, SourceRow(source, y), n, value, order);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
