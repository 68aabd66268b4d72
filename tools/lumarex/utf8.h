// SPDX-License-Identifier: MIT
// Well-formed UTF-8, as file names and metadata text are checked against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace lumarex_cli {

// The length of the well-formed UTF-8 sequence that starts at byte `i` of
// `s` (shortest form, no UTF-16 surrogate, nothing past U+10FFFF), or 0
// where none does.
inline size_t Utf8SequenceAt(const std::string& s, size_t i) {
    const auto c = uint8_t(s[i]);
    const size_t n = c < 0x80 ? 1 : c >= 0xC2 && c <= 0xDF ? 2 : c >= 0xE0 && c <= 0xEF ? 3
                                : c >= 0xF0 && c <= 0xF4 ? 4 : 0;
    if (n == 0 || i + n > s.size()) return 0;
    uint32_t code = n == 1 ? c : c & (0x7F >> n);
    for (size_t k = 1; k < n; ++k) {
        const auto d = uint8_t(s[i + k]);
        if ((d & 0xC0) != 0x80) return 0;
        code = code << 6 | (d & 0x3F);
    }
    if ((n == 3 && (code < 0x800 || (code >= 0xD800 && code <= 0xDFFF))) ||
        (n == 4 && (code < 0x10000 || code > 0x10FFFF)))
        return 0;
    return n;
}

// Whether all of `s` is well-formed UTF-8.
inline bool IsUtf8(const std::string& s) {
    for (size_t i = 0, n = 0; i < s.size(); i += n)
        if ((n = Utf8SequenceAt(s, i)) == 0) return false;
    return true;
}

}  // namespace lumarex_cli
