// SPDX-License-Identifier: MIT
// Warm tone correction with SIMD: the plain stage's tests become lane masks
// and its float operations run in the same order, the weights gathered from
// the same tables. Most pixels of a photo fail the tests (not bright, not
// warm); a vector with no pixel left is passed over after the first test.
// The same bytes as the plain stage.
//
// Where AVX-512 permutes bytes (Highway's AVX3_DL target, which this file
// asks for), 8-bit pixels go 64 at a time, a block with no red above 128
// is passed over at once, and the three tables are read as byte planes
// (simd/byte_tables-inl.h) instead of gathered.
#if defined(LUMAREX_SIMD)

#ifndef HWY_WANT_AVX3_DL
#define HWY_WANT_AVX3_DL 1
#endif
#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/warm_tone_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>

#include "simd/byte_tables-inl.h"
#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"
#include "stages/warm_tone_twins.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The last entry of the percentage tables.
constexpr int32_t kLastPercent = 100;

// What the tests of one vector of pixels leave: the lanes still on, and
// what the weights are made from. Lanes that are off read entry 0 of the
// percentage tables.
struct WarmLanes {
    hn::Mask<DF> active, blueAbove;
    VF r, g, b, ratio, redMinusGreen;
    VI fadeIndex, ratioIndex;
};

// The tests of a warm pixel; false when no lane passes them.
template <class T>
HWY_INLINE bool TestWarm(VI R, VI G, VI B, WarmLanes& w) {
    using D = SampleDepth<T>;
    const DF df;
    const DI di;
    const VF one = hn::Set(df, 1.0f), hundred = hn::Set(df, 100.0f);
    const VI lastPercent = hn::Set(di, kLastPercent);
    w.active = hn::RebindMask(df, hn::Gt(R, hn::Set(di, 128 * D::kScale)));
    if (hn::AllFalse(df, w.active)) return false;
    w.r = hn::ConvertTo(df, R), w.g = hn::ConvertTo(df, G), w.b = hn::ConvertTo(df, B);
    // Division by a red of 0 would give NaN in lanes that are off anyway.
    w.ratio = hn::Div(w.g, hn::IfThenElse(w.active, w.r, one));
    w.active = hn::And(w.active, hn::And(hn::Gt(w.ratio, hn::Set(df, 0.35f)), hn::Lt(w.ratio, hn::Set(df, 0.85f))));
    // R - G >= 1 in lanes still on. One quotient serves the test of
    // (G - B) / (R - G) and the share of (B - G) / (R - G): a rounded
    // quotient changes only its sign with its numerator's.
    w.redMinusGreen = hn::IfThenElse(w.active, hn::ConvertTo(df, hn::Sub(R, G)), one);
    const VF blueOverSpread = hn::Div(hn::ConvertTo(df, hn::Sub(B, G)), w.redMinusGreen);
    w.active = hn::And(w.active, hn::Gt(hn::Neg(blueOverSpread), hn::Set(df, -0.2f)));
    if (hn::AllFalse(df, w.active)) return false;

    // Blue above green fades the weight out: the index is 0 .. 100 in
    // lanes that are on, 0 elsewhere.
    w.blueAbove = hn::And(w.active, hn::RebindMask(df, hn::Gt(B, G)));
    const VF share = hn::Mul(hn::Div(blueOverSpread, hn::Set(df, 0.2f)), hundred);
    // (R - G >= 1 and |B - G| < 2^16 keep the share within 2^25.)
    w.fadeIndex = hn::Min(TruncInRange(df, hn::IfThenElseZero(w.blueAbove, share)), lastPercent);
    // 0.35 < ratio < 0.85 gives 35 .. 85 in lanes that are on.
    w.ratioIndex = hn::Min(TruncInRange(df, hn::IfThenElseZero(w.active, hn::Mul(w.ratio, hundred))), lastPercent);
    return true;
}

// The new green and blue of the lanes that are on, from the table entries
// at their indices (hueFade, ramp at the red level, notch).
template <class T>
HWY_INLINE void WarmBlend(const WarmLanes& w, VF fade, VF ramp, VF notch, float strength, VI& G, VI& B) {
    using D = SampleDepth<T>;
    const DF df;
    const DI di;
    const VF one = hn::Set(df, 1.0f);
    const VF wB = hn::Mul(hn::IfThenElse(w.blueAbove, fade, one), ramp);
    const VF wR = hn::Sub(one, hn::Add(hn::Mul(notch, hn::Set(df, 0.35000002f)), hn::Set(df, 0.65f)));
    const VF k = hn::Mul(hn::Mul(wR, wB), hn::Set(df, strength));
    const VF kBar = hn::Sub(one, k);

    // Targets 0.77 R and 0.6 R are whole levels before the blend.
    const VF greenTarget = hn::ConvertTo(df, TruncInRange(df, hn::Mul(w.r, hn::Set(df, 0.77f))));
    const VF blueTarget = hn::ConvertTo(df, TruncInRange(df, hn::Mul(w.r, hn::Set(df, 0.6f))));
    const VI newG = TruncClampVec(df, hn::Add(hn::Mul(greenTarget, k), hn::Mul(w.g, kBar)), 0, D::kTop);
    const VI newB = TruncClampVec(df, hn::Add(hn::Mul(blueTarget, k), hn::Mul(w.b, kBar)), 0, D::kTop);
    const auto on = hn::RebindMask(di, w.active);
    G = hn::IfThenElse(on, newG, G);
    B = hn::IfThenElse(on, newB, B);
}

#if HWY_TARGET == HWY_AVX3_DL
// 64 8-bit pixels from planar rows c[3]: the tests a vector of 16 at a
// time, then the three tables read as byte planes at once.
HWY_INLINE void CorrectBlock8(uint8_t* const c[3], float strength, const WarmToneTables& t) {
    const __m512i red = _mm512_loadu_si512(c[0]);
    if (_mm512_cmpgt_epu8_mask(red, _mm512_set1_epi8(char(128))) == 0) return;
    __m512i bytes[3], wide[3][4];
    bytes[0] = TransposeGroups(red);
    bytes[1] = TransposeGroups(_mm512_loadu_si512(c[1]));
    bytes[2] = TransposeGroups(_mm512_loadu_si512(c[2]));
    for (int k = 0; k < 3; ++k) WidenBytes(bytes[k], wide[k]);
    WarmLanes w[4];
    bool on[4], any = false;
    __m512i fadeIndex[4], ratioIndex[4];
    for (int j = 0; j < 4; ++j) {
        on[j] = TestWarm<uint8_t>(VI{wide[0][j]}, VI{wide[1][j]}, VI{wide[2][j]}, w[j]);
        any = any || on[j];
        fadeIndex[j] = on[j] ? w[j].fadeIndex.raw : _mm512_setzero_si512();
        ratioIndex[j] = on[j] ? w[j].ratioIndex.raw : _mm512_setzero_si512();
    }
    if (!any) return;
    __m512 fade[4], ramp[4], notch[4];
    LookupFloats(t.hueFadeBytes, NarrowToBytes(fadeIndex), fade);
    LookupFloats(t.rampBytes8, bytes[0], ramp);
    LookupFloats(t.notchBytes, NarrowToBytes(ratioIndex), notch);
    for (int j = 0; j < 4; ++j) {
        if (!on[j]) continue;
        VI G{wide[1][j]}, B{wide[2][j]};
        WarmBlend<uint8_t>(w[j], VF{fade[j]}, VF{ramp[j]}, VF{notch[j]}, strength, G, B);
        wide[1][j] = G.raw, wide[2][j] = B.raw;
    }
    _mm512_storeu_si512(c[1], TransposeGroups(NarrowToBytes(wide[1])));
    _mm512_storeu_si512(c[2], TransposeGroups(NarrowToBytes(wide[2])));
}
#endif

template <class T>
void CorrectRun(T* const c[3], int32_t n, float strength, const WarmToneTables& t) {
    const DF df;
    const DI di;
    const int32_t N = int32_t(hn::Lanes(df));
    int32_t x = 0;
#if HWY_TARGET == HWY_AVX3_DL
    if constexpr (sizeof(T) == 1) {
        if (t.hasBytes8) {
            for (; x + 64 <= n; x += 64) {
                uint8_t* const block[3] = {c[0] + x, c[1] + x, c[2] + x};
                CorrectBlock8(block, strength, t);
            }
        }
    }
#endif
    for (; x + N <= n; x += N) {
        const VI R = LoadSamples(di, c[0] + x);
        VI G = LoadSamples(di, c[1] + x), B = LoadSamples(di, c[2] + x);
        WarmLanes w;
        if (!TestWarm<T>(R, G, B, w)) continue;
        const VF fade = hn::GatherIndex(df, t.hueFade, w.fadeIndex);
        const VF ramp = hn::GatherIndex(df, t.ramp, R);
        const VF notch = hn::GatherIndex(df, t.notch, w.ratioIndex);
        WarmBlend<T>(w, fade, ramp, notch, strength, G, B);
        StoreSamples(di, G, c[1] + x);
        StoreSamples(di, B, c[2] + x);
    }
    if (x < n) {
        const ImageView<T> rest{{c[0] + x, c[1] + x, c[2] + x}, n - x, 1, n - x, 1};
        WarmToneCorrectPlain(rest, strength, t);
    }
}

template <class T>
void Correct(const ImageView<T>& image, float strength, const WarmToneTables& t) {
    ForEachPlanarRun(image, [&](T* const c[3], int32_t, int32_t, int32_t n) { CorrectRun<T>(c, n, strength, t); });
}

void Correct8(const ImageView<uint8_t>& image, float strength, const WarmToneTables& t) {
    Correct<uint8_t>(image, strength, t);
}
void Correct16(const ImageView<uint16_t>& image, float strength, const WarmToneTables& t) {
    Correct<uint16_t>(image, strength, t);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Correct8);
HWY_EXPORT(Correct16);

// Views whose samples are not all their own keep the plain visiting order.
void WarmToneCorrectFast(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables) {
    if (image.Empty() || !std::isfinite(strength)) return;
    if (!simd::SamplesAreOwn(image)) return WarmToneCorrectPlain(image, strength, tables);
    HWY_DYNAMIC_DISPATCH(Correct8)(image, strength, tables);
}

void WarmToneCorrectFast(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables) {
    if (image.Empty() || !std::isfinite(strength)) return;
    if (!simd::SamplesAreOwn(image)) return WarmToneCorrectPlain(image, strength, tables);
    HWY_DYNAMIC_DISPATCH(Correct16)(image, strength, tables);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
