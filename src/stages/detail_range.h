// SPDX-License-Identifier: MIT
// The range of a local-detail histogram that holds all but 1 % of its counts
// at either end; the two pipelines map local contrast onto it.
#pragma once

#include <cstdint>

namespace lx {

struct DetailBins {
    int32_t low = 0;   // first bin, scanning up, at which the running count exceeds the share
    int32_t high = 0;  // first bin, scanning down, at which it does
};

// Scans `hist` (bins counters) from both ends with 64-bit running sums, so
// that counts of any image size add up exactly. A histogram whose counts
// never exceed `share` (only an empty one, for share = N / 100) gives
// bins 0 and 0.
template <class Count>
DetailBins FindDetailBins(const Count* hist, int32_t bins, int64_t share) {
    DetailBins found;
    int64_t sum = 0;
    for (int32_t i = 0; i < bins; ++i)
        if ((sum += int64_t(hist[i])) > share) {
            found.low = i;
            break;
        }
    sum = 0;
    for (int32_t i = bins - 1; i >= 0; --i)
        if ((sum += int64_t(hist[i])) > share) {
            found.high = i;
            break;
        }
    return found;
}

}  // namespace lx
