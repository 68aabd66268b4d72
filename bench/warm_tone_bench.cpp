// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "stages/warm_tone.h"
#include "support/bench_images.h"

namespace {

constexpr int kW = lx::bench::kPhotoWidth;
constexpr int kH = lx::bench::kPhotoHeight;

// Strength 1 on the 24-megapixel photo, restored from the original before
// every run (outside the timing): a corrected image has fewer warm pixels.
template <class T, class Correct>
void RunWarmTone(benchmark::State& state, const std::vector<T>& photo, Correct correct) {
    std::vector<T> px = photo;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(photo.begin(), photo.end(), px.begin());
        state.ResumeTiming();
        correct(lx::bench::PhotoView(px.data()), 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}

void BM_WarmToneCorrect8(benchmark::State& state) {
    RunWarmTone(state, lx::bench::PhotoRgb8(), lx::WarmToneCorrect8);
}
BENCHMARK(BM_WarmToneCorrect8)->Unit(benchmark::kMillisecond);

// Includes building the 65536-entry ramp in host memory on every call.
void BM_WarmToneCorrect16(benchmark::State& state) {
    SetFilterRecord(LxHeapHostRecord());
    RunWarmTone(state, lx::bench::PhotoRgb16(), [](const lx::ImageView<uint16_t>& v, float s) { lx::WarmToneCorrect16(v, s); });
}
BENCHMARK(BM_WarmToneCorrect16)->Unit(benchmark::kMillisecond);

}  // namespace
