// SPDX-License-Identifier: MIT
#include <benchmark/benchmark.h>

#include <algorithm>
#include <vector>

#include "stages/color_restore.h"
#include "support/bench_images.h"

namespace {

constexpr int kW = lx::bench::kPhotoWidth;
constexpr int kH = lx::bench::kPhotoHeight;

// Target brightness = the brightest channel, as the pipelines pass after
// tone mapping (v = 1 keeps the pixels in their usual range).
template <class T>
std::vector<float> MaxPlane(const std::vector<T>& px) {
    std::vector<float> tone(px.size() / 3);
    for (size_t i = 0; i < tone.size(); ++i) tone[i] = float(std::max({px[3 * i], px[3 * i + 1], px[3 * i + 2]}));
    return tone;
}

// Mode 1 on the 24-megapixel photo, restored from the original before every
// run (outside the timing) so each run sees real photo statistics.
void BM_ColorRestore8(benchmark::State& state) {
    const std::vector<uint8_t>& photo = lx::bench::PhotoRgb8();
    std::vector<uint8_t> px = photo;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(photo.begin(), photo.end(), px.begin());
        state.ResumeTiming();
        lx::ColorRestore8(lx::bench::PhotoView(px.data(), kW, kH), 1, 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}
BENCHMARK(BM_ColorRestore8)->Unit(benchmark::kMillisecond);

void BM_ColorRestoreTone16(benchmark::State& state) {
    const std::vector<uint16_t>& photo = lx::bench::PhotoRgb16();
    const std::vector<float> tone = MaxPlane(photo);
    std::vector<uint16_t> px = photo;
    for (auto _ : state) {
        state.PauseTiming();
        std::copy(photo.begin(), photo.end(), px.begin());
        state.ResumeTiming();
        lx::ColorRestoreTone16(lx::bench::PhotoView(px.data(), kW, kH), tone.data(), 1, 1.0f);
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}
BENCHMARK(BM_ColorRestoreTone16)->Unit(benchmark::kMillisecond);

}  // namespace
