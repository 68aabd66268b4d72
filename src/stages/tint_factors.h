// SPDX-License-Identifier: MIT
// Colour-cast gains as per-mille channel factors, and the highlight
// compression that keeps a scaled pixel from clipping in one channel. The
// one-shot correction, the apply pipelines and the blob statistics all scale
// pixels this way.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/sample_depth.h"

namespace lx {

// A gain softened toward 1.0 by a strength: (gain - 1) x strength + 1, in
// float. Strength 1 keeps gains in [0.5, 2] exactly; 0 gives 1.0.
inline float SoftenedGain(float gain, float strength) { return (gain - 1.0f) * strength + 1.0f; }

// Per-mille factors of three gains, centred on 1000 about the middle of the
// smallest and the largest gain:
//   mid = (min g + max g) x 0.5,   k = trunc(g / mid x 1000)   (float)
// e.g. (1.0, 0.9, 1.2) gives mid 1.05 and (952, 857, 1142). Gains of either
// sign are taken as they are: (-1, 1, 3) gives (-1000, 1000, 3000). A factor
// beyond the int32 range saturates to it; a factor that has no value at all
// (NaN, from mid 0 or non-finite gains) is 1000, leaving its channel as it is.
void TintFactorsPerMille(const float gains[3], int32_t factors[3]);

// Draws three scaled levels whose largest passes `top` together about their
// middle, so that the largest lands on `top` (within truncation) instead of
// one channel clipping alone:
//   m = (lo + hi) x 0.5, d = trunc(hi - m), f = (top - trunc(m)) / d  (0 if d <= 0)
//   v = trunc((v - m) x f + m)                                       (float)
// e.g. (300, 200, 100) with top 255 becomes (255, 200, 145). Levels whose
// largest is at or below `top` are left alone. The caller caps and clamps.
void CompressHighlights(int64_t v[3], int64_t top);

// A level under a per-mille factor: level x factor / 1000 in 64 bits,
// truncated toward zero (any 16-bit level, any int32 factor).
inline int64_t TintLevel(int64_t level, int64_t factor) { return level * factor / 1000; }

// Three tinted levels of a pixel as samples of T: drawn together below the
// largest sample value when one passes it (CompressHighlights), then each
// clamped to 0 .. full scale (8-bit 255, 16-bit 65280).
template <class T>
void FinishTint(int64_t v[3]) {
    CompressHighlights(v, SampleDepth<T>::kTop);
    for (int i = 0; i < 3; ++i) v[i] = std::clamp<int64_t>(v[i], 0, SampleDepth<T>::kFull);
}

}  // namespace lx
