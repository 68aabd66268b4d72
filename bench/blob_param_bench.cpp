// SPDX-License-Identifier: MIT
// The two-phase correction through the exported interface: the analysis
// (CalcImageBlobParam, which also builds the base map) and the apply calls on
// a 24-megapixel photo, and the region apply on 1024 x 1024 pixels of it,
// the size of an editor's interactive preview. 8-bit and 16-bit, each as a
// pair: the plain kernels beside the SIMD ones in the same run.
#include <benchmark/benchmark.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "lumarex_calls.h"
#include "support/bench_images.h"

namespace {

constexpr int kW = lx::bench::kPhotoWidth, kH = lx::bench::kPhotoHeight;
// The preview region: 1024 x 1024 pixels, off-centre, away from the edges.
constexpr int kRegionLeft = 2500, kRegionTop = 1500, kRegionSide = 1024;

// An interleaved RGB image (red first) that a descriptor can point into.
template <class T>
struct Interleaved {
    int w, h;
    std::vector<T> px;
    Interleaved(int width, int height) : w(width), h(height), px(size_t(width) * height * 3) {}
    explicit Interleaved(const std::vector<T>& photo) : w(kW), h(kH), px(photo) {}
    ImageDesc Desc() {
        const int32_t s = int32_t(sizeof(T));
        return ImageDesc{s == 1 ? 0 : 1, w, h, w * 3 * s, 3 * s, px.data(), px.data() + 1, px.data() + 2};
    }
};

// The photo's blob and its analysis record, made once per benchmark.
template <class T>
struct Analysed {
    ImageBlob* blob = nullptr;
    ImageParam* param = nullptr;
    explicit Analysed(const std::vector<T>& photo) {
        SetFilterRecord(LxHeapHostRecord());
        Interleaved<T> src(photo);
        ImageDesc d = src.Desc();
        blob = AllocImageBlob(&d);
        if (blob != nullptr) param = CalcImageBlobParam(blob, nullptr, nullptr);
    }
    ~Analysed() {
        FreeImageParam(param);
        FreeImageBlob(blob);
    }
    Analysed(const Analysed&) = delete;
    Analysed& operator=(const Analysed&) = delete;
};

// The optional stages of a call. Typical settings: the average-colour cast
// removed at 70 % (tint), the black point at 0.1 % of the samples, the
// strength from the tone level for target 153, local contrast on, the log
// lift (no strong curve), sharpening on, the proportional channel rebuild,
// no warm tone, no colour tables, no denoising. Every stage adds colour
// restoration (mode 2 at 0.5) and warm tone (0.8).
struct Stages {
    bool tint = true, local = true, sharpen = true, restore = false, warm = false;
    static Stages Typical() { return {}; }
    static Stages Every() { return {true, true, true, true, true}; }
    static Stages Of(bool every) { return every ? Every() : Typical(); }
};

lumarex_calls::ApplyArgs ArgsOf(int32_t* strength, Stages st) {
    return {.useVariant = st.tint ? 1 : 0,
            .tintMode = 3,
            .variantStrength = 0.7f,
            .useShadowClip = 1,
            .useToneLevel = 1,
            .toneLevelRow = 1,
            .toneStrength = strength,
            .localContrast = st.local ? 1 : 0,
            .curveAmount = 0.5f,
            .colorMode = st.restore ? 2 : 0,
            .colorAmount = 0.5f,
            .sharpen = st.sharpen ? 1 : 0,
            .sharpenAmount = 1.0f,
            .warmTone = st.warm ? 1 : 0,
            .warmToneStrength = 0.8f};
}

int32_t Apply(const ImageDesc& out, const ImageBlob* blob, ImageParam* param, int32_t* strength, Stages st) {
    return lumarex_calls::Apply(out, blob, param, ArgsOf(strength, st));
}

// The same settings for a region of `out`'s size at (left, top).
int32_t ApplyLocal(const ImageDesc& out, const ImageBlob* blob, ImageParam* param, int32_t* strength, bool every,
                   int32_t left = kRegionLeft, int32_t top = kRegionTop) {
    return lumarex_calls::ApplyLocal(out, blob, param, {left, top, out.width, out.height},
                                     ArgsOf(strength, Stages::Of(every)));
}

// Five repetitions, reported as their mean, median and minimum: on a shared
// machine the minimum is the figure least disturbed by the neighbours.
void MinOfFive(benchmark::internal::Benchmark* b) {
    b->Repetitions(5)->ReportAggregatesOnly(true)->ComputeStatistics("min", [](const std::vector<double>& v) {
        return *std::min_element(v.begin(), v.end());
    });
}

template <class T>
void RunCalc(benchmark::State& state, const std::vector<T>& photo, bool fast) {
    const lx::bench::KernelScope kernels(fast);
    SetFilterRecord(LxHeapHostRecord());
    Interleaved<T> src(photo);
    ImageDesc d = src.Desc();
    ImageBlob* blob = AllocImageBlob(&d);
    if (blob == nullptr) {
        state.SkipWithError("AllocImageBlob failed");
        return;
    }
    for (auto _ : state) {
        ImageParam* param = CalcImageBlobParam(blob, nullptr, nullptr);
        if (param == nullptr) state.SkipWithError("CalcImageBlobParam failed");
        benchmark::DoNotOptimize(param);
        state.PauseTiming();
        FreeImageParam(param);
        state.ResumeTiming();
    }
    FreeImageBlob(blob);
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}

void BM_CalcImageBlobParam8(benchmark::State& state, bool fast) { RunCalc(state, lx::bench::PhotoRgb8(), fast); }
BENCHMARK_CAPTURE(BM_CalcImageBlobParam8, plain, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_CalcImageBlobParam8, fast, true)->Unit(benchmark::kMillisecond)->Iterations(2);

void BM_CalcImageBlobParam16(benchmark::State& state, bool fast) { RunCalc(state, lx::bench::PhotoRgb16(), fast); }
BENCHMARK_CAPTURE(BM_CalcImageBlobParam16, plain, false)->Unit(benchmark::kMillisecond)->Iterations(2);
BENCHMARK_CAPTURE(BM_CalcImageBlobParam16, fast, true)->Unit(benchmark::kMillisecond)->Iterations(2);

// The whole photo into an interleaved destination, the base map cached;
// range(0) = 1 switches every stage on.
template <class T>
void RunApply(benchmark::State& state, const std::vector<T>& photo, bool fast) {
    const Analysed<T> a(photo);
    const lx::bench::KernelScope kernels(fast);
    if (a.param == nullptr) {
        state.SkipWithError("the analysis failed");
        return;
    }
    Interleaved<T> out(kW, kH);
    const ImageDesc d = out.Desc();
    for (auto _ : state) {
        int32_t strength = 50;
        if (Apply(d, a.blob, a.param, &strength, Stages::Of(state.range(0) != 0)) != 0) state.SkipWithError("ApplyImageBlobParam failed");
        benchmark::DoNotOptimize(out.px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}

void BM_ApplyImageBlobParam8(benchmark::State& state, bool fast) { RunApply(state, lx::bench::PhotoRgb8(), fast); }
BENCHMARK_CAPTURE(BM_ApplyImageBlobParam8, plain, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ApplyImageBlobParam8, fast, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

void BM_ApplyImageBlobParam16(benchmark::State& state, bool fast) { RunApply(state, lx::bench::PhotoRgb16(), fast); }
BENCHMARK_CAPTURE(BM_ApplyImageBlobParam16, plain, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);
BENCHMARK_CAPTURE(BM_ApplyImageBlobParam16, fast, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(3);

// The 1024 x 1024 preview region of the analysed photo; range(0) = 1
// switches every stage on.
template <class T>
void RunApplyLocal(benchmark::State& state, const std::vector<T>& photo, bool fast) {
    const Analysed<T> a(photo);
    const lx::bench::KernelScope kernels(fast);
    if (a.param == nullptr) {
        state.SkipWithError("the analysis failed");
        return;
    }
    Interleaved<T> out(kRegionSide, kRegionSide);
    const ImageDesc d = out.Desc();
    for (auto _ : state) {
        int32_t strength = 50;
        if (ApplyLocal(d, a.blob, a.param, &strength, state.range(0) != 0) != 1) state.SkipWithError("ApplyImageBlobParamLocal failed");
        benchmark::DoNotOptimize(out.px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{kRegionSide} * kRegionSide);
}

void BM_ApplyImageBlobParamLocal8(benchmark::State& state, bool fast) {
    RunApplyLocal(state, lx::bench::PhotoRgb8(), fast);
}
BENCHMARK_CAPTURE(BM_ApplyImageBlobParamLocal8, plain, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_ApplyImageBlobParamLocal8, fast, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

void BM_ApplyImageBlobParamLocal16(benchmark::State& state, bool fast) {
    RunApplyLocal(state, lx::bench::PhotoRgb16(), fast);
}
BENCHMARK_CAPTURE(BM_ApplyImageBlobParamLocal16, plain, false)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);
BENCHMARK_CAPTURE(BM_ApplyImageBlobParamLocal16, fast, true)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Iterations(10);

// What each optional stage costs inside the every-stage call: the call with
// that stage left out (range(0): 0 none, 1 tint, 2 local contrast (the
// global tone map instead), 3 sharpening, 4 colour restoration (the
// proportional rebuild instead), 5 warm tone). The SIMD kernels only.
template <class T>
void RunWithout(benchmark::State& state, const std::vector<T>& photo) {
    const Analysed<T> a(photo);
    if (a.param == nullptr) {
        state.SkipWithError("the analysis failed");
        return;
    }
    Stages st = Stages::Every();
    bool* const left[] = {nullptr, &st.tint, &st.local, &st.sharpen, &st.restore, &st.warm};
    if (bool* off = left[state.range(0)]) *off = false;
    Interleaved<T> out(kW, kH);
    const ImageDesc d = out.Desc();
    for (auto _ : state) {
        int32_t strength = 50;
        if (Apply(d, a.blob, a.param, &strength, st) != 0) state.SkipWithError("ApplyImageBlobParam failed");
        benchmark::DoNotOptimize(out.px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}

void BM_ApplyWithout8(benchmark::State& state) { RunWithout(state, lx::bench::PhotoRgb8()); }
BENCHMARK(BM_ApplyWithout8)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(MinOfFive);
void BM_ApplyWithout16(benchmark::State& state) { RunWithout(state, lx::bench::PhotoRgb16()); }
BENCHMARK(BM_ApplyWithout16)->DenseRange(0, 5)->Unit(benchmark::kMillisecond)->Iterations(2)->Apply(MinOfFive);

// The memory floor of a whole-image call: the photo's bytes read once and
// written once into a destination of the call's size with streaming stores
// (memcpy's, for a copy this large), and with range(0) = 1 also one read of
// a float plane of the photo's size, as the local tone map reads the base
// map (memchr looks for a byte no sample has).
template <class T>
void RunMemoryFloor(benchmark::State& state, const std::vector<T>& photo) {
    std::vector<T> out(photo.size());
    const std::vector<float> map(state.range(0) != 0 ? size_t{kW} * kH : 0, 1.0f);
    for (auto _ : state) {
        std::memcpy(out.data(), photo.data(), photo.size() * sizeof(T));
        benchmark::DoNotOptimize(std::memchr(map.data(), 0x55, map.size() * sizeof(float)));
        benchmark::ClobberMemory();
    }
    lx::bench::SetMegapixels(state, int64_t{kW} * kH);
}

void BM_MemoryFloor8(benchmark::State& state) { RunMemoryFloor(state, lx::bench::PhotoRgb8()); }
BENCHMARK(BM_MemoryFloor8)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(MinOfFive);
void BM_MemoryFloor16(benchmark::State& state) { RunMemoryFloor(state, lx::bench::PhotoRgb16()); }
BENCHMARK(BM_MemoryFloor16)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->Apply(MinOfFive);

// The every-stage region call by region side (range(0)), centred on the
// preview region's centre: the time per pixel shows whether a call pays
// for set-up (small sides) or for data beyond the caches (large sides).
void BM_RegionBySide8(benchmark::State& state) {
    const Analysed<uint8_t> a(lx::bench::PhotoRgb8());
    if (a.param == nullptr) {
        state.SkipWithError("the analysis failed");
        return;
    }
    const int side = int(state.range(0));
    const int left = kRegionLeft + (kRegionSide - side) / 2, top = kRegionTop + (kRegionSide - side) / 2;
    Interleaved<uint8_t> out(side, side);
    const ImageDesc d = out.Desc();
    for (auto _ : state) {
        int32_t strength = 50;
        if (ApplyLocal(d, a.blob, a.param, &strength, true, left, top) != 1) state.SkipWithError("ApplyImageBlobParamLocal failed");
        benchmark::DoNotOptimize(out.px.data());
    }
    lx::bench::SetMegapixels(state, int64_t{side} * side);
}
BENCHMARK(BM_RegionBySide8)->Arg(16)->Arg(64)->Arg(256)->Arg(512)->Arg(1024)->Unit(benchmark::kMillisecond)->MinTime(0.2)->Apply(MinOfFive);

}  // namespace
