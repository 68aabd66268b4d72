// SPDX-License-Identifier: MIT
// Unsigned integers of a file's header in either byte order.
#pragma once
#include <cstdint>

namespace lumarex_cli {

inline uint16_t Load16(const uint8_t* p, bool little) {
    return little ? uint16_t(p[0] | p[1] << 8) : uint16_t(p[0] << 8 | p[1]);
}

inline uint32_t Load32(const uint8_t* p, bool little) {
    return little ? uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24
                  : uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | uint32_t(p[3]);
}

}  // namespace lumarex_cli
