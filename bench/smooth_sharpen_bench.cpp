// SPDX-License-Identifier: MIT
// The plane stages on 24-megapixel inputs: exponential smoothing, float
// plane sharpening (8-bit and 16-bit scale) and brightest-channel
// sharpening of an interleaved 8-bit photo.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cmath>
#include <vector>

#include "oneshot/sharpen_max_channel.h"
#include "stages/exp_smooth_plane.h"
#include "stages/sharpen_plane.h"
#include "support/bench_images.h"

namespace {

constexpr int kW = lx::bench::kPhotoWidth;
constexpr int kH = lx::bench::kPhotoHeight;

// The photo's value plane (largest channel per pixel) times `scale`.
std::vector<float> ValuePlane(float scale) {
    const std::vector<uint8_t>& rgb = lx::bench::PhotoRgb8();
    std::vector<float> plane(size_t(kW) * kH);
    for (size_t i = 0; i < plane.size(); ++i)
        plane[i] = float(std::max({rgb[3 * i], rgb[3 * i + 1], rgb[3 * i + 2]})) * scale;
    return plane;
}

void BM_ExpSmoothPlane(benchmark::State& state, bool fast) {
    const lx::bench::KernelScope kernels(fast);
    const std::vector<float> source = ValuePlane(1.0f);
    const float a = std::exp(-1.0f / (0.5f * float(state.range(0))));
    std::vector<float> norm(std::max(kW, kH));
    lx::BuildSmoothNorm(norm.data(), int32_t(norm.size()), a);
    std::vector<float> plane = source;
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        lx::ExpSmoothPlane(lx::Plane{plane.data(), kW, kH}, norm.data(), a);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}
BENCHMARK_CAPTURE(BM_ExpSmoothPlane, plain, false)->Arg(30)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_ExpSmoothPlane, fast, true)->Arg(30)->Unit(benchmark::kMillisecond);

using SharpenFn = void (*)(const lx::Plane&, float);

void BM_SharpenPlane(benchmark::State& state, SharpenFn sharpen, float scale) {
    const std::vector<float> source = ValuePlane(scale);
    std::vector<float> plane = source;
    for (auto _ : state) {
        state.PauseTiming();
        plane = source;
        state.ResumeTiming();
        sharpen(lx::Plane{plane.data(), kW, kH}, 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}
BENCHMARK_CAPTURE(BM_SharpenPlane, 8, lx::SharpenPlane8, 1.0f)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SharpenPlane, 16, lx::SharpenPlane16, 256.0f)->Unit(benchmark::kMillisecond);

void BM_SharpenMaxChannel8(benchmark::State& state) {
    const std::vector<uint8_t>& source = lx::bench::PhotoRgb8();
    std::vector<uint8_t> px = source;
    for (auto _ : state) {
        state.PauseTiming();
        px = source;
        state.ResumeTiming();
        lx::SharpenMaxChannel8(lx::bench::PhotoView(px.data()), 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}
BENCHMARK(BM_SharpenMaxChannel8)->Unit(benchmark::kMillisecond);

}  // namespace
