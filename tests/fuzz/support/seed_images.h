// SPDX-License-Identifier: MIT
// Pictures for the seed corpora: small interleaved RGB gradients with a
// colour cast, as a photo's samples would be laid out in memory.
#pragma once

#include <cstdint>
#include <vector>

namespace lx::fuzz {

// w x h pixels, red first, `bytes` 1 or 2 per sample (little-endian):
// brightness rising to the right and down, red lifted by `cast` levels and
// blue lowered by it, so that the analysis finds a cast to remove.
inline std::vector<uint8_t> CastGradient(int w, int h, int bytes, int cast) {
    std::vector<uint8_t> out;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x)
            for (int c = 0; c < 3; ++c) {
                int v = 20 + 200 * (x + y) / (w + h) + (c == 0 ? cast : c == 2 ? -cast : 0) + (x * 7 + y * 3) % 5;
                v = v < 0 ? 0 : v > 255 ? 255 : v;
                if (bytes == 2) {
                    const int v16 = v * 257;
                    out.push_back(uint8_t(v16 & 0xff));
                    out.push_back(uint8_t(v16 >> 8));
                } else {
                    out.push_back(uint8_t(v));
                }
            }
    return out;
}

}  // namespace lx::fuzz
