// SPDX-License-Identifier: MIT
// The automatic tone strength: how much of a trial lift curve moves the
// shadow-weighted mean brightness of an image to a target. The one-shot
// correction and the blob statistics both measure it.
//
//   w[i]   = trunc((1.5 - i x step) x hist[i])     darker levels weigh up to
//                                                  1.5, the brightest ~0.5
//   before = HistogramMean(w)
//   after  = HistogramMean of w moved to trunc(i x trial[i]) (clamped)
//   strength = (target - before) x 200 / (after - before) x 0.5   (percent)
#pragma once

#include <algorithm>
#include <cstdint>

#include "platform/float_convert.h"
#include "stages/histogram_mean.h"

namespace lx {

struct LiftMeans {
    float before = 0.0f;  // weighted mean level, counted from 1
    float after = 0.0f;   // the same after the trial lift
};

// `hist` holds `levels` counts of the pixels' largest channel (float or
// integer); `trial` the trial curve's PrimaryGains; `step` is 1 / levels.
// `weighted` and `remapped` are caller-owned scratch of `levels` entries.
// The moved counts add up as 32-bit sums with wrap-around, as the mean's
// denominator does.
template <class Count>
LiftMeans TrialLiftMeans(const Count* hist, int32_t levels, float step, const float* trial, int32_t* weighted,
                         int32_t* remapped) {
    for (int32_t i = 0; i < levels; ++i)
        weighted[i] = TruncOr((1.5f - static_cast<float>(i) * step) * static_cast<float>(hist[i]), 0);
    LiftMeans m;
    m.before = HistogramMean(weighted, levels);
    std::fill_n(remapped, levels, 0);
    for (int32_t i = 0; i < levels; ++i) {
        const int32_t to = TruncClamp(static_cast<float>(i) * trial[i], 0, levels - 1);
        remapped[to] = static_cast<int32_t>(static_cast<uint32_t>(remapped[to]) + static_cast<uint32_t>(weighted[i]));
    }
    m.after = HistogramMean(remapped, levels);
    return m;
}

// The strength in single precision, as the one-shot correction takes it: no
// lower bound. A strength without a value (a trial curve that moves nothing
// gives 0/0 or x/0) or beyond the int32 range counts as 0.
inline int32_t LiftStrength(float target, const LiftMeans& m) {
    return TruncOr((target - m.before) * 200.0f / (m.after - m.before) * 0.5f, 0);
}

// The strength as the blob statistics keep it: the two differences in float,
// the rest in double; negative strengths count as 0, and so do strengths
// without a value or beyond the int32 range.
inline int32_t ToneLevel(float target, const LiftMeans& m) {
    const double s = double(target - m.before) * 200.0 / double(m.after - m.before) * 0.5;
    if (!(s >= 0.0) || !FitsInt32(s)) return 0;
    return static_cast<int32_t>(s);
}

}  // namespace lx
