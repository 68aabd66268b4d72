// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "support/bench_images.h"

namespace {

// Copying a 24-megapixel interleaved photo into a blob.
void BM_AllocImageBlob8(benchmark::State& state) {
    SetFilterRecord(LxHeapHostRecord());
    auto px = lx::bench::PhotoRgb8();  // a private copy: the descriptor points at mutable samples
    const int w = lx::bench::kPhotoWidth, h = lx::bench::kPhotoHeight;
    ImageDesc d{0, w, h, w * 3, 3, px.data(), px.data() + 1, px.data() + 2};
    for (auto _ : state) {
        ImageBlob* blob = AllocImageBlob(&d);
        benchmark::DoNotOptimize(blob);
        FreeImageBlob(blob);
    }
    lx::bench::SetMegapixels(state, int64_t{w} * h);
}
BENCHMARK(BM_AllocImageBlob8)->Unit(benchmark::kMillisecond);

}  // namespace
