// SPDX-License-Identifier: MIT
#include "stages/histogram_mean.h"

namespace lx {

float HistogramMean(const int32_t* counts, int32_t n) {
    float weighted = 0.0f;
    uint32_t total = 0;  // unsigned: the sum wraps modulo 2^32 without overflow
    int32_t i = 0;
    // Two levels per step, each term added on its own in level order.
    for (; i + 1 < n; i += 2) {
        weighted += static_cast<float>(i + 1) * static_cast<float>(counts[i]);
        weighted += static_cast<float>(i + 2) * static_cast<float>(counts[i + 1]);
        total += static_cast<uint32_t>(counts[i]);
        total += static_cast<uint32_t>(counts[i + 1]);
    }
    if (i < n) {
        weighted += static_cast<float>(i + 1) * static_cast<float>(counts[i]);
        total += static_cast<uint32_t>(counts[i]);
    }
    if (total == 0) return 0.0f;
    return weighted / static_cast<float>(total);
}

}  // namespace lx
