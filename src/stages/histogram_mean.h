// SPDX-License-Identifier: MIT
#pragma once

#include <cstdint>

namespace lx {

// Mean level of an int32 histogram of n bins, levels counted from 1: bin i
// stands for level i + 1, so {0, 0, 5} gives 3.0 and a histogram with all
// its counts in bin 0 gives 1.0.
//
// The numerator sums (i + 1) * counts[i] in float, term by term in bin
// order; the denominator adds the counts as 32-bit integers with
// wrap-around, read as unsigned 32-bit and converted to float.
//
// An empty histogram (all counts 0, or n <= 0) has no mean; it gives 0.0
// rather than 0/0, so callers never see a NaN. (So do counts whose sum
// wraps to exactly 0.)
float HistogramMean(const int32_t* counts, int32_t n);

}  // namespace lx
