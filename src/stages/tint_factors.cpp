// SPDX-License-Identifier: MIT
#include "stages/tint_factors.h"

#include <algorithm>

#include "platform/float_convert.h"

namespace lx {

void TintFactorsPerMille(const float gains[3], int32_t factors[3]) {
    const float mid = (std::min({gains[0], gains[1], gains[2]}) + std::max({gains[0], gains[1], gains[2]})) * 0.5f;
    for (int i = 0; i < 3; ++i) {
        const float f = gains[i] / mid * 1000.0f;
        factors[i] = f == f ? TruncSaturate(f) : 1000;
    }
}

void CompressHighlights(int64_t v[3], int64_t top) {
    const int64_t hi = std::max({v[0], v[1], v[2]});
    if (hi <= top) return;
    const int64_t lo = std::min({v[0], v[1], v[2]});
    // |v| < 2^47 for any 16-bit level times an int32 factor: the float
    // values below convert back to int64 without overflow.
    const float m = float(lo + hi) * 0.5f;
    const int64_t d = static_cast<int64_t>(float(hi) - m);
    const float f = d > 0 ? float(top - static_cast<int64_t>(m)) / float(d) : 0.0f;
    for (int i = 0; i < 3; ++i) v[i] = static_cast<int64_t>((float(v[i]) - m) * f + m);
}

}  // namespace lx
