// SPDX-License-Identifier: MIT
// The one-shot correction's row kernels with SIMD. A row is copied into
// three planar rows (LoadRun and StoreRun of simd/planar_rows-inl.h:
// interleaved RGB and planar images in whole vectors, other layouts sample by
// sample), worked on there in whole vectors, padding lanes included, and
// copied back. Every lane does the plain form's float
// operations in the plain form's order, so the bits are the same:
//   cast         a = level x factor / 1000 from a table; a pixel whose largest
//                a passes 255 is drawn together about m = (lo + hi) x 0.5 by
//                f = (255 - trunc(m)) / trunc(hi - m)
//   chromaticity r = b >= a ? a / b : 2 - b / a, written min / max
//   brightening  gain = u P + (1 - u) S, two products then the sum
// Table look-ups are gathers from 256-entry tables (P and S as pairs).
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "oneshot/one_shot_rows_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "oneshot/one_shot_rows_twins.h"
#include "simd/gather_pairs-inl.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// Row y of the image into the planar rows, and back.
inline void LoadRow(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3]) {
    LoadRun<uint8_t>(image, y, 0, image.width, out);
}
inline void StoreRow(const uint8_t* const in[3], const ImageView<uint8_t>& image, int32_t y) {
    StoreRun<uint8_t>(in, image.width, image, y, 0);
}

// Each pixel's largest sample, for the whole padded row.
inline void Largest(const uint8_t* const px[3], int32_t n, uint8_t* largest) {
    const hn::ScalableTag<uint8_t> d;
    const int32_t N = int32_t(hn::Lanes(d));
    for (int32_t x = 0; x < n; x += N) {
        const auto m = hn::Max(hn::LoadU(d, px[0] + x), hn::Max(hn::LoadU(d, px[1] + x), hn::LoadU(d, px[2] + x)));
        hn::StoreU(m, d, largest + x);
    }
}

// ---------------------------------------------------------------- kernels

uint8_t RowMinimum(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest) {
    const hn::ScalableTag<uint8_t> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const int32_t n = image.width;
    auto low = hn::Set(d, lowest);
    uint8_t* row[3];
    image.Row(y, row);
    int32_t order[3];
    if (simd::InterleavedOrder<uint8_t>(row, image.pixelStride, order)) {
        // Every byte of an interleaved row is a sample.
        const uint8_t* base = std::min({row[0], row[1], row[2]});
        const int64_t bytes = int64_t{n} * 3;
        int64_t i = 0;
        for (; i + N <= bytes; i += N) low = hn::Min(low, hn::LoadU(d, base + i));
        for (; i < bytes; ++i) lowest = std::min(lowest, base[i]);
    } else if (image.pixelStride == 1) {
        for (int k = 0; k < 3; ++k) {
            int32_t x = 0;
            for (; x + N <= n; x += N) low = hn::Min(low, hn::LoadU(d, row[k] + x));
            for (; x < n; ++x) lowest = std::min(lowest, row[k][x]);
        }
    } else {
        for (int32_t x = 0; x < n; ++x) {
            const int64_t o = int64_t{x} * image.pixelStride;
            lowest = std::min({lowest, row[0][o], row[1][o], row[2][o]});
        }
    }
    HWY_ALIGN uint8_t lanes[hn::MaxLanes(d)];
    hn::Store(low, d, lanes);
    for (int32_t i = 0; i < N; ++i) lowest = std::min(lowest, lanes[i]);
    return lowest;
}

void RemoveBlackRow(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                    uint8_t* largest) {
    LoadRow(image, y, out);
    const hn::ScalableTag<uint8_t> d;
    const int32_t N = int32_t(hn::Lanes(d));
    const auto b = hn::Set(d, black);
    for (int32_t x = 0; x < image.width; x += N)
        for (int k = 0; k < 3; ++k) hn::StoreU(hn::Sub(hn::LoadU(d, out[k] + x), b), d, out[k] + x);
    Largest(out, image.width, largest);
    StoreRow(out, image, y);
}

void ReadRow(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest) {
    LoadRow(image, y, out);
    Largest(out, image.width, largest);
}

void ApplyTintRow(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                  uint8_t* largest, int64_t* moved) {
    const int32_t n = image.width;
    LoadRow(image, y, out);
    const hn::ScalableTag<float> df;
    const hn::Rebind<int32_t, decltype(df)> di;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto zero = hn::Zero(di), top = hn::Set(di, 255), one = hn::Set(di, 1);
    const auto half = hn::Set(df, 0.5f);
    const hn::Vec<decltype(di)> factor[3] = {hn::Set(di, t.factor[0]), hn::Set(di, t.factor[1]), hn::Set(di, t.factor[2])};
    for (int32_t x = 0; x < n; x += N) {
        hn::Vec<decltype(di)> a[3];
        for (int k = 0; k < 3; ++k) {
            // TintLevel: the product is at most 1 020 000, below 2^22.
            a[k] = DivideBy1000Narrow(hn::Mul(hn::PromoteTo(di, hn::LoadU(d8, out[k] + x)), factor[k]));
        }
        const auto hi = hn::Max(a[0], hn::Max(a[1], a[2]));
        const auto compress = hn::Gt(hi, top);
        if (!hn::AllFalse(di, compress)) {
            // Levels here are at most 1020: every value below fits 32 bits.
            const auto lo = hn::Min(a[0], hn::Min(a[1], a[2]));
            const auto mid = hn::Mul(hn::ConvertTo(df, hn::Add(lo, hi)), half);
            const auto spread = hn::ConvertTo(di, hn::Sub(hn::ConvertTo(df, hi), mid));
            const auto positive = hn::Gt(spread, zero);
            const auto room = hn::ConvertTo(df, hn::Sub(top, hn::ConvertTo(di, mid)));
            const auto f = hn::IfThenElseZero(hn::RebindMask(df, positive),
                                              hn::Div(room, hn::ConvertTo(df, hn::IfThenElse(positive, spread, one))));
            HWY_ALIGN int32_t unmoved[3][hn::MaxLanes(di)], landed[3][hn::MaxLanes(di)];
            for (int k = 0; k < 3; ++k) {
                hn::Store(hn::Min(a[k], top), di, unmoved[k]);
                const auto drawn = hn::ConvertTo(di, hn::Add(hn::Mul(hn::Sub(hn::ConvertTo(df, a[k]), mid), f), mid));
                a[k] = hn::Min(hn::Max(hn::IfThenElse(compress, drawn, a[k]), zero), top);
                hn::Store(a[k], di, landed[k]);
            }
            if (moved != nullptr) {
                HWY_ALIGN int32_t flags[hn::MaxLanes(di)];
                hn::Store(hn::VecFromMask(di, compress), di, flags);
                for (int32_t i = 0; i < N && x + i < n; ++i) {
                    if (flags[i] == 0) continue;
                    for (int k = 0; k < 3; ++k) --moved[unmoved[k][i]], ++moved[landed[k][i]];
                }
            }
        }
        // Otherwise every level lies in 0..255 already.
        for (int k = 0; k < 3; ++k) hn::StoreU(hn::DemoteTo(d8, a[k]), d8, out[k] + x);
    }
    Largest(out, n, largest);
    StoreRow(out, image, y);
}

void ChromaCellsRow(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<int32_t, decltype(df)> di;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const hn::Rebind<int16_t, decltype(df)> d16;
    const int32_t N = int32_t(hn::Lanes(df));
    // The grid rule of the cast analysis: every channel at least 31 and none
    // above 245; tint mode 2 lets a pixel count unless all three are above.
    const bool loose = tintMode == 2;
    const auto darkest = hn::Set(di, 31), limit = hn::Set(di, 245);
    const auto fifty = hn::Set(df, 50.0f), two = hn::Set(df, 2.0f), one = hn::Set(df, 1.0f);
    const auto side = hn::Set(di, 101), none = hn::Set(di, -1);
    // The coordinate of a against b: 50 x (a / b) when b >= a, else
    // 50 x (2 - b / a); the divisor is kept from 0 in lanes left out anyway.
    auto coordinate = [&](hn::Vec<decltype(df)> a, hn::Vec<decltype(df)> b) {
        const auto q = hn::Div(hn::Min(a, b), hn::Max(hn::Max(a, b), one));
        return hn::ConvertTo(di, hn::Mul(fifty, hn::IfThenElse(hn::Ge(b, a), q, hn::Sub(two, q))));
    };
    for (int32_t x = 0; x < n; x += N) {
        hn::Vec<decltype(di)> c[3];
        for (int k = 0; k < 3; ++k) c[k] = hn::PromoteTo(di, hn::LoadU(d8, px[k] + x));
        const auto lowest = hn::Min(c[0], hn::Min(c[1], c[2]));
        const auto highest = hn::Max(c[0], hn::Max(c[1], c[2]));
        const auto counted = hn::And(hn::Not(hn::Lt(lowest, darkest)),
                                     hn::Not(hn::Gt(loose ? lowest : highest, limit)));
        const auto f0 = hn::ConvertTo(df, c[0]);
        const auto cell = hn::Add(hn::Mul(coordinate(hn::ConvertTo(df, c[1]), f0), side),
                                  coordinate(hn::ConvertTo(df, c[2]), f0));
        hn::StoreU(hn::DemoteTo(d16, hn::IfThenElse(counted, cell, none)), d16, cells + x);
    }
}

void StretchValuesRow(const uint8_t* v, int32_t n, float stretch, float* out) {
    const hn::ScalableTag<float> df;
    const hn::Rebind<int32_t, decltype(df)> di;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto k = hn::Set(df, stretch), full = hn::Set(df, 255.0f);
    int32_t x = 0;
    for (; x + N <= n; x += N) {
        const auto s = hn::Mul(hn::ConvertTo(df, hn::PromoteTo(di, hn::LoadU(d8, v + x))), k);
        hn::StoreU(hn::IfThenElse(hn::Lt(full, s), full, s), df, out + x);  // std::min(s, 255)
    }
    if (x < n) StretchValuesRowPlain(v + x, n - x, stretch, out + x);
}

void BrightenRow(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                 uint8_t* const px[3]) {
    const int32_t n = image.width;
    LoadRow(image, y, px);
    const hn::ScalableTag<float> df;
    const hn::Rebind<int32_t, decltype(df)> di;
    const hn::Rebind<uint8_t, decltype(df)> d8;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto zero = hn::Zero(df), one = hn::Set(df, 1.0f), full = hn::Set(df, 255.0f);
    const auto low = hn::Set(df, t.low), ramp = hn::Set(df, t.ramp);
    const auto zeroI = hn::Zero(di), fullI = hn::Set(di, 255);
    // The map's row is not padded: its last partial vector is read from here.
    HWY_ALIGN float tail[hn::MaxLanes(df)] = {};
    const int32_t whole = n / N * N;
    if (map != nullptr && whole < n) std::copy(map + whole, map + n, tail);
    // The stretch in int32 lanes: |(c - clip) x scale| is at most 256 x
    // 255000, and a product past 256000 stretches past 255 and clamps to it
    // whatever its quotient, so it is capped there, below 2^22, first.
    const auto clip = hn::Set(di, t.clip), scale = hn::Set(di, t.scale), cap = hn::Set(di, 256000);
    for (int32_t x = 0; x < n; x += N) {
        hn::Vec<decltype(di)> q[3];
        hn::Vec<decltype(df)> s[3];
        for (int k = 0; k < 3; ++k) {
            const auto c = hn::PromoteTo(di, hn::LoadU(d8, px[k] + x));
            const auto product = hn::Min(hn::Max(hn::Mul(hn::Sub(c, clip), scale), zeroI), cap);
            q[k] = hn::Min(DivideBy1000Narrow(product), fullI);
            s[k] = hn::ConvertTo(df, q[k]);
        }
        const auto m = hn::Max(q[0], hn::Max(q[1], q[2]));
        hn::Vec<decltype(df)> gain;
        if (map != nullptr) {
            hn::Vec<decltype(df)> secondary;
            GatherPairs(df, t.pairs, t.primary, t.secondary, m, gain, secondary);
            const auto e = x < whole ? hn::LoadU(df, map + x) : hn::Load(df, tail);
            // std::clamp(v, 0, 1): v < 0 ? 0 : (1 < v ? 1 : v).
            auto u = t.flat ? hn::IfThenElseZero(hn::Gt(e, low), one) : hn::Mul(hn::Sub(e, low), ramp);
            u = hn::IfThenElse(hn::Lt(u, zero), zero, u);
            u = hn::IfThenElse(hn::Lt(one, u), one, u);
            gain = hn::Add(hn::Mul(u, gain), hn::Mul(hn::Sub(one, u), secondary));
        } else {
            gain = hn::GatherIndex(df, t.primary, m);
        }
        for (int k = 0; k < 3; ++k) {
            // TruncClamp(s x gain, 0, 255): below 0 or NaN gives 0.
            const auto v = hn::Mul(s[k], gain);
            auto r = hn::IfThenElse(hn::RebindMask(di, hn::Ge(v, full)), fullI, hn::ConvertTo(di, v));
            r = hn::IfThenElse(hn::RebindMask(di, hn::Not(hn::Ge(v, zero))), zeroI, r);
            hn::StoreU(hn::DemoteTo(d8, r), d8, px[k] + x);
        }
    }
    StoreRow(px, image, y);
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(RowMinimum);
HWY_EXPORT(RemoveBlackRow);
HWY_EXPORT(ReadRow);
HWY_EXPORT(ApplyTintRow);
HWY_EXPORT(ChromaCellsRow);
HWY_EXPORT(BrightenRow);
HWY_EXPORT(StretchValuesRow);

void StretchValuesRowFast(const uint8_t* v, int32_t n, float stretch, float* out) {
    HWY_DYNAMIC_DISPATCH(StretchValuesRow)(v, n, stretch, out);
}

uint8_t RowMinimumFast(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest) {
    return HWY_DYNAMIC_DISPATCH(RowMinimum)(image, y, lowest);
}
void RemoveBlackRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                        uint8_t* largest) {
    HWY_DYNAMIC_DISPATCH(RemoveBlackRow)(image, y, black, out, largest);
}
void ReadRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest) {
    HWY_DYNAMIC_DISPATCH(ReadRow)(image, y, out, largest);
}
void ApplyTintRowFast(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                      uint8_t* largest, int64_t* moved) {
    HWY_DYNAMIC_DISPATCH(ApplyTintRow)(image, y, t, out, largest, moved);
}
void ChromaCellsRowFast(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells) {
    HWY_DYNAMIC_DISPATCH(ChromaCellsRow)(px, n, tintMode, cells);
}
void BrightenRowFast(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                     uint8_t* const scratch[3]) {
    HWY_DYNAMIC_DISPATCH(BrightenRow)(image, y, map, t, scratch);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
