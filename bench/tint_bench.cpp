// SPDX-License-Identifier: MIT
// The colour-cast analysis on a 24-megapixel 8-bit photo, every pixel, in
// each tint mode.
#include <benchmark/benchmark.h>

#include "analysis/estimate_tint_gains.h"
#include "support/bench_images.h"

namespace {

void BM_EstimateTintGains(benchmark::State& state) {
    const auto& rgb = lx::bench::PhotoRgb8();
    const int mode = int(state.range(0));
    for (auto _ : state) {
        float g1, g2, g3;
        const int result = lx::EstimateTintGains(rgb.data(), rgb.data() + 1, rgb.data() + 2, lx::bench::kPhotoHeight,
                                                 lx::bench::kPhotoWidth, lx::bench::kPhotoWidth * 3, 3, mode, &g1,
                                                 &g2, &g3);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(g2);
        benchmark::DoNotOptimize(g3);
    }
    lx::bench::SetMegapixels(state, int64_t{lx::bench::kPhotoWidth} * lx::bench::kPhotoHeight);
}
BENCHMARK(BM_EstimateTintGains)->ArgName("mode")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
