// SPDX-License-Identifier: MIT
// A float table of 256 entries as four planes of bytes, for the 64-lane
// byte look-ups of simd/byte_tables-inl.h.
#pragma once

#include <cstdint>
#include <cstring>

namespace lx::simd {

// planes[k][i] = bits 8k .. 8k + 7 of table[i].
inline void SplitIntoBytePlanes(const float* table, uint8_t (*planes)[256]) {
    for (int i = 0; i < 256; ++i) {
        uint32_t bits;
        std::memcpy(&bits, &table[i], sizeof bits);
        for (int k = 0; k < 4; ++k) planes[k][i] = uint8_t(bits >> (8 * k));
    }
}

}  // namespace lx::simd
