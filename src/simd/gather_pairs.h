// SPDX-License-Identifier: MIT
// Two float tables read at the same levels, kept as one table of 64-bit
// pairs for the SIMD kernels' gathers (simd/gather_pairs-inl.h).
#pragma once

#include <cstdint>
#include <cstring>

namespace lx::simd {

// pairs[i] = the bits of low[i] in the low half, of high[i] in the high half.
inline void MakeGatherPairs(const float* low, const float* high, int32_t n, uint64_t* pairs) {
    for (int32_t i = 0; i < n; ++i) {
        uint32_t a, b;
        std::memcpy(&a, &low[i], 4);
        std::memcpy(&b, &high[i], 4);
        pairs[i] = uint64_t{b} << 32 | a;
    }
}

}  // namespace lx::simd
