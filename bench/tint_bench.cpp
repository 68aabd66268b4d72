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
        float g[3];
        const bool result = lx::EstimateTintGains(lx::bench::PhotoView(rgb.data()), mode, g);
        benchmark::DoNotOptimize(result);
        benchmark::DoNotOptimize(g);
    }
    lx::bench::SetMegapixels(state, int64_t{lx::bench::kPhotoWidth} * lx::bench::kPhotoHeight);
}
BENCHMARK(BM_EstimateTintGains)->ArgName("mode")->DenseRange(0, 3)->Unit(benchmark::kMillisecond);

}  // namespace
