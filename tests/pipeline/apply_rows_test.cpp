// SPDX-License-Identifier: MIT
// The apply pipelines a row at a time (SIMD kernels where the build has
// them) against the steps one after the other over whole planes with the
// plain kernels: the same bytes for every destination layout, region and
// combination of stages, on every SIMD target.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyse_blob.h"
#include "pipeline/apply_blob_param.h"
#include "simd/kernels.h"
#include "support/blob_builder.h"
#include "support/simd_targets.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;
using test::MakeBlob;
using test::TestHost;

// A destination of w x h pixels in one of four layouts: interleaved RGB
// (padded rows), interleaved BGR, four-byte pixels, padded planes.
template <class T>
struct Dest {
    int w, h, layout;
    std::vector<T> px;
    Dest(int width, int height, int l) : w(width), h(height), layout(l) {
        px.assign(size_t(RowStride()) * h + 2 * PlaneSize() + 8, T(77));
    }
    int64_t PixelStride() const { return layout == 2 ? 4 : (layout == 3 ? 1 : 3); }
    int64_t RowStride() const { return layout == 3 ? w + 5 : int64_t{w} * PixelStride() + 7; }
    int64_t PlaneSize() const { return layout == 3 ? RowStride() * h : 0; }
    ImageDesc Desc() {
        const int32_t s = int32_t(sizeof(T));
        T* b = px.data();
        T* c[3] = {b, b + 1, b + 2};
        if (layout == 1) c[0] = b + 2, c[2] = b;
        if (layout == 3) c[1] = b + PlaneSize(), c[2] = b + 2 * PlaneSize();
        return ImageDesc{s == 1 ? 0 : 1, w, h, int32_t(RowStride() * s), int32_t(PixelStride() * s), c[0], c[1], c[2]};
    }
};

// A picture with a cast, smooth areas, edges, noise and clipped highlights.
template <class T>
BlobPtr Picture(int w, int h, uint32_t seed) {
    std::mt19937 rng(seed);
    const int full = sizeof(T) == 1 ? 255 : 65535;
    return MakeBlob<T>(w, h, [&](int x, int y, int c) {
        const int base = (x * 37 + y * 11) % 200 + (x > w / 2 ? 40 : 0) + int(rng() % 15);
        const int cast[3] = {110, 100, 80};
        const int v = (x + y) % 13 == 0 ? 255 : std::min(255, base * cast[c] / 100);
        return T(sizeof(T) == 1 ? v : std::min(full, v * 257 + int(rng() % 257)));
    });
}

// Settings that switch on a different set of stages each.
std::vector<ApplySettings> SettingsToTry() {
    std::vector<ApplySettings> all;
    for (int k = 0; k < 6; ++k) {
        ApplySettings s;
        s.useVariant = 1, s.tintMode = k % 4, s.variantStrength = 0.8f;
        s.useShadowClip = k % 2, s.shadowClipIndex = 3;
        s.localContrast = k != 1;
        s.curveType = k % 3 == 0 ? kCurveKnee : (k % 3 == 1 ? kCurveLogExp : kCurveLog);
        s.curveBlack = 12, s.curveAmount = 0.5f;
        s.finish.sharpen = k != 2, s.finish.sharpenAmount = k == 4 ? 3.0f : 1.0f;
        s.finish.colorMode = k % 3, s.finish.colorAmount = 0.6f;
        s.finish.warmTone = k >= 3, s.finish.warmToneStrength = 0.8f;
        s.finish.colorCube = k == 5, s.finish.cubeSelect = 1, s.finish.cubeAlsoC = k == 4;
        all.push_back(s);
    }
    return all;
}

template <class T>
int32_t Apply(bool rows, ImageDesc d, const ImageBlob& blob, ImageParam& p, const ApplySettings& s,
              const BlobRegion* region) {
    if (rows) {
        if (region) return sizeof(T) == 1 ? ApplyBlobParamLocal8(d, blob, p, s, *region)
                                          : ApplyBlobParamLocal16(d, blob, p, s, *region);
        return sizeof(T) == 1 ? ApplyBlobParam8(d, blob, p, s) : ApplyBlobParam16(d, blob, p, s);
    }
    return sizeof(T) == 1 ? ApplyBlobParamWholeSteps8(d, blob, p, s, region)
                          : ApplyBlobParamWholeSteps16(d, blob, p, s, region);
}

// Compares the orders on a w x h picture for the settings `which` (indices
// into SettingsToTry); `layouts` destination layouts for regions (all four
// for the whole blob). Returns how many calls succeeded.
template <class T>
int CompareOrders(int w, int h, uint32_t seed, const std::vector<int>& which, int layouts) {
    TestHost host;
    BlobPtr blob = Picture<T>(w, h, seed);
    ImageParam p{};
    const bool analysed = sizeof(T) == 1 ? AnalyseBlob8(*blob, p) : AnalyseBlob16(*blob, p);
    EXPECT_TRUE(analysed);
    // Regions: the whole blob, and one at each corner (every edge).
    const int rw = std::max(1, w / 2 + 1), rh = std::max(1, h / 2 + 1);
    const BlobRegion corners[] = {{0, 0}, {0, w - rw}, {h - rh, 0}, {h - rh, w - rw}};
    int succeeded = 0;
    for (const int tried : which) {
        ApplySettings s = SettingsToTry()[size_t(tried)];
        for (int r = -1; r < 4; ++r) {
            const BlobRegion* region = r < 0 ? nullptr : &corners[r];
            const int dw = region ? rw : w, dh = region ? rh : h;
            for (int layout = 0; layout < (region ? layouts : 4); ++layout) {
                const std::string what = std::to_string(w) + " x " + std::to_string(h) + ", settings " +
                                         std::to_string(tried) + ", region " + std::to_string(r) + ", layout " +
                                         std::to_string(layout);
                int32_t strength0 = 40;
                s.toneStrength = &strength0;
                s.useToneLevel = tried % 2;
                // The reference: whole steps, plain kernels (it also builds
                // the base map on the first call).
                Dest<T> want(dw, dh, layout);
                simd::UseReferenceKernelsForTest(true);
                const int32_t wantResult = Apply<T>(false, want.Desc(), *blob, p, s, region);
                simd::UseReferenceKernelsForTest(false);
                const int32_t wantStrength = strength0;
                succeeded += wantResult;
                test::ForEachSimdTarget([&](const std::string& target) {
                    int32_t strength = 40;
                    s.toneStrength = &strength;
                    Dest<T> got(dw, dh, layout);
                    EXPECT_EQ(Apply<T>(true, got.Desc(), *blob, p, s, region), wantResult) << target << ", " << what;
                    EXPECT_EQ(got.px, want.px) << target << ", " << what;
                    EXPECT_EQ(strength, wantStrength) << target << ", " << what;
                });
            }
        }
    }
    ReleaseHostBlock(p.baseMap);
    EXPECT_EQ(host.live(), 1) << "only the blob";
    return succeeded;
}

TEST(ApplyRows, RowsMatchTheWholeStepsEightBit) {
    int succeeded = 0;
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 7}, {9, 1}, {2, 2}, {37, 23}, {70, 5}})
        succeeded += CompareOrders<uint8_t>(w, h, uint32_t(w * 100 + h), {0, 1, 2, 3, 4, 5}, 4);
    // 6 sizes x 6 settings x (4 whole + 4 x 4 region) calls; the 8-bit
    // region refuses planar destinations (4 x 36), both orders alike.
    EXPECT_EQ(succeeded, 720 - 144);
}

// 16-bit calls build tables of 65536 entries each: fewer of them.
TEST(ApplyRows, RowsMatchTheWholeStepsSixteenBit) {
    int succeeded = 0;
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {2, 2}, {37, 23}})
        succeeded += CompareOrders<uint16_t>(w, h, uint32_t(w * 100 + h), {0, 3, 4}, 2);
    EXPECT_EQ(succeeded, 3 * 3 * (4 + 4 * 2)) << "every call is served";
}

// A progress callback that records the steps it is called with and asks to
// stop at step `at` (never, for 0).
struct StopAt {
    int32_t at;
    std::vector<int32_t> seen;
    void Install(ApplySettings& s) {
        s.progress = [](int32_t step, int32_t, void* ctx) {
            auto* self = static_cast<StopAt*>(ctx);
            self->seen.push_back(step);
            return step == self->at ? 1 : 0;
        };
        s.progressContext = this;
    }
};

// The analysis's own pass, which only builds the base map (its destination
// is thrown away), against a full pass over whole steps with the plain
// kernels: the same map and range, the same blocks taken, the same
// progress calls, with a stop at each of them and with each allocation
// failing; its destination is never written.
template <class T>
void CompareMapPass(int w, int h) {
    TestHost host;
    BlobPtr blob = Picture<T>(w, h, uint32_t(w * 31 + h));
    ImageParam analysed{};
    ASSERT_TRUE(sizeof(T) == 1 ? AnalyseBlob8(*blob, analysed) : AnalyseBlob16(*blob, analysed));
    ApplySettings s;
    s.useVariant = 1, s.tintMode = 1, s.variantStrength = 1.0f, s.useShadowClip = 1, s.shadowClipIndex = 2;
    s.curveType = kCurveKnee, s.localContrast = 1, s.curveAmount = 0.05f;
    int32_t strength = 80;
    s.toneStrength = &strength;
    struct Run {
        int32_t result = 0, low = 0, high = 0;
        std::vector<float> map;
        std::vector<int32_t> steps;
        int64_t allocations = 0;
        bool written = false;
        bool operator==(const Run&) const = default;
    };
    const std::string what = std::to_string(w) + " x " + std::to_string(h) + (sizeof(T) == 1 ? ", 8-bit" : ", 16-bit");
    auto run = [&](bool mapOnly, int32_t stopAt) {
        Run r;
        ApplySettings t = s;
        t.mapOnly = mapOnly;
        StopAt stop{stopAt, {}};
        stop.Install(t);
        Dest<T> out(w, h, 3);
        const std::vector<T> before = out.px;
        ImageParam p = analysed;
        const int64_t made = host.allocations();
        r.result = sizeof(T) == 1 ? ApplyBlobParam8(out.Desc(), *blob, p, t) : ApplyBlobParam16(out.Desc(), *blob, p, t);
        r.allocations = host.allocations() - made;
        r.steps = stop.seen;
        r.written = out.px != before;
        r.low = p.baseMapLow, r.high = p.baseMapHigh;
        if (p.baseMapValid) {
            const float* m = reinterpret_cast<const float*>(p.baseMap->Data());
            r.map.assign(m, m + int64_t{w} * h);
        }
        ReleaseHostBlock(p.baseMap);
        return r;
    };
    for (int32_t stopAt = 0; stopAt <= 6; ++stopAt) {
        simd::UseReferenceKernelsForTest(true);
        const Run want = run(false, stopAt);
        simd::UseReferenceKernelsForTest(false);
        test::ForEachSimdTarget([&](const std::string& target) {
            for (bool fast : {false, true}) {
                simd::UseReferenceKernelsForTest(!fast);
                Run got = run(true, stopAt);
                simd::UseReferenceKernelsForTest(false);
                const std::string how = what + ", " + target + (fast ? "" : ", plain") + ", stop at " + std::to_string(stopAt);
                EXPECT_FALSE(got.written) << how;
                got.written = want.written;
                EXPECT_TRUE(got == want) << how;
            }
        });
    }
    EXPECT_EQ(run(true, 0).map.empty(), w * h == 0);
    // Allocation failures: the same result for each failing allocation.
    std::vector<int64_t> full, mapOnly;
    for (bool only : {false, true}) {
        test::ForEachAllocationFailure(
            host, [&]() -> int64_t { return run(only, 0).result; },
            [&](int64_t, int64_t result) { (only ? mapOnly : full).push_back(result); });
    }
    EXPECT_EQ(mapOnly, full) << what;
    EXPECT_EQ(host.live(), 1) << "only the blob";
}

TEST(ApplyRows, MapOnlyPassBuildsTheSameRecord) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 7}, {9, 1}, {37, 23}, {130, 41}})
        CompareMapPass<uint8_t>(w, h);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 3}, {37, 23}}) CompareMapPass<uint16_t>(w, h);
}

}  // namespace
}  // namespace lx
