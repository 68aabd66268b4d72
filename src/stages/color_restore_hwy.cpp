// SPDX-License-Identifier: MIT
// Colour restoration with SIMD: every lane runs one pixel through the plain
// stage's float and integer operations in the same order, table entries
// gathered by level, the branches of the plain code taken as masks. The
// bytes are the plain stage's.
//
// Where AVX-512 permutes bytes (Highway's AVX3_DL target, which this file
// asks for), 8-bit pixels go 64 at a time and read the three tables as byte
// planes (simd/byte_tables-inl.h) instead of gathering them.
#if defined(LUMAREX_SIMD)

#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL 1
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/color_restore_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include "simd/byte_tables-inl.h"
#include "simd/gather_pairs-inl.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"
#include "stages/color_restore_twins.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The sample scale: 8-bit samples read the tables at their level; 16-bit
// ones interpolate between the 256 entries (or read the call's tables made
// at every level) and wrap to 16 bits.
template <class T>
struct Depth;

// What a pixel takes from the curve at its maximum m: the gain tm / n
// (1 for m = 0) and the offset (tm - n) x full, with tm the curve at m and
// n = m / full. 8-bit levels read both from the tables made with the curve.
template <>
struct Depth<uint8_t> {
    static constexpr float kFullScale = 255.0f;
    static constexpr int32_t kMaxOut = 255;
    static constexpr int32_t kWrap = 0xFF;
    static VF Lookup(DF df, const float* t, VI level) { return hn::GatherIndex(df, t, level); }
    static VF Retention(DF df, const ColorRestoreTables& t, VI m) { return Lookup(df, t.retention, m); }
    static VF Gain(DF df, const ColorRestoreTables& t, VI m) { return hn::GatherIndex(df, t.gain8, m); }
    static void Curve(DF df, const ColorRestoreTables& t, VI m, VF& gain, VF& offset) {
        GatherPairs(df, t.curvePairs8, t.gain8, t.offset8, m, gain, offset);
    }
};

template <>
struct Depth<uint16_t> {
    static constexpr float kFullScale = 65280.0f;
    static constexpr int32_t kWrap = 0xFFFF;
    static constexpr int32_t kMaxOut = 65280;
    // t[j] when r = 0 or j = 255, else t[j] + (t[j + 1] - t[j]) x r x (1/256),
    // with j = level / 256 and r = level mod 256 (level 0 .. 65535).
    static VF Lookup(DF df, const float* t, VI level) {
        const DI di;
        const VI j = hn::ShiftRight<8>(level), r = hn::And(level, hn::Set(di, 255));
        const VF lo = hn::GatherIndex(df, t, j);
        const VF hi = hn::GatherIndex(df, t, hn::Min(hn::Add(j, hn::Set(di, 1)), hn::Set(di, 255)));
        const VF between = hn::Add(lo, hn::Mul(hn::Mul(hn::Sub(hi, lo), hn::ConvertTo(df, r)), hn::Set(df, 1.0f / 256.0f)));
        const auto exact = hn::Or(hn::Eq(r, hn::Zero(di)), hn::Eq(j, hn::Set(di, 255)));
        return hn::IfThenElse(hn::RebindMask(df, exact), lo, between);
    }
    // With the tables at every level, one gather each instead.
    static VF Retention(DF df, const ColorRestoreTables& t, VI m) {
        if (t.retention16 != nullptr) return hn::GatherIndex(df, t.retention16, m);
        return Lookup(df, t.retention, m);
    }
    static VF Gain(DF df, const ColorRestoreTables& t, VI m) {
        VF gain, offset;
        Curve(df, t, m, gain, offset);
        return gain;
    }
    static void Curve(DF df, const ColorRestoreTables& t, VI m, VF& gain, VF& offset) {
#if HWY_TARGET != HWY_SCALAR
        if (t.curvePairs16 != nullptr) {
            // The pairs hold (gain, offset); the two float tables behind
            // them are read only by the one-lane target.
            GatherPairs(df, t.curvePairs16, static_cast<const float*>(nullptr), static_cast<const float*>(nullptr),
                        m, gain, offset);
            return;
        }
#endif
        const DI di;
        const VF full = hn::Set(df, kFullScale);
        const VF n = hn::Div(hn::ConvertTo(df, m), full);
        const VF tm = Lookup(df, t.curve, m);
        offset = hn::Mul(hn::Sub(tm, n), full);
        const auto lit = hn::RebindMask(df, hn::Gt(m, hn::Zero(di)));
        gain = hn::IfThenElse(lit, hn::Div(tm, hn::IfThenElse(lit, n, hn::Set(df, 1.0f))), hn::Set(df, 1.0f));
    }
};

// f x clamp((c1 / m - 0.8) / 0.2, 0, 1), c1 / m taken as 1 for m = 0.
// The division by 0.2f is a multiplication by 5, the same bits for every
// quotient q in 0 .. 1 (c1 <= m): below 0.8f both are negative and clamp to
// 0; above it d = q - 0.8f is exact, a multiple of 2^-24 below 0.2, so 5 d
// fits in 24 bits and is exact, and d / 0.2f = 5 d (1 - 1.5e-8) rounds back
// to it (the exhaustive maths tests try every float q).
HWY_INLINE VF RedWeight(DF df, VI c1, VI m, VF f) {
    const DI di;
    const auto positive = hn::Gt(m, hn::Zero(di));
    const VF q = hn::IfThenElse(hn::RebindMask(df, positive),
                                hn::Div(hn::ConvertTo(df, c1), hn::ConvertTo(df, hn::Max(m, hn::Set(di, 1)))),
                                hn::Set(df, 1.0f));
    VF t = hn::Mul(hn::Sub(q, hn::Set(df, 0.8f)), hn::Set(df, 5.0f));
    t = hn::IfThenElse(hn::Lt(t, hn::Zero(df)), hn::Zero(df), hn::IfThenElse(hn::Gt(t, hn::Set(df, 1.0f)), hn::Set(df, 1.0f), t));
    return hn::Mul(f, t);
}

// The tone's scale t / m of each pixel, 0 where t or m is 0.
HWY_INLINE VF ToneScale(DF df, VF tone, VI m) {
    const DI di;
    const auto none = hn::Or(hn::Eq(tone, hn::Zero(df)), hn::RebindMask(df, hn::Eq(m, hn::Zero(di))));
    return hn::IfThenZeroElse(none, hn::Div(tone, hn::ConvertTo(df, hn::Max(m, hn::Set(di, 1)))));
}

// Where every lane's red is below 80 % of its brightest channel (5 c1 <
// 4 m, exact in integers; then c1 / m rounds to at most 0.8f), both red
// weights are 0: retention keeps every sample (c x 1 + held x 0) and the
// curve is a plain gain (c x gain x 1 + (c + d) x 0, which differs from
// c x gain at most in the sign of a zero that truncation drops, while the
// offset d is finite: gainOnlyExact). Runs of
// such pixels skip the four divisions of the weights: about two thirds
// of a neutral daylight photo, next to none of a tungsten-lit one.
HWY_INLINE bool RedBelowEverywhere(VI c1, VI m) {
    const DI di;
    return hn::AllTrue(di, hn::Lt(hn::Mul(c1, hn::Set(di, 5)), hn::Mul(m, hn::Set(di, 4))));
}

// The result of such pixels: c x gain (x the tone's scale v).
template <class T, bool kWithTone>
HWY_INLINE void GainOnly(VI c[3], VF gain, VF v) {
    const DF df;
    for (int k = 0; k < 3; ++k) {
        VF value = hn::Mul(hn::ConvertTo(df, c[k]), gain);
        if constexpr (kWithTone) value = hn::Mul(value, v);
        c[k] = TruncClampVec(df, value, 0, Depth<T>::kMaxOut);
    }
}

// trunc of a retention product: the processor's conversion where the
// tables keep the products in range (retentionInRange), else saturated as
// the plain code's TruncSaturate.
template <bool kInRange>
HWY_INLINE VI TruncProduct(DF df, VF x) {
    if constexpr (kInRange) return TruncInRange(df, x);
    else return TruncSaturateVec(df, x);
}

// Retention: the weaker channels of red-dominated pixels move towards m by
// the share 1 - a, a the retention table at m; r[3] the new channels.
template <class T, bool kInRange>
HWY_INLINE void Retain(const VI c[3], VI m, VF a, VF f, VI r[3]) {
    const DF df;
    const DI di;
    const VI wrap = hn::Set(di, Depth<T>::kWrap);
    const VF w = RedWeight(df, c[0], m, f);
    const VF keep = hn::Sub(hn::Set(df, 1.0f), w);
    const VI lift = hn::And(TruncProduct<kInRange>(df, hn::Mul(hn::Sub(hn::Set(df, 1.0f), a), hn::ConvertTo(df, m))), wrap);
    for (int k = 0; k < 3; ++k) {
        const VF ck = hn::ConvertTo(df, c[k]);
        // The sum wraps in 32 bits as the plain code's unsigned sum does.
        const VI held = hn::And(hn::Add(TruncProduct<kInRange>(df, hn::Mul(ck, a)), lift), wrap);
        // Both terms are >= 0 and sum to at most the sample range.
        r[k] = hn::And(TruncInRange(df, hn::Add(hn::Mul(ck, keep), hn::Mul(hn::ConvertTo(df, held), w))), wrap);
    }
}

// The curve at the new maximum m2 = max(r): a gain for most pixels, an
// equal offset d for red-dominated ones. Results go back into r.
template <class T, bool kWithTone>
HWY_INLINE void ApplyCurve(VI r[3], VI m2, VF gain, VF d, VF f, VF v) {
    const DF df;
    const VF w2 = RedWeight(df, r[0], m2, f);
    const VF keep2 = hn::Sub(hn::Set(df, 1.0f), w2);
    for (int k = 0; k < 3; ++k) {
        const VF ck = hn::ConvertTo(df, r[k]);
        VF value = hn::Add(hn::Mul(hn::Mul(ck, gain), keep2), hn::Mul(hn::Add(ck, d), w2));
        if constexpr (kWithTone) value = hn::Mul(value, v);
        r[k] = TruncClampVec(df, value, 0, Depth<T>::kMaxOut);
    }
}

HWY_INLINE VI Max3(const VI c[3]) { return hn::Max(hn::Max(c[0], c[1]), c[2]); }

// One vector of pixels: c[3] the channels, tone the target levels (when
// kWithTone). Results go back into c.
template <class T, bool kWithTone, bool kInRange>
HWY_INLINE void RestoreVector(VI c[3], VF tone, const ColorRestoreTables& t, VF f) {
    using S = Depth<T>;
    const DF df;
    const VI m = Max3(c);
    const VF v = kWithTone ? ToneScale(df, tone, m) : hn::Set(df, 1.0f);
    if (t.gainOnlyExact && RedBelowEverywhere(c[0], m)) return GainOnly<T, kWithTone>(c, S::Gain(df, t, m), v);
    VI r[3];
    Retain<T, kInRange>(c, m, S::Retention(df, t, m), f, r);
    const VI m2 = Max3(r);
    VF gain, d;
    S::Curve(df, t, m2, gain, d);
    ApplyCurve<T, kWithTone>(r, m2, gain, d, f, v);
    for (int k = 0; k < 3; ++k) c[k] = r[k];
}

#if HWY_TARGET == HWY_AVX3_DL
// RestoreVector for 64 8-bit pixels from planar rows c8[3] (and tone), the
// tables read as byte planes at the transposed maxima: first the retention
// of the four vectors, then the curve at their new maxima.
template <bool kWithTone, bool kInRange>
HWY_INLINE void RestoreBlock8(uint8_t* const c8[3], const float* tone, const ColorRestoreTables& t, VF f) {
    const DF df;
    __m512i bytes[3], wide[3][4], mWide[4];
    for (int k = 0; k < 3; ++k) bytes[k] = TransposeGroups(_mm512_loadu_si512(c8[k]));
    const __m512i m8 = _mm512_max_epu8(_mm512_max_epu8(bytes[0], bytes[1]), bytes[2]);
    for (int k = 0; k < 3; ++k) WidenBytes(bytes[k], wide[k]);
    WidenBytes(m8, mWide);

    VI r[4][3];
    __m512i m2[4];
    VF v[4];
    bool plain[4], anyRetained = false;
    for (int j = 0; j < 4; ++j) {
        for (int k = 0; k < 3; ++k) r[j][k] = VI{wide[k][j]};
        const VI m{mWide[j]};
        v[j] = kWithTone ? ToneScale(df, hn::LoadU(df, tone + 16 * j), m) : hn::Set(df, 1.0f);
        plain[j] = t.gainOnlyExact && RedBelowEverywhere(r[j][0], m);
        anyRetained = anyRetained || !plain[j];
    }
    if (anyRetained) {
        __m512 a[4];
        LookupFloats(t.retentionBytes, m8, a);
        for (int j = 0; j < 4; ++j) {
            if (plain[j]) continue;
            const VI c[3] = {r[j][0], r[j][1], r[j][2]};
            Retain<uint8_t, kInRange>(c, VI{mWide[j]}, VF{a[j]}, f, r[j]);
        }
    }
    // A pixel that keeps its channels keeps its maximum.
    for (int j = 0; j < 4; ++j) m2[j] = plain[j] ? mWide[j] : Max3(r[j]).raw;
    const __m512i m28 = NarrowToBytes(m2);
    __m512 gain[4], d[4] = {};
    LookupFloats(t.gainBytes8, m28, gain);
    if (anyRetained) LookupFloats(t.offsetBytes8, m28, d);
    for (int j = 0; j < 4; ++j) {
        if (plain[j]) GainOnly<uint8_t, kWithTone>(r[j], VF{gain[j]}, v[j]);
        else ApplyCurve<uint8_t, kWithTone>(r[j], VI{m2[j]}, VF{gain[j]}, VF{d[j]}, f, v[j]);
    }
    for (int k = 0; k < 3; ++k) {
        const __m512i out[4] = {r[0][k].raw, r[1][k].raw, r[2][k].raw, r[3][k].raw};
        _mm512_storeu_si512(c8[k], TransposeGroups(NarrowToBytes(out)));
    }
}
#endif

template <class T, bool kWithTone, bool kInRange>
void RestoreRun(T* const c[3], const float* tone, int32_t n, const ColorRestoreTables& t) {
    const DF df;
    const DI di;
    const int32_t N = int32_t(hn::Lanes(df));
    const VF f = hn::Set(df, t.f);
    int32_t x = 0;
#if HWY_TARGET == HWY_AVX3_DL
    if constexpr (sizeof(T) == 1) {
        for (; x + 64 <= n; x += 64) {
            uint8_t* const block[3] = {c[0] + x, c[1] + x, c[2] + x};
            RestoreBlock8<kWithTone, kInRange>(block, kWithTone ? tone + x : nullptr, t, f);
        }
    }
#endif
    for (; x + N <= n; x += N) {
        VI px[3];
        for (int k = 0; k < 3; ++k) px[k] = LoadSamples(di, c[k] + x);
        RestoreVector<T, kWithTone, kInRange>(px, kWithTone ? hn::LoadU(df, tone + x) : hn::Zero(df), t, f);
        for (int k = 0; k < 3; ++k) StoreSamples(di, px[k], c[k] + x);
    }
    if (x < n) {
        const ImageView<T> rest{{c[0] + x, c[1] + x, c[2] + x}, n - x, 1, n - x, 1};
        ColorRestorePlain(rest, kWithTone ? tone + x : nullptr, t);
    }
}

template <class T, bool kInRange>
void Restore(const ImageView<T>& image, const float* tone, const ColorRestoreTables& t) {
    ForEachPlanarRun(image, [&](T* const c[3], int32_t x0, int32_t y, int32_t n) {
        if (tone == nullptr) return RestoreRun<T, false, kInRange>(c, nullptr, n, t);
        RestoreRun<T, true, kInRange>(c, tone + int64_t{y} * image.width + x0, n, t);
    });
}

template <class T>
void Restore(const ImageView<T>& image, const float* tone, const ColorRestoreTables& t) {
    if (t.retentionInRange) Restore<T, true>(image, tone, t);
    else Restore<T, false>(image, tone, t);
}

void Restore8(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& t) {
    Restore<uint8_t>(image, tone, t);
}
void Restore16(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& t) {
    Restore<uint16_t>(image, tone, t);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Restore8);
HWY_EXPORT(Restore16);

// Views whose samples are not all their own keep the plain visiting order.
void ColorRestoreFast(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables) {
    if (!tables.active || image.Empty()) return;
    if (!simd::SamplesAreOwn(image)) return ColorRestorePlain(image, tone, tables);
    HWY_DYNAMIC_DISPATCH(Restore8)(image, tone, tables);
}

void ColorRestoreFast(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables) {
    if (!tables.active || image.Empty()) return;
    if (!simd::SamplesAreOwn(image)) return ColorRestorePlain(image, tone, tables);
    HWY_DYNAMIC_DISPATCH(Restore16)(image, tone, tables);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
