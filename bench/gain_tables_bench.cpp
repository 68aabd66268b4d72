// SPDX-License-Identifier: MIT
// The 65536-level tables of the 16-bit pipelines: one logarithm, sine, power
// or cosine per level. /plain/ calls the exact functions, /fast/ their
// cheap-first twins (the same bits), in the same run.
#include <benchmark/benchmark.h>

#include <vector>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/warm_tone.h"
#include "support/bench_images.h"

namespace {

constexpr int32_t kLevels = 65536;

template <class Build>
void RunBuilder(benchmark::State& state, bool fast, Build build) {
    SetFilterRecord(LxHeapHostRecord());
    const lx::bench::KernelScope kernels(fast);
    std::vector<float> primary(kLevels), secondary(kLevels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(build(primary.data(), secondary.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLevels);
}

void BM_BuildLogGainTables65536(benchmark::State& state, bool fast) {
    // 150 % composes the curve with itself: the builder's longest path.
    RunBuilder(state, fast,
               [](float* p, float* s) { return lx::BuildLogGainTables(p, s, 3072, 1, 150, 0.3f, kLevels); });
}
BENCHMARK_CAPTURE(BM_BuildLogGainTables65536, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BuildLogGainTables65536, fast, true)->Unit(benchmark::kMicrosecond);

void BM_BuildKneeGainTables65536(benchmark::State& state, bool fast) {
    RunBuilder(state, fast, [](float* p, float* s) {
        return lx::BuildKneeGainTables(p, s, 1024, 1, 100, 0.0f, 3, 0.6f, kLevels);
    });
}
BENCHMARK_CAPTURE(BM_BuildKneeGainTables65536, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BuildKneeGainTables65536, fast, true)->Unit(benchmark::kMicrosecond);

void BM_BuildLogExpGainTables65536(benchmark::State& state, bool fast) {
    RunBuilder(state, fast,
               [](float* p, float* s) { return lx::BuildLogExpGainTables(p, s, 1024, 120, 0.5f, kLevels); });
}
BENCHMARK_CAPTURE(BM_BuildLogExpGainTables65536, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BuildLogExpGainTables65536, fast, true)->Unit(benchmark::kMicrosecond);

// The warm tone brightness ramp: a cosine for each of the 16384 levels
// 32768..49151, the rest constant.
void BM_BuildWarmToneRamp65536(benchmark::State& state, bool fast) {
    RunBuilder(state, fast, [](float* p, float*) {
        lx::MakeWarmToneRamp16(p);
        return p[0];
    });
}
BENCHMARK_CAPTURE(BM_BuildWarmToneRamp65536, plain, false)->Unit(benchmark::kMicrosecond);
BENCHMARK_CAPTURE(BM_BuildWarmToneRamp65536, fast, true)->Unit(benchmark::kMicrosecond);

}  // namespace
