// SPDX-License-Identifier: MIT
// Photo-sized inputs for benchmarks, made from a bundled sample photo.
#pragma once

#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "image/image_view.h"
#include "simd/kernels.h"

namespace lx::bench {

// The 24-megapixel size the benchmarks report on (6000 x 4000).
inline constexpr int kPhotoWidth = 6000;
inline constexpr int kPhotoHeight = 4000;

// Interleaved RGB (red first) of the given size: the sample photo s01 tiled
// with mirroring, so the content has real photo statistics. Cached per size.
const std::vector<uint8_t>& PhotoRgb8(int width = kPhotoWidth, int height = kPhotoHeight);
// The same picture in 16 bits (each 8-bit sample times 257).
const std::vector<uint16_t>& PhotoRgb16(int width = kPhotoWidth, int height = kPhotoHeight);

// An interleaved photo buffer (red first) of the given size as an image.
template <class T>
ImageView<T> PhotoView(T* px, int width = kPhotoWidth, int height = kPhotoHeight) {
    return ImageView<T>{{px, px + 1, px + 2}, int64_t{width} * 3, 3, width, height};
}

// Runs the plain kernels (fast = false) or the SIMD ones for the life of the
// scope, so that one run reports both beside each other. In a plain build
// both report the plain kernels.
class KernelScope {
public:
    explicit KernelScope(bool fast) { simd::UseReferenceKernelsForTest(!fast); }
    ~KernelScope() { simd::UseReferenceKernelsForTest(false); }
    KernelScope(const KernelScope&) = delete;
    KernelScope& operator=(const KernelScope&) = delete;
};

// Reports megapixels per second for `pixels` processed per iteration.
inline void SetMegapixels(::benchmark::State& state, int64_t pixels) {
    state.counters["MP/s"] = ::benchmark::Counter(double(pixels) * 1e-6, ::benchmark::Counter::kIsIterationInvariantRate);
}

}  // namespace lx::bench
