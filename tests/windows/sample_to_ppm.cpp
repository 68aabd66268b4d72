// SPDX-License-Identifier: MIT
// Writes the bundled 16-bit sample photo, shrunk as the golden tests shrink
// it, as a 16-bit binary PPM: the DLL client reads it on every platform,
// where no image library is at hand.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "support/sample_images.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: %s OUT.ppm MAX_SIDE\n", argv[0]);
        return 2;
    }
    const lx::test::Photo p = lx::test::LoadBacklitRoom(true, std::atoi(argv[2]));
    if (p.w == 0) return 1;
    std::FILE* f = std::fopen(argv[1], "wb");
    if (f == nullptr) return 1;
    std::fprintf(f, "P6\n%d %d\n65535\n", p.w, p.h);
    // Samples in the buffer are native 16-bit; PPM stores them big-endian.
    for (size_t i = 0; i + 1 < p.px.size(); i += 2) {
        uint16_t v;
        std::memcpy(&v, &p.px[i], 2);
        std::fputc(v >> 8, f);
        std::fputc(v & 0xff, f);
    }
    return std::fclose(f) == 0 ? 0 : 1;
}
