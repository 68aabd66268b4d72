// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include "stages/color_cube.h"
#include "support/bench_images.h"

namespace {

// A 24-megapixel interleaved photo through CubeA or CubeB, optionally followed
// by CubeC (arg 0: selector, arg 1: alsoC). The image is transformed in place
// again each iteration; the work per pixel does not depend on its values.
void BM_ColorCubeApply8(benchmark::State& state) {
    auto px = lx::bench::PhotoRgb8();
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    for (auto _ : state) {
        lx::ColorCubeApply8(int32_t(state.range(0)), int32_t(state.range(1)), lx::bench::PhotoView(px.data(), w, h));
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}
BENCHMARK(BM_ColorCubeApply8)->Args({0, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);

void BM_ColorCubeApply16(benchmark::State& state) {
    auto px = lx::bench::PhotoRgb16();
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    for (auto _ : state) {
        lx::ColorCubeApply16(int32_t(state.range(0)), int32_t(state.range(1)), lx::bench::PhotoView(px.data(), w, h));
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}
BENCHMARK(BM_ColorCubeApply16)->Args({0, 0})->Args({1, 1})->Unit(benchmark::kMillisecond);

}  // namespace
