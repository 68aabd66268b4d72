// SPDX-License-Identifier: MIT
// Per-target helpers of the one-shot kernels (included once per SIMD target
// from a file that includes hwy/foreach_target.h): an image row copied into
// three planar rows and back (planar rows as they are, interleaved RGB in
// whole vectors through the shared SIMD plumbing, other layouts sample by
// sample), and each pixel's largest sample.
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
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

// n pixels of the row into the planar rows.
inline void LoadPlanar(const RowPixels& row, int32_t n, const PlanarRow& out) {
    if (row.step == 1) {
        for (int k = 0; k < 3; ++k) std::memcpy(out.c[k], row.c[k], size_t(n));
        return;
    }
    int32_t x = 0;
    int32_t order[3];
    if (InterleavedOrder<uint8_t>(row.c, row.step, order))
        x = DeinterleaveVectors<uint8_t>(std::min({row.c[0], row.c[1], row.c[2]}), order, n, out.c);
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
    int32_t order[3];
    if (InterleavedOrder<uint8_t>(row.c, row.step, order)) {
        const uint8_t* const planes[3] = {in.c[0], in.c[1], in.c[2]};
        x = InterleaveVectors<uint8_t>(planes, n, order, std::min({row.c[0], row.c[1], row.c[2]}));
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
