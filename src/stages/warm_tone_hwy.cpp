// SPDX-License-Identifier: MIT
// Warm tone correction with SIMD: the plain stage's tests become lane masks
// and its float operations run in the same order, the weights gathered from
// the same tables. Most pixels of a photo fail the tests (not bright, not
// warm); a vector with no pixel left is passed over after the first test.
// The same bytes as the plain stage.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "stages/warm_tone_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <cmath>

#include "simd/own_samples.h"
#include "simd/planar_rows-inl.h"
#include "stages/warm_tone.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The last entry of the percentage tables.
constexpr int32_t kLastPercent = 100;

template <class T>
void CorrectRun(T* const c[3], int32_t n, float strength, const WarmToneTables& t) {
    using D = SampleDepth<T>;
    const DF df;
    const DI di;
    const int32_t N = int32_t(hn::Lanes(df));
    const VI minRed = hn::Set(di, 128 * D::kScale), lastPercent = hn::Set(di, kLastPercent);
    const VF one = hn::Set(df, 1.0f), hundred = hn::Set(df, 100.0f);
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        const VI R = LoadSamples(di, c[0] + x);
        auto active = hn::RebindMask(df, hn::Gt(R, minRed));
        if (hn::AllFalse(df, active)) continue;
        const VI G = LoadSamples(di, c[1] + x), B = LoadSamples(di, c[2] + x);
        const VF r = hn::ConvertTo(df, R), g = hn::ConvertTo(df, G), b = hn::ConvertTo(df, B);
        // Division by a red of 0 would give NaN in lanes that are off anyway.
        const VF ratio = hn::Div(g, hn::IfThenElse(active, r, one));
        active = hn::And(active, hn::And(hn::Gt(ratio, hn::Set(df, 0.35f)), hn::Lt(ratio, hn::Set(df, 0.85f))));
        // R - G >= 1 in lanes still on.
        const VF redMinusGreen = hn::IfThenElse(active, hn::ConvertTo(df, hn::Sub(R, G)), one);
        active = hn::And(active, hn::Gt(hn::Div(hn::ConvertTo(df, hn::Sub(G, B)), redMinusGreen), hn::Set(df, -0.2f)));
        if (hn::AllFalse(df, active)) continue;

        // Blue above green fades the weight out: the index is 0 .. 100 in
        // lanes that are on, 0 elsewhere.
        const auto blueAbove = hn::And(active, hn::RebindMask(df, hn::Gt(B, G)));
        const VF share = hn::Mul(hn::Div(hn::Div(hn::ConvertTo(df, hn::Sub(B, G)), redMinusGreen), hn::Set(df, 0.2f)), hundred);
        const VI fadeIndex = hn::Min(hn::ConvertTo(di, hn::IfThenElseZero(blueAbove, share)), lastPercent);
        VF wB = hn::IfThenElse(blueAbove, hn::GatherIndex(df, t.hueFade, fadeIndex), one);
        wB = hn::Mul(wB, hn::GatherIndex(df, t.ramp, R));
        // 0.35 < ratio < 0.85 gives 35 .. 85 in lanes that are on.
        const VI ratioIndex = hn::Min(hn::ConvertTo(di, hn::IfThenElseZero(active, hn::Mul(ratio, hundred))), lastPercent);
        const VF wR = hn::Sub(one, hn::Add(hn::Mul(hn::GatherIndex(df, t.notch, ratioIndex), hn::Set(df, 0.35000002f)),
                                           hn::Set(df, 0.65f)));
        const VF k = hn::Mul(hn::Mul(wR, wB), hn::Set(df, strength));
        const VF kBar = hn::Sub(one, k);

        // Targets 0.77 R and 0.6 R are whole levels before the blend.
        const VF greenTarget = hn::ConvertTo(df, hn::ConvertTo(di, hn::Mul(r, hn::Set(df, 0.77f))));
        const VF blueTarget = hn::ConvertTo(df, hn::ConvertTo(di, hn::Mul(r, hn::Set(df, 0.6f))));
        const VI newG = TruncClampVec(df, hn::Add(hn::Mul(greenTarget, k), hn::Mul(g, kBar)), 0, D::kTop);
        const VI newB = TruncClampVec(df, hn::Add(hn::Mul(blueTarget, k), hn::Mul(b, kBar)), 0, D::kTop);
        const auto on = hn::RebindMask(di, active);
        StoreSamples(di, hn::IfThenElse(on, newG, G), c[1] + x);
        StoreSamples(di, hn::IfThenElse(on, newB, B), c[2] + x);
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
