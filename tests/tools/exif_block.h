// SPDX-License-Identifier: MIT
// An EXIF block as a camera writes one, made by hand: the image library
// writes no interoperability directory.
#pragma once

#include <cstdint>
#include <string>

namespace lumarex_test {

// The block's TIFF structure: a first directory with an orientation and the
// EXIF directory's pointer; the EXIF directory with `colorSpace` and the
// interoperability directory's pointer; that one with `index` ("R03" for
// Adobe RGB, "R98" for sRGB). The directories are at 8, 38 and 68.
inline std::string ExifBlock(bool little, uint16_t colorSpace, const std::string& index) {
    std::string b;
    const auto put = [&](uint32_t v, int bytes) {
        for (int i = 0; i < bytes; ++i) {
            const int shift = little ? 8 * i : 8 * (bytes - 1 - i);
            b.push_back(char((v >> shift) & 0xFF));
        }
    };
    // A short is held at the start of the entry's four value bytes.
    const auto entry = [&](uint16_t tag, uint16_t type, uint32_t value) {
        put(tag, 2), put(type, 2), put(1, 4);
        if (type == 3) put(value, 2), put(0, 2);
        else put(value, 4);
    };
    b += little ? "II" : "MM";
    put(42, 2), put(8, 4);
    put(2, 2), entry(0x0112, 3, 1), entry(0x8769, 4, 38), put(0, 4);           // 8..37
    put(2, 2), entry(0xA001, 3, colorSpace), entry(0xA005, 4, 68), put(0, 4);  // 38..67
    put(1, 2), put(0x0001, 2), put(2, 2), put(uint32_t(index.size() + 1), 4);  // 68..
    b += index;
    b.append(4 - index.size(), '\0');
    put(0, 4);
    return b;
}

}  // namespace lumarex_test
