// SPDX-License-Identifier: MIT
// Two float tables read at the same levels through their pairs
// (simd/gather_pairs.h); include it after <hwy/highway.h> in a file compiled
// once per target. On the x86 targets a gather costs about as much per lane
// as it fetches, so one 64-bit gather per half vector fetches both tables'
// entries for about the price of one 32-bit gather of either.
#if defined(LUMAREX_SIMD_GATHER_PAIRS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMAREX_SIMD_GATHER_PAIRS_INL_H_
#undef LUMAREX_SIMD_GATHER_PAIRS_INL_H_
#else
#define LUMAREX_SIMD_GATHER_PAIRS_INL_H_
#endif

#include <hwy/highway.h>

#include <cstdint>

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// low[index] and high[index] of each lane, from their pairs. The one-lane
// target reads the two tables themselves.
template <class DF, class VI>
HWY_INLINE void GatherPairs(DF df, const uint64_t* pairs, const float* low, const float* high, VI index,
                            hn::Vec<DF>& outLow, hn::Vec<DF>& outHigh) {
#if HWY_TARGET == HWY_SCALAR
    (void)pairs;
    outLow = hn::GatherIndex(df, low, index);
    outHigh = hn::GatherIndex(df, high, index);
#else
    (void)low, (void)high;
    const hn::RebindToSigned<DF> di;
    const hn::Half<decltype(di)> dh;
    const hn::Repartition<uint64_t, DF> d64;
    const hn::Repartition<int64_t, DF> di64;
    const hn::RebindToUnsigned<DF> du;
    const auto lo = hn::BitCast(du, hn::GatherIndex(d64, pairs, hn::PromoteTo(di64, hn::LowerHalf(dh, index))));
    const auto hi = hn::BitCast(du, hn::GatherIndex(d64, pairs, hn::PromoteTo(di64, hn::UpperHalf(dh, index))));
    outLow = hn::BitCast(df, hn::ConcatEven(du, hi, lo));
    outHigh = hn::BitCast(df, hn::ConcatOdd(du, hi, lo));
#endif
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#endif  // LUMAREX_SIMD_GATHER_PAIRS_INL_H_
