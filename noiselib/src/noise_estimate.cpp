// SPDX-License-Identifier: MIT
#include "noise_estimate.h"

#include <algorithm>
#include <cmath>

#include "sample_rows.h"

namespace noiselib {
namespace {

constexpr int kBinsPerLevel = 8;
constexpr int kBins = 256 * kBinsPerLevel;  // |response| up to 256; larger ones share the last bin
constexpr double kQuantile = 0.25;
constexpr float kHalfNormalQuantile = 0.31864f;  // 25th percentile of |N(0, 1)|
constexpr float kKernelGain = 6.0f;               // sqrt(1+4+1+4+16+4+1+4+1)

}  // namespace

int64_t NoiseEstimateScratchBytes(int width) {
    return Carver::Aligned(int64_t{kBins} * int64_t(sizeof(uint64_t))) +
           3 * Carver::Aligned(int64_t{width} * int64_t(sizeof(float)));
}

template <class T>
float EstimateLumaNoise(const uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
                        void* scratch) {
    if (width < 3 || height < 3) return 0.0f;
    Carver carve(scratch, std::size_t(NoiseEstimateScratchBytes(width)));
    uint64_t* hist = carve.Take<uint64_t>(kBins);
    float* ring[3] = {carve.Take<float>(width), carve.Take<float>(width), carve.Take<float>(width)};
    std::fill(hist, hist + kBins, uint64_t{0});

    RowToY<T>(buffer, width, redFirst, ring[0]);
    RowToY<T>(buffer + rowStride, width, redFirst, ring[1]);
    for (int y = 2; y < height; ++y) {
        float* above = ring[(y - 2) % 3];
        float* mid = ring[(y - 1) % 3];
        float* below = ring[y % 3];
        RowToY<T>(buffer + y * rowStride, width, redFirst, below);
        for (int x = 1; x + 1 < width; ++x) {
            const float outer = above[x - 1] + above[x + 1] + below[x - 1] + below[x + 1];
            const float edges = above[x] + below[x] + mid[x - 1] + mid[x + 1];
            const float response = std::fabs(outer - 2.0f * edges + 4.0f * mid[x]);
            // Bounded before the conversion: response is finite and >= 0.
            const float scaled = std::min(response * float(kBinsPerLevel), float(kBins - 1));
            ++hist[static_cast<int>(scaled)];
        }
    }

    const uint64_t count = uint64_t(width - 2) * uint64_t(height - 2);
    const double target = double(count) * kQuantile;
    uint64_t running = 0;
    int bin = 0;
    for (; bin < kBins - 1; ++bin) {
        running += hist[bin];
        if (double(running) >= target) break;
    }
    // The quantile lies inside the bin: take its middle.
    const float quantile = (float(bin) + 0.5f) / float(kBinsPerLevel);
    return quantile / (kHalfNormalQuantile * kKernelGain);
}

template float EstimateLumaNoise<uint8_t>(const uint8_t*, int, int, int64_t, bool, void*);
template float EstimateLumaNoise<uint16_t>(const uint8_t*, int, int, int64_t, bool, void*);

}  // namespace noiselib
