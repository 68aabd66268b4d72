// SPDX-License-Identifier: MIT
#include "jpeg_segments.h"

#include <cstring>
#include <vector>

namespace lumarex_cli {

bool ForEachJpegApp1(std::ifstream& file, const char* signature, size_t signatureSize, size_t least,
                     const std::function<bool(uint64_t base, uint64_t size)>& f) {
    uint8_t b[2];
    file.clear();
    if (!file.seekg(0) || !file.read(reinterpret_cast<char*>(b), 2) || b[0] != 0xFF || b[1] != 0xD8) return false;
    std::vector<char> start(signatureSize);
    uint64_t at = 2;
    for (int segments = 0; segments < 1000; ++segments) {
        if (!file.read(reinterpret_cast<char*>(b), 2) || b[0] != 0xFF) return false;
        at += 2;
        int marker = b[1];
        while (marker == 0xFF) {  // fill bytes before a marker
            if (!file.read(reinterpret_cast<char*>(b), 1)) return false;
            marker = b[0];
            ++at;
        }
        if (marker == 0xDA || marker == 0xD9) return true;  // the picture's data, or its end
        if ((marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) continue;  // no length
        if (!file.read(reinterpret_cast<char*>(b), 2)) return false;
        const uint64_t length = uint64_t(b[0]) << 8 | b[1];
        if (length < 2) return false;
        if (marker == 0xE1 && length >= 2 + signatureSize + least) {
            if (!file.read(start.data(), std::streamsize(signatureSize))) return false;
            if (std::memcmp(start.data(), signature, signatureSize) == 0 &&
                !f(at + 2 + signatureSize, length - 2 - signatureSize))
                return false;
        }
        at += length;
        file.clear();
        if (!file.seekg(std::streamoff(at))) return false;
    }
    return false;
}

bool FindJpegApp1(std::ifstream& file, const char* signature, size_t signatureSize, size_t least, uint64_t& base,
                  uint64_t& size) {
    bool found = false;
    ForEachJpegApp1(file, signature, signatureSize, least, [&](uint64_t b, uint64_t n) {
        base = b, size = n, found = true;
        return false;
    });
    return found;
}

}  // namespace lumarex_cli
