// SPDX-License-Identifier: MIT
// The 65536-level gain table builders (16-bit pipelines): one logarithm,
// sine or power per level.
#include <benchmark/benchmark.h>

#include <vector>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"

namespace {

constexpr int32_t kLevels = 65536;

template <class Build>
void RunBuilder(benchmark::State& state, Build build) {
    SetFilterRecord(LxHeapHostRecord());
    std::vector<float> primary(kLevels), secondary(kLevels);
    for (auto _ : state) {
        benchmark::DoNotOptimize(build(primary.data(), secondary.data()));
        benchmark::ClobberMemory();
    }
    state.SetItemsProcessed(state.iterations() * kLevels);
}

void BM_BuildLogGainTables65536(benchmark::State& state) {
    // 150 % composes the curve with itself: the builder's longest path.
    RunBuilder(state, [](float* p, float* s) { return lx::BuildLogGainTables(p, s, 3072, 1, 150, 0.3f, kLevels); });
}
BENCHMARK(BM_BuildLogGainTables65536)->Unit(benchmark::kMicrosecond);

void BM_BuildKneeGainTables65536(benchmark::State& state) {
    RunBuilder(state, [](float* p, float* s) {
        return lx::BuildKneeGainTables(p, s, 1024, 1, 100, 0.0f, 3, 0.6f, kLevels);
    });
}
BENCHMARK(BM_BuildKneeGainTables65536)->Unit(benchmark::kMicrosecond);

void BM_BuildLogExpGainTables65536(benchmark::State& state) {
    RunBuilder(state, [](float* p, float* s) { return lx::BuildLogExpGainTables(p, s, 1024, 120, 0.5f, kLevels); });
}
BENCHMARK(BM_BuildLogExpGainTables65536)->Unit(benchmark::kMicrosecond);

}  // namespace
