// SPDX-License-Identifier: MIT
// The one-shot correction on a 24-megapixel photo, and its row passes and
// brightest-channel sharpening on their own; each as a pair, the plain
// kernels beside the SIMD ones in the same run.
#include <benchmark/benchmark.h>

#include <array>
#include <vector>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "lumarex_calls.h"
#include "oneshot/one_shot_rows.h"
#include "oneshot/sharpen_max_channel.h"
#include "stages/log_gain_tables.h"
#include "support/bench_images.h"

namespace {

constexpr int kW = lx::bench::kPhotoWidth;
constexpr int kH = lx::bench::kPhotoHeight;
constexpr int64_t kPixels = int64_t{kW} * kH;

// The one-shot correction with the lumarex command's `auto` settings (cast
// removal by the average colour at 70 %, 0.1 % black clip, measured lift,
// local contrast at half depth); range(0) = 1 adds sharpening and colour
// restoration. The photo is copied into the same buffer before each run.
// One untimed call comes first: the first call of a process pays for the
// process's first large pages (about 280 ms instead of 190 on the
// benchmark machine), which a host's later calls do not.
void BM_LumarexComprehensive(benchmark::State& state, bool fast) {
    const lx::bench::KernelScope kernels(fast);
    SetFilterRecord(LxHeapHostRecord());
    const bool finishing = state.range(0) != 0;
    const std::vector<uint8_t>& source = lx::bench::PhotoRgb8();
    std::vector<uint8_t> px = source;
    const auto correct = [&] {
        ImageDesc d{0, kW, kH, kW * 3, 3, px.data(), px.data() + 1, px.data() + 2};
        int32_t strength = 60;
        lumarex_calls::OneShot(d, {.tintCorrection = 1,
                                   .tintMode = 3,
                                   .tintStrength = 0.7f,
                                   .shadowClip = 1,
                                   .shadowClipPermille = 1,
                                   .toneStrength = &strength,
                                   .localContrast = 1,
                                   .curveReduction = 50,
                                   .colorMode = finishing ? 1 : 0,
                                   .colorAmount = 0.5f,
                                   .sharpen = finishing ? 1 : 0,
                                   .sharpenAmount = 1.0f,
                                   .autoTone = 1,
                                   .toneTarget = 1});
    };
    correct();
    for (auto _ : state) {
        state.PauseTiming();
        px = source;
        state.ResumeTiming();
        correct();
        benchmark::DoNotOptimize(px.data());
    }
    lx::bench::SetMegapixels(state, kPixels);
}
BENCHMARK_CAPTURE(BM_LumarexComprehensive, plain, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_LumarexComprehensive, fast, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// A row pass over the whole photo: f(image, y, planar rows, largest).
struct RowBuffers {
    std::vector<uint8_t> bytes = std::vector<uint8_t>(size_t(4 * lx::RowCapacity(kW)));
    uint8_t* px[3] = {bytes.data(), bytes.data() + lx::RowCapacity(kW), bytes.data() + 2 * lx::RowCapacity(kW)};
    uint8_t* largest() { return bytes.data() + 3 * lx::RowCapacity(kW); }
};

template <class Pass>
void RunRows(benchmark::State& state, bool fast, const Pass& pass) {
    const lx::bench::KernelScope kernels(fast);
    const std::vector<uint8_t>& source = lx::bench::PhotoRgb8();
    std::vector<uint8_t> px = source;
    RowBuffers rows;
    for (auto _ : state) {
        state.PauseTiming();
        px = source;
        state.ResumeTiming();
        const lx::ImageView<uint8_t> view = lx::bench::PhotoView(px.data());
        for (int32_t y = 0; y < kH; ++y) pass(view, y, rows);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, kPixels);
}

// The black offset removed, with the chromaticity cells of the cast analysis.
void BM_OneShotBlackRows(benchmark::State& state, bool fast) {
    std::vector<int16_t> cells(size_t(lx::RowCapacity(kW)));
    RunRows(state, fast, [&](const lx::ImageView<uint8_t>& view, int32_t y, RowBuffers& b) {
        lx::RemoveBlackRow(view, y, 0, b.px, b.largest());
        lx::ChromaCellsRow(b.px, kW, 3, cells.data());
    });
}
BENCHMARK_CAPTURE(BM_OneShotBlackRows, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OneShotBlackRows, fast, true)->Unit(benchmark::kMillisecond);

// The cast of a warm photo removed: blue raised by 10 %, red lowered by 5 %.
void BM_OneShotCastRows(benchmark::State& state, bool fast) {
    const int32_t factors[3] = {950, 1000, 1100};
    const lx::TintTables t(factors);
    std::array<int64_t, 256> moved{};
    RunRows(state, fast, [&](const lx::ImageView<uint8_t>& view, int32_t y, RowBuffers& b) {
        lx::ApplyTintRow(view, y, t, b.px, b.largest(), moved.data());
    });
}
BENCHMARK_CAPTURE(BM_OneShotCastRows, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OneShotCastRows, fast, true)->Unit(benchmark::kMillisecond);

// The level stretch and the brightening blended by a contrast map.
void BM_OneShotBrightenRows(benchmark::State& state, bool fast) {
    float primary[256], secondary[256];
    lx::BuildLogGainTables(primary, secondary, 12, 1, 60, 0.5f, 256);
    const lx::BrightenTables t(3, 1090, primary, secondary, -40, 60);
    std::vector<float> map(static_cast<size_t>(kPixels));
    for (size_t i = 0; i < map.size(); ++i) map[i] = float(int(i * 2654435761u >> 24) - 128) / 2.0f;
    RunRows(state, fast, [&](const lx::ImageView<uint8_t>& view, int32_t y, RowBuffers& b) {
        lx::BrightenRow(view, y, map.data() + int64_t{y} * kW, t, b.px);
    });
}
BENCHMARK_CAPTURE(BM_OneShotBrightenRows, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_OneShotBrightenRows, fast, true)->Unit(benchmark::kMillisecond);

// The finishing sharpening of the photo at amount 1.
void BM_SharpenMaxChannel8(benchmark::State& state, bool fast) {
    const lx::bench::KernelScope kernels(fast);
    const std::vector<uint8_t>& source = lx::bench::PhotoRgb8();
    std::vector<uint8_t> px = source;
    for (auto _ : state) {
        state.PauseTiming();
        px = source;
        state.ResumeTiming();
        lx::SharpenMaxChannel8(lx::bench::PhotoView(px.data()), 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, kPixels);
}
BENCHMARK_CAPTURE(BM_SharpenMaxChannel8, plain, false)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_SharpenMaxChannel8, fast, true)->Unit(benchmark::kMillisecond);

}  // namespace
