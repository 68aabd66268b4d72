// SPDX-License-Identifier: MIT
// SharpenMaxChannel8 with SIMD. Within one pass every gain is formed from
// the brightest-channel values the line had when the pass began, so all the
// pixels of a line can be rewritten at once: a row's two passes run on a
// planar copy of the row, a vector of pixels at a time; the column passes
// run across the image a row at a time, a vector of columns at a time,
// keeping the values of the rows before and after. Each lane does the plain
// form's float operations in its order (the three products summed in the
// order the pass visits the pixels), so the bits are the same.
//
// Two sweeps over the image: one that runs each row's passes and then the
// downward column pass on the row above it, which by then has everything it
// reads; one for the upward column pass.
#if defined(LUMAREX_SIMD)

#undef HWY_TARGET_INCLUDE
#define HWY_TARGET_INCLUDE "oneshot/sharpen_max_channel_hwy.cpp"
#include <hwy/foreach_target.h>  // IWYU pragma: keep
#include <hwy/highway.h>

#include <utility>

#include "host/heap_array.h"
#include "oneshot/one_shot_rows.h"
#include "oneshot/sharpen_max_channel_twins.h"
#include "simd/planar_rows-inl.h"

HWY_BEFORE_NAMESPACE();
namespace lx {
namespace HWY_NAMESPACE {
namespace hn = hwy::HWY_NAMESPACE;

using D8 = hn::Rebind<uint8_t, DF>;

// Three planar rows of a row's samples (first, second, third channel).
using Planar = uint8_t* const*;

// m[x] = the brightest sample of pixel x, as a float, over the padded row.
void Brightest(Planar px, int64_t capacity, float* m) {
    const DF df;
    const DI di;
    const D8 d8;
    const int32_t N = int32_t(hn::Lanes(df));
    for (int64_t x = 0; x < capacity; x += N) {
        const auto v = hn::Max(hn::LoadU(d8, px[0] + x), hn::Max(hn::LoadU(d8, px[1] + x), hn::LoadU(d8, px[2] + x)));
        hn::StoreU(hn::ConvertTo(df, hn::PromoteTo(di, v)), df, m + x);
    }
}

// Pixels x .. x + N - 1 times their gains where m > 0: value x g, clamped to
// 0..255 (a NaN product gives 0) and truncated.
inline void Scale(Planar px, int64_t x, VF gain, VF m) {
    const DF df;
    const DI di;
    const D8 d8;
    const auto zero = hn::Zero(df), top = hn::Set(df, 255.0f);
    const auto apply = hn::RebindMask(di, hn::Gt(m, zero));
    for (int k = 0; k < 3; ++k) {
        uint8_t* c = px[k];
        const auto value = hn::PromoteTo(di, hn::LoadU(d8, c + x));
        auto v = hn::Mul(hn::ConvertTo(df, value), gain);
        v = hn::IfThenElse(hn::Gt(v, zero), v, zero);
        v = hn::IfThenElse(hn::Lt(v, top), v, top);
        hn::StoreU(hn::DemoteTo(d8, hn::IfThenElse(apply, hn::ConvertTo(di, v), value)), d8, c + x);
    }
}

// The same for one pixel's three samples, as the plain form does it.
inline void ScaleOne(uint8_t* px, float gain, float m) {
    if (!(m > 0.0f)) return;
    for (int k = 0; k < 3; ++k) {
        float v = static_cast<float>(px[k]) * gain;
        v = v > 0.0f ? v : 0.0f;
        v = v < 255.0f ? v : 255.0f;
        px[k] = static_cast<uint8_t>(static_cast<int32_t>(v));
    }
}

// Both passes along a planar row of n >= 2 pixels. `m` has room for n + 64
// floats. The end pixels' gain reads the same in either direction (a sum of
// two products does not depend on their order); an inner pixel's sums the
// products in the order the pass visits the pixels.
void RowPasses(Planar px, int32_t n, int64_t capacity, float* m, const SharpenKernel& k) {
    const DF df;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto side = hn::Set(df, k.side), centre = hn::Set(df, k.centre);
    const int32_t last = n - 1;
    for (const bool forward : {true, false}) {
        Brightest(px, capacity, m);
        const float g0 = (k.centre * m[0] + k.side * m[1]) / m[0] * k.edge;
        const float gl = (k.side * m[last - 1] + k.centre * m[last]) / m[last] * k.edge;
        // The end pixels from the values before the pass, put back after the
        // inner loop, whose last vector may run over the last pixel.
        uint8_t first[3], final[3];
        for (int c = 0; c < 3; ++c) first[c] = px[c][0], final[c] = px[c][last];
        ScaleOne(first, g0, m[0]);
        ScaleOne(final, gl, m[last]);
        for (int64_t x = 1; x < last; x += N) {
            const auto before = hn::LoadU(df, m + x - 1), here = hn::LoadU(df, m + x), after = hn::LoadU(df, m + x + 1);
            const auto sum = forward ? hn::Add(hn::Add(hn::Mul(side, before), hn::Mul(centre, here)), hn::Mul(side, after))
                                     : hn::Add(hn::Add(hn::Mul(side, after), hn::Mul(centre, here)), hn::Mul(side, before));
            Scale(px, x, hn::Div(sum, here), here);
        }
        for (int c = 0; c < 3; ++c) px[c][0] = first[c], px[c][last] = final[c];
    }
}

// One row of a column pass: gains from the brightest values of the row
// visited before (null for the first row of the pass), this row and the row
// visited next (null for the last row).
void ColumnStep(Planar px, int64_t capacity, const float* before, const float* here, const float* after,
                const SharpenKernel& k) {
    const DF df;
    const int32_t N = int32_t(hn::Lanes(df));
    const auto side = hn::Set(df, k.side), centre = hn::Set(df, k.centre), edge = hn::Set(df, k.edge);
    for (int64_t x = 0; x < capacity; x += N) {
        const auto m = hn::LoadU(df, here + x);
        VF gain;
        if (before == nullptr) {
            gain = hn::Mul(hn::Div(hn::Add(hn::Mul(centre, m), hn::Mul(side, hn::LoadU(df, after + x))), m), edge);
        } else if (after == nullptr) {
            gain = hn::Mul(hn::Div(hn::Add(hn::Mul(side, hn::LoadU(df, before + x)), hn::Mul(centre, m)), m), edge);
        } else {
            const auto sum = hn::Add(hn::Add(hn::Mul(side, hn::LoadU(df, before + x)), hn::Mul(centre, m)),
                                     hn::Mul(side, hn::LoadU(df, after + x)));
            gain = hn::Div(sum, m);
        }
        Scale(px, x, gain, m);
    }
}

bool Sharpen(const ImageView<uint8_t>& image, float amount) {
    if (image.Empty()) return true;
    const int32_t width = image.width, height = image.height;
    const SharpenKernel k = MakeSharpenKernel(amount, 255.0f);
    const int64_t capacity = RowCapacity(width);
    const int64_t floats = capacity + 64;
    // Two planar rows, and four rows of brightest values: the row pass's and
    // the column pass's before, here and after.
    // The row pass starts its vectors at pixel 1, so its last vector reaches
    // one vector's width past the row's capacity: the planes are followed by
    // that much slack (its lanes are never changed: their brightest value is 0).
    const auto bytes = HeapArray<uint8_t>::Allocate(6 * capacity + 64);
    const auto values = HeapArray<float>::Allocate(4 * floats);
    if (!bytes || !values) return false;
    std::fill_n(bytes.data(), bytes.count(), uint8_t{0});
    std::fill_n(values.data(), values.count(), 0.0f);
    uint8_t* rows[2][3];
    for (int r = 0; r < 2; ++r)
        for (int c = 0; c < 3; ++c) rows[r][c] = bytes.data() + (3 * r + c) * capacity;
    float* rowM = values.data();
    float* m[3] = {values.data() + floats, values.data() + 2 * floats, values.data() + 3 * floats};
    auto load = [&](int32_t y, Planar px) { LoadRun<uint8_t>(image, y, 0, width, px); };
    auto store = [&](int32_t y, Planar px) { StoreRun<uint8_t>(px, width, image, y, 0); };

    // Sweep 1: every row's passes; the downward column pass follows one row
    // behind.
    load(0, rows[0]);
    if (width > 1) RowPasses(rows[0], width, capacity, rowM, k);
    if (height == 1) {
        store(0, rows[0]);
        return true;
    }
    float *before = m[0], *here = m[1], *after = m[2];
    Brightest(rows[0], capacity, here);
    for (int32_t y = 0; y < height; ++y) {
        Planar current = rows[y & 1];
        if (y + 1 < height) {
            Planar next = rows[(y + 1) & 1];
            load(y + 1, next);
            if (width > 1) RowPasses(next, width, capacity, rowM, k);
            Brightest(next, capacity, after);
        }
        ColumnStep(current, capacity, y == 0 ? nullptr : before, here, y + 1 < height ? after : nullptr, k);
        store(y, current);
        std::swap(before, here);
        std::swap(here, after);
    }

    // Sweep 2: the upward column pass.
    load(height - 1, rows[0]);
    Brightest(rows[0], capacity, here);
    for (int32_t y = height - 1, i = 0; y >= 0; --y, ++i) {
        Planar current = rows[i & 1];
        if (y > 0) {
            Planar next = rows[(i + 1) & 1];
            load(y - 1, next);
            Brightest(next, capacity, after);
        }
        ColumnStep(current, capacity, y == height - 1 ? nullptr : before, here, y > 0 ? after : nullptr, k);
        store(y, current);
        std::swap(before, here);
        std::swap(here, after);
    }
    return true;
}

}  // namespace HWY_NAMESPACE
}  // namespace lx
HWY_AFTER_NAMESPACE();

#if HWY_ONCE
namespace lx {
HWY_EXPORT(Sharpen);

bool SharpenMaxChannel8Fast(const ImageView<uint8_t>& image, float amount) {
    return HWY_DYNAMIC_DISPATCH(Sharpen)(image, amount);
}

}  // namespace lx
#endif  // HWY_ONCE
#endif  // LUMAREX_SIMD
