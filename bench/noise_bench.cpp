// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <cstring>
#include <vector>

#include "noiselib17.h"
#include "support/bench_images.h"

namespace {

// RemoveNoiseBufPreset on a 24-megapixel interleaved photo (blue first, as
// the apply pipelines pass it), heap memory. The untouched photo is copied
// back outside the timed part of each iteration, so every run sees the same
// noise estimate.
template <class T>
void RunRemoveNoise(benchmark::State& state, const std::vector<T>& photo, int32_t mode) {
    NoiseSetFilterRecord(nullptr);
    const int32_t preset = static_cast<int32_t>(state.range(0));
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    std::vector<T> px(photo.size());
    for (auto _ : state) {
        state.PauseTiming();
        std::memcpy(px.data(), photo.data(), photo.size() * sizeof(T));
        NoiseParamBlock block{};
        FillNoiseParamsFromPreset(&block, preset);
        state.ResumeTiming();
        const int32_t result = RemoveNoiseBufPreset(px.data(), w, h, int32_t(w * 3 * sizeof(T)), 0,
                                                    sizeof(T) == 2 ? 1 : 0, 0, 0, &block, preset, mode, 0);
        if (result != NOISELIB_OK) state.SkipWithError("RemoveNoiseBufPreset failed");
        benchmark::DoNotOptimize(px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}

void BM_RemoveNoise8(benchmark::State& state) { RunRemoveNoise(state, lx::bench::PhotoRgb8(), 0); }
BENCHMARK(BM_RemoveNoise8)->DenseRange(0, 4)->Unit(benchmark::kMillisecond);

void BM_RemoveNoise16(benchmark::State& state) { RunRemoveNoise(state, lx::bench::PhotoRgb16(), 0); }
BENCHMARK(BM_RemoveNoise16)->Arg(2)->Unit(benchmark::kMillisecond);

// Mode 1: the noise estimate alone.
void BM_EstimateNoise8(benchmark::State& state) { RunRemoveNoise(state, lx::bench::PhotoRgb8(), 1); }
BENCHMARK(BM_EstimateNoise8)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace
