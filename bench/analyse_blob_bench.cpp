// SPDX-License-Identifier: MIT
// The blob analysis (black level, the four colour-cast analyses and the tone
// statistics of the five variants) on a 24-megapixel blob, 8-bit and 16-bit.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <vector>

#include "analysis/analyse_blob.h"
#include "analysis/image_param.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "support/bench_images.h"

namespace {

// The analysis lowers and restores the blob's samples in place, so one blob
// serves every iteration.
template <class T>
void RunAnalyse(benchmark::State& state, const std::vector<T>& photo) {
    SetFilterRecord(LxHeapHostRecord());
    std::vector<T> px = photo;  // the descriptor points at mutable samples
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    const int32_t s = int32_t(sizeof(T));
    ImageDesc d{s == 1 ? 0 : 1, w, h, w * 3 * s, 3 * s, px.data(), px.data() + 1, px.data() + 2};
    ImageBlob* blob = AllocImageBlob(&d);
    if (blob == nullptr) {
        state.SkipWithError("AllocImageBlob failed");
        return;
    }
    for (auto _ : state) {
        ImageParam param{};
        const bool ok = s == 1 ? lx::AnalyseBlob8(*blob, param) : lx::AnalyseBlob16(*blob, param);
        if (!ok) state.SkipWithError("the analysis failed");
        benchmark::DoNotOptimize(param);
    }
    FreeImageBlob(blob);
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}

void BM_AnalyseBlob8(benchmark::State& state) { RunAnalyse(state, lx::bench::PhotoRgb8()); }
BENCHMARK(BM_AnalyseBlob8)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_AnalyseBlob16(benchmark::State& state) { RunAnalyse(state, lx::bench::PhotoRgb16()); }
BENCHMARK(BM_AnalyseBlob16)->Unit(benchmark::kMillisecond)->Iterations(3);

}  // namespace
