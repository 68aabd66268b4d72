// SPDX-License-Identifier: MIT
// Per-target helpers of the one-shot kernels (included once per SIMD target
// from a file that includes hwy/foreach_target.h): an image row copied into
// three planar rows and back, interleaved RGB in whole vectors, planar rows
// as they are, other layouts sample by sample.
#if defined(LUMAREX_ONESHOT_PLANAR_ROWS_INL_H_) == defined(HWY_TARGET_TOGGLE)
#ifdef LUMAREX_ONESHOT_PLANAR_ROWS_INL_H_
#undef LUMAREX_ONESHOT_PLANAR_ROWS_INL_H_
#else
#define LUMAREX_ONESHOT_PLANAR_ROWS_INL_H_
#endif

#include <hwy/highway.h>

#include <algorithm>
#include <cstddef>
#include <cstring>

#include "oneshot/one_shot_rows.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// The offsets of the three channels within an interleaved pixel of three
// samples (a permutation of 0, 1, 2), from its lowest sample; false for any
// other layout.
inline bool Interleaved3(const RowPixels& row, const uint8_t*& base, int offset[3]) {
    if (row.step != 3) return false;
    base = std::min({row.c[0], row.c[1], row.c[2]});
    bool seen[3] = {false, false, false};
    for (int k = 0; k < 3; ++k) {
        const ptrdiff_t o = row.c[k] - base;
        if (o < 0 || o > 2 || seen[o]) return false;
        seen[o] = true;
        offset[k] = int(o);
    }
    return true;
}

// n pixels of the row into the planar rows.
inline void LoadPlanar(const RowPixels& row, int32_t n, const PlanarRow& out) {
    if (row.step == 1) {
        for (int k = 0; k < 3; ++k) std::memcpy(out.c[k], row.c[k], size_t(n));
        return;
    }
    int32_t x = 0;
    const uint8_t* base;
    int offset[3];
    if (Interleaved3(row, base, offset)) {
        const hn::ScalableTag<uint8_t> d;
        const int32_t N = int32_t(hn::Lanes(d));
        for (; x + N <= n; x += N) {
            hn::Vec<decltype(d)> v[3];
            hn::LoadInterleaved3(d, base + ptrdiff_t{x} * 3, v[0], v[1], v[2]);
            for (int k = 0; k < 3; ++k) hn::StoreU(v[offset[k]], d, out.c[k] + x);
        }
    }
    for (; x < n; ++x)
        for (int k = 0; k < 3; ++k) out.c[k][x] = row.c[k][x * row.step];
}

// The planar rows back into n pixels of the row.
inline void StorePlanar(const PlanarRow& in, const RowPixels& row, int32_t n) {
    if (row.step == 1) {
        for (int k = 0; k < 3; ++k) std::memcpy(row.c[k], in.c[k], size_t(n));
        return;
    }
    int32_t x = 0;
    const uint8_t* base;
    int offset[3];
    if (Interleaved3(row, base, offset)) {
        uint8_t* out = const_cast<uint8_t*>(base);
        const hn::ScalableTag<uint8_t> d;
        const int32_t N = int32_t(hn::Lanes(d));
        for (; x + N <= n; x += N) {
            hn::Vec<decltype(d)> v[3];
            for (int k = 0; k < 3; ++k) v[offset[k]] = hn::LoadU(d, in.c[k] + x);
            hn::StoreInterleaved3(v[0], v[1], v[2], d, out + ptrdiff_t{x} * 3);
        }
    }
    for (; x < n; ++x)
        for (int k = 0; k < 3; ++k) row.c[k][x * row.step] = in.c[k][x];
}

// Each pixel's largest sample, for the whole padded row.
inline void Largest(const PlanarRow& px, int32_t n, uint8_t* largest) {
    const hn::ScalableTag<uint8_t> d;
    const int32_t N = int32_t(hn::Lanes(d));
    for (int32_t x = 0; x < n; x += N) {
        const auto m = hn::Max(hn::LoadU(d, px.c[0] + x), hn::Max(hn::LoadU(d, px.c[1] + x), hn::LoadU(d, px.c[2] + x)));
        hn::StoreU(m, d, largest + x);
    }
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#endif  // LUMAREX_ONESHOT_PLANAR_ROWS_INL_H_
