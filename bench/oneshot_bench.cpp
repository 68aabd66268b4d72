// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "support/bench_images.h"

namespace {

// The one-shot correction of a 24-megapixel photo with the lumarex command's
// defaults (cast removal by the average colour, measured lift, local
// contrast); range(0) = 1 adds sharpening and colour restoration.
void BM_LumarexComprehensive(benchmark::State& state) {
    SetFilterRecord(LxHeapHostRecord());
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    const bool finishing = state.range(0) != 0;
    for (auto _ : state) {
        state.PauseTiming();
        auto px = lx::bench::PhotoRgb8();  // corrected in place: a fresh copy each time
        state.ResumeTiming();
        ImageDesc d{0, w, h, w * 3, 3, px.data(), px.data() + 1, px.data() + 2};
        int32_t strength = 60;
        LumarexComprehensive(&d, 1, 3, 0, 0.7f, 12, 1, 1, &strength, 1, 0, 50, finishing ? 1 : 0, 0.5f,
                             finishing ? 1 : 0, 1.0f, 1, 1, 100, 0, 0.0f, 0, 0, 0);
        benchmark::DoNotOptimize(px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}
BENCHMARK(BM_LumarexComprehensive)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);

}  // namespace
