// SPDX-License-Identifier: MIT
#include "pipeline/apply_blob_param.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "analysis/analyse_blob.h"
#include "noise/noise_library.h"
#include "simd/kernels.h"
#include "support/blob_builder.h"
#include "support/images.h"
#include "support/layouts.h"
#include "support/simd_targets.h"
#include "support/test_host.h"

namespace lx {
namespace {

using test::BlobPtr;
using test::MakeBlob;
using test::Planar;
using test::TestHost;

// A record with neutral statistics: black point 0, white point at full
// scale, no tint.
ImageParam NeutralRecord(int w, int h, int32_t full) {
    ImageParam p{};
    p.width = w, p.height = h;
    for (auto& wp : p.whitePoint) wp = full;
    for (auto& row : p.tintGains) std::fill_n(row, 3, 1.0f);
    return p;
}

// Releases the record's base map at the end of the scope, also when an
// ASSERT returns early.
struct BaseMapRelease {
    ImageParam& p;
    ~BaseMapRelease() { ReleaseHostBlock(p.baseMap); }
};

// A progress callback that records the steps it is called with (out of 6)
// and asks to stop at step `at` (never, for 0).
struct StopAt {
    int32_t at;
    std::vector<int32_t> seen;
    void Install(ApplySettings& s) {
        s.progress = [](int32_t step, int32_t total, void* ctx) {
            auto* self = static_cast<StopAt*>(ctx);
            EXPECT_EQ(total, 6);
            self->seen.push_back(step);
            return step == self->at ? 1 : 0;
        };
        s.progressContext = this;
    }
};

// Runs the pipeline only up to the levels step (stop at progress call 1), so
// the destination holds the levelled channels.
template <class T>
Planar<T> LevelsOnly(const ImageBlob& blob, ImageParam& p, ApplySettings s) {
    Planar<T> out(blob.width, blob.height);
    StopAt stop{1, {}};
    stop.Install(s);
    EXPECT_EQ(sizeof(T) == 1 ? ApplyBlobParam8(out.desc(), blob, p, s) : ApplyBlobParam16(out.desc(), blob, p, s), 0)
        << "a stop request fails the call";
    return out;
}

// Worked levels of four pixels (unlisted ones black) through the levels step
// alone: the scale from the black and white points (trunc(255 / (white -
// black) x 1000), negative when the white point lies below the black point),
// the tint gains in per mille about their middle, highlights drawn together
// below the top, a negative strength that turns the gains over, the flag
// (not the gains) selecting the tint path; and the 16-bit top.
TEST(ApplyBlobParam, LevelsStepWorkedValues) {
    TestHost host;
    using Px = std::array<int, 3>;
    struct Case {  // black < 0: no shadow clip
        const char* what;
        std::array<Px, 4> in;
        int32_t white, black;
        std::array<float, 3> gains;
        float strength;
        bool tinted;
        std::array<Px, 4> out;
    };
    const Case cases[] = {
        {"scale 1085", {Px{10, 10, 10}, {128, 128, 128}, {245, 245, 245}, {255, 255, 255}}, 245, 10, {1, 1, 1}, 1, false,
         {Px{0, 0, 0}, {128, 128, 128}, {254, 254, 254}, {255, 255, 255}}},
        {"scale -2550", {Px{150, 150, 150}, {250, 250, 250}, {200, 200, 200}, {0, 0, 0}}, 100, 200, {1, 1, 1}, 1, false,
         {Px{127, 127, 127}, {0, 0, 0}, {0, 0, 0}, {255, 255, 255}}},
        // 1600, 800 and 399 (1 + (0.4 - 1) rounds below 0.4 in float):
        // (300, 200, 100) is drawn to (255, 200, 145).
        {"compressed", {Px{188, 250, 251}, {100, 100, 100}}, 255, -1, {1.6f, 0.8f, 0.4f}, 1, true,
         {Px{255, 200, 145}, {160, 80, 39}}},
        // Factors (-1000, 1000, 3000): (-100, 100, 300) drawn to (-55, 100,
        // 255) about 100, then clamped.
        {"turned", {Px{100, 100, 100}}, 255, -1, {1.2f, 1.0f, 0.8f}, -10, true, {Px{0, 100, 255}}},
        {"flag off", {Px{188, 250, 251}}, 255, -1, {1.6f, 0.8f, 0.4f}, 1, false, {Px{188, 250, 251}}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        BlobPtr blob = MakeBlob<uint8_t>(4, 1, [&](int x, int, int k) { return uint8_t(c.in[size_t(x)][size_t(k)]); });
        ImageParam p = NeutralRecord(4, 1, c.white);
        ApplySettings s;
        for (auto& row : p.shadowPercentiles) row[2] = c.black;
        s.useShadowClip = c.black >= 0, s.shadowClipIndex = 2;
        s.useVariant = 1, s.tintMode = 0, s.variantStrength = c.strength;
        p.needTint[0] = c.tinted;
        for (int k = 0; k < 3; ++k) p.tintGains[0][k] = c.gains[size_t(k)];
        const Planar<uint8_t> out = LevelsOnly<uint8_t>(*blob, p, s);
        for (int x = 0; x < 4; ++x)
            EXPECT_EQ((Px{out.at(0, x, 0), out.at(1, x, 0), out.at(2, x, 0)}), c.out[size_t(x)]) << "pixel " << x;
    }
    // 16 bits top out at 65280, never 65535; a tinted pixel past it is capped
    // there, not drawn together with its other channels.
    BlobPtr wide = MakeBlob<uint16_t>(2, 1, [](int x, int, int c) { return uint16_t(x == 0 ? 65535 : 65300 + c); });
    ImageParam p = NeutralRecord(2, 1, 65280);
    for (const int tinted : {0, 1}) {
        ApplySettings s;
        p.needTint[0] = tinted, s.useVariant = 1, s.tintMode = 0;
        const Planar<uint16_t> out = LevelsOnly<uint16_t>(*wide, p, s);
        for (int i = 0; i < 6; ++i) EXPECT_EQ(out.at(i % 3, i / 3, 0), 65280) << "tinted " << tinted;
    }
    wide.reset();
    EXPECT_EQ(host.live(), 0);
}

// A flat image has no detail: its base map's range is (-1, -3) (bin H - 1
// from either end). Later calls, with or without local contrast, reuse the
// map untouched.
TEST(ApplyBlobParam, FlatImageBaseMapAndItsCache) {
    TestHost host;
    for (const bool wide : {false, true}) {
        BlobPtr blob = wide ? MakeBlob<uint16_t>(40, 30, [](int, int, int) { return uint16_t(30000); })
                            : MakeBlob<uint8_t>(40, 30, [](int, int, int) { return uint8_t(117); });
        ImageParam p = NeutralRecord(40, 30, wide ? 65280 : 255);
        const BaseMapRelease release{p};
        ApplySettings s;
        int32_t strength = 80;
        s.toneStrength = &strength;
        Planar<uint16_t> out16(40, 30);
        Planar<uint8_t> out8(40, 30);
        const HostBlock* map = nullptr;
        std::vector<float> first;
        for (int lc : {1, 1, 0, 1}) {
            s.localContrast = lc, s.curveType = map ? kCurveLogExp : kCurveKnee;
            ASSERT_EQ(wide ? ApplyBlobParam16(out16.desc(), *blob, p, s) : ApplyBlobParam8(out8.desc(), *blob, p, s), 1);
            ASSERT_NE(p.baseMap, nullptr);
            if (!map) map = p.baseMap, first.assign(map->As<float>(), map->As<float>() + 40 * 30);
            EXPECT_TRUE(p.baseMapValid == 1 && p.baseMapLow == -1 && p.baseMapHigh == -3);
            EXPECT_EQ(p.baseMap, map);
            EXPECT_EQ(first, std::vector<float>(map->As<float>(), map->As<float>() + 40 * 30));
        }
    }
    EXPECT_EQ(host.live(), 0);
}

// A measured tone level is capped at the strength limit, and the strength
// used is written back.
TEST(ApplyBlobParam, MeasuredStrengthIsCappedAtTheLimit) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(4, 4, [](int x, int y, int) { return uint8_t(40 * x + 10 * y); });
    ImageParam p = NeutralRecord(4, 4, 255);
    for (auto& row : p.toneLevels) std::fill(std::begin(row), std::end(row), 90);
    const BaseMapRelease release{p};
    for (const int32_t limit : {30, 100}) {
        ApplySettings s;
        int32_t strength = 0;
        s.toneStrength = &strength, s.useToneLevel = 1, s.toneLevelRow = 1, s.strengthLimit = limit;
        Planar<uint8_t> out(4, 4);
        ASSERT_EQ(ApplyBlobParam8(out.desc(), *blob, p, s), 1);
        EXPECT_EQ(strength, std::min(90, limit));
    }
}

TEST(ApplyBlobParam, SharpenStrengthGrowsWithImageSize) {
    EXPECT_NEAR(SharpenStrengthForSize(640, 480), 0.209f, 0.001f);
    EXPECT_NEAR(SharpenStrengthForSize(3000, 2000), 0.926f, 0.001f);
    EXPECT_EQ(SharpenStrengthForSize(3500, 2000), 1.0f);
    EXPECT_EQ(SharpenStrengthForSize(300, 200), 0.1f);
}

TEST(ApplyBlobParam, EveryAllocationFailureReleasesEverything) {
    TestHost host;
    const noise::EntryPoints saved = noise::Entries();
    noise::Entries().fillParams = [](NoiseParamBlock* b, int32_t) { return b->level = 5, int32_t{0}; };
    noise::Entries().removeNoise = [](void*, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t,
                                      NoiseParamBlock*, int32_t, int32_t, int64_t) { return int32_t{0}; };
    for (int variant = 0; variant < 4; ++variant) {
        const bool wide = variant & 1, local = variant & 2;
        BlobPtr blob = wide ? MakeBlob<uint16_t>(24, 16, [](int x, int y, int c) { return uint16_t(900 * x + 1500 * y + 100 * c); })
                               : MakeBlob<uint8_t>(24, 16, [](int x, int y, int c) { return uint8_t(4 * x + 9 * y + c); });
        const int32_t bytes = wide ? 2 : 1;
        std::vector<uint8_t> dest(24 * 16 * 3 * bytes);
        ImageDesc d{wide, 24, 16, 24 * 3 * bytes, 3 * bytes, dest.data(), dest.data() + bytes, dest.data() + 2 * bytes};
        for (int curve : {kCurveKnee, kCurveLogExp, kCurveLog}) {
            ApplySettings s;
            s.localContrast = 1, s.denoise = 1, s.finish.warmTone = 1, s.finish.warmToneStrength = 1.0f, s.curveType = curve;
            int32_t strength = 60;
            s.toneStrength = &strength;
            ImageParam p = NeutralRecord(24, 16, wide ? 65000 : 250);
            auto run = [&]() -> int64_t {
                ImageParam fresh = p;
                const int32_t r = local ? (wide ? ApplyBlobParamLocal16(d, *blob, fresh, s, {}) : ApplyBlobParamLocal8(d, *blob, fresh, s, {}))
                                        : (wide ? ApplyBlobParam16(d, *blob, fresh, s) : ApplyBlobParam8(d, *blob, fresh, s));
                EXPECT_EQ(r == 1, fresh.baseMapValid == 1);
                ReleaseHostBlock(fresh.baseMap);
                return r;
            };
            // The warm-tone ramp of the 16-bit pipeline is the one block whose
            // absence only skips a stage.
            test::ForEachAllocationFailure(host, run, [&](int64_t k, int64_t r) {
                EXPECT_TRUE(r == 0 || wide) << "variant " << variant << " curve " << curve << " allocation " << k;
            });
        }
    }
    noise::Entries() = saved;
}

// A destination that gives only planes and strides (a host that leaves its
// size 0) takes the whole blob; calls that cannot be served are refused.
TEST(ApplyBlobParam, CallsThatCannotBeServedAreRefused) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(8, 8, [](int x, int y, int c) { return uint8_t(20 + 20 * x + 7 * y + 11 * c); });
    ImageParam p = NeutralRecord(8, 8, 255);
    ApplySettings s;
    Planar<uint8_t> planar(8, 8), unsized(8, 8);
    ImageDesc d = planar.desc(), u = unsized.desc();
    u.width = 0, u.height = 0;
    ASSERT_EQ(ApplyBlobParam8(d, *blob, p, s), 1);
    ASSERT_EQ(ApplyBlobParam8(u, *blob, p, s), 1);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(planar.c[k], unsized.c[k]);
    EXPECT_NE(unsized.at(0, 7, 7), 0) << "the whole blob was written";
    EXPECT_EQ(ApplyBlobParamLocal8(d, *blob, p, s, {}), 0) << "a planar destination for the 8-bit region copy";
    EXPECT_EQ(ApplyBlobParam16(d, *blob, p, s), 0) << "an 8-bit blob for the 16-bit pipeline";
    s.useVariant = 1, s.tintMode = 4;
    EXPECT_EQ(ApplyBlobParam8(d, *blob, p, s), 0) << "tint mode out of range";
    s.useVariant = 0, s.useShadowClip = 1, s.shadowClipIndex = 50;
    EXPECT_EQ(ApplyBlobParam8(d, *blob, p, s), 0) << "percentile index out of range";
    s.useShadowClip = 0, s.localContrast = 1;
    p.width = 9;
    EXPECT_EQ(ApplyBlobParam8(d, *blob, p, s), 0) << "a base map to build for another size";
    EXPECT_EQ(host.live(), 1) << "only the blob is left";
}

TEST(ApplyBlobParam, ImagesWithoutPixelsSucceedWithEveryProgressCall) {
    TestHost host;
    const std::vector<int32_t> allSteps{1, 2, 3, 4, 5, 6};
    for (int contrast : {0, 1}) {
        BlobPtr empty = MakeBlob<uint8_t>(0, 4, [](int, int, int) { return uint8_t(0); });
        BlobPtr blob = MakeBlob<uint16_t>(6, 4, [](int x, int, int) { return uint16_t(9000 * x); });
        ImageParam p = NeutralRecord(0, 4, 255);
        ApplySettings s;
        s.localContrast = contrast, s.finish.sharpen = 1, s.finish.warmTone = 1, s.finish.colorCube = 1, s.finish.colorMode = 1;
        StopAt watch{0, {}};
        watch.Install(s);
        ImageDesc none{0, 0, 0, 0, 0, nullptr, nullptr, nullptr};
        EXPECT_EQ(ApplyBlobParam8(none, *empty, p, s), 1) << "a blob 0 pixels wide";
        EXPECT_EQ(watch.seen, allSteps);
        for (BlobRegion at : {BlobRegion{0, 0}, BlobRegion{3, 5}, BlobRegion{-9, 99}}) {
            watch.seen.clear();
            none.sampleType = 1;
            EXPECT_EQ(ApplyBlobParamLocal16(none, *blob, p, s, at), 1);
            EXPECT_EQ(watch.seen, allSteps);
        }
        EXPECT_EQ(p.baseMapValid, 0) << "no pixels, no map";
        EXPECT_EQ(host.live(), 2) << "only the two blobs are left";
    }
}

// Region origins plus the destination's size, and map offsets plus the
// region's origin, are summed in 64 bits: near the int32 limits a region is
// refused rather than wrapped back into the blob, and the map is read at its
// far edge on each axis rather than wrapped. The map is 1 (lifted) in its
// bottom right pixel only and 0 (the identity, at curve amount 1) elsewhere.
TEST(ApplyBlobParam, RegionAndMapOffsetsAtTheInt32Limits) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(12, 8, [](int, int, int) { return uint8_t(100); });
    ImageParam p = NeutralRecord(12, 8, 255);
    HostArray<float> map = HostArray<float>::Allocate(12 * 8);
    for (int i = 0; i < 12 * 8; ++i) map[i] = i == 12 * 8 - 1 ? 1.0f : 0.0f;
    const BaseMapRelease release{p};
    p.baseMap = map.release(), p.baseMapValid = 1, p.baseMapLow = 0, p.baseMapHigh = 1;
    int32_t strength = 60;
    ApplySettings s;
    s.localContrast = 1, s.toneStrength = &strength, s.curveAmount = 1.0f;
    test::Interleaved<uint8_t> out(2, 2);
    for (const BlobRegion r : {BlobRegion{0, INT32_MAX}, BlobRegion{INT32_MAX, 0}, BlobRegion{INT32_MAX - 1, INT32_MAX - 1},
                               BlobRegion{0, INT32_MIN}, BlobRegion{INT32_MIN, 0}, BlobRegion{7, 0}, BlobRegion{0, 11}})
        EXPECT_EQ(ApplyBlobParamLocal8(out.desc(), *blob, p, s, r), 0) << "region at " << r.left << ", " << r.top;
    for (const auto& [ox, oy] : {std::pair{INT32_MAX, INT32_MAX}, {INT32_MIN, INT32_MIN}, {INT32_MAX, 0}, {0, INT32_MAX}}) {
        s.mapOffsetX = ox, s.mapOffsetY = oy;
        ASSERT_EQ(ApplyBlobParamLocal8(out.desc(), *blob, p, s, BlobRegion{2, 5}), 1);
        for (int i = 0; i < 4; ++i)
            EXPECT_EQ(out.at(i % 2, i / 2)[0] > 100, ox == INT32_MAX && oy == INT32_MAX) << "map offset " << ox << ", " << oy;
    }
}

// The apply pipelines a row at a time (SIMD kernels where the build has
// them) against the steps one after the other over whole planes with the
// plain kernels: the same bytes for every destination layout, region and
// combination of stages, on every SIMD target.

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

// Settings k (0..5) switch on a different set of stages each.
ApplySettings SettingsToTry(int k) {
    ApplySettings s;
    s.useVariant = 1, s.tintMode = k % 4, s.variantStrength = 0.8f;
    s.useShadowClip = k % 2, s.shadowClipIndex = 3, s.useToneLevel = k % 2;
    s.localContrast = k != 1;
    s.curveType = k % 3 == 0 ? kCurveKnee : (k % 3 == 1 ? kCurveLogExp : kCurveLog);
    s.curveBlack = 12, s.curveAmount = 0.5f;
    s.finish.sharpen = k != 2, s.finish.sharpenAmount = k == 4 ? 3.0f : 1.0f;
    s.finish.colorMode = k % 3, s.finish.colorAmount = 0.6f;
    s.finish.warmTone = k >= 3, s.finish.warmToneStrength = 0.8f;
    s.finish.colorCube = k == 5, s.finish.cubeSelect = 1, s.finish.cubeAlsoC = k == 4;
    return s;
}

template <class T>
int32_t Apply(bool rows, ImageDesc d, const ImageBlob& blob, ImageParam& p, const ApplySettings& s,
              const BlobRegion* region) {
    const bool eight = sizeof(T) == 1;
    if (!rows) return eight ? ApplyBlobParamWholeSteps8(d, blob, p, s, region) : ApplyBlobParamWholeSteps16(d, blob, p, s, region);
    if (region) return eight ? ApplyBlobParamLocal8(d, blob, p, s, *region) : ApplyBlobParamLocal16(d, blob, p, s, *region);
    return eight ? ApplyBlobParam8(d, blob, p, s) : ApplyBlobParam16(d, blob, p, s);
}

// Compares the orders on a w x h picture for the settings `which` (indices
// into SettingsToTry); `layouts` destination layouts for regions (all four
// for the whole blob). Returns how many calls succeeded.
template <class T>
int CompareOrders(int w, int h, uint32_t seed, const std::vector<int>& which, int layouts) {
    TestHost host;
    BlobPtr blob = Picture<T>(w, h, seed);
    ImageParam p{};
    EXPECT_TRUE(sizeof(T) == 1 ? AnalyseBlob8(*blob, p) : AnalyseBlob16(*blob, p));
    // Regions: the whole blob, and one at each corner (every edge).
    const int rw = std::max(1, w / 2 + 1), rh = std::max(1, h / 2 + 1);
    const BlobRegion corners[] = {{0, 0}, {0, w - rw}, {h - rh, 0}, {h - rh, w - rw}};
    int succeeded = 0;
    for (const int tried : which) {
        ApplySettings s = SettingsToTry(tried);
        for (int r = -1; r < 4; ++r) {
            const BlobRegion* region = r < 0 ? nullptr : &corners[r];
            const int dw = region ? rw : w, dh = region ? rh : h;
            for (int layout = 0; layout < (region ? layouts : 4); ++layout) {
                SCOPED_TRACE(testing::Message() << w << " x " << h << ", settings " << tried << ", region " << r
                                                << ", layout " << layout);
                int32_t wantStrength = 40;
                s.toneStrength = &wantStrength;
                // The reference: whole steps, plain kernels (it also builds
                // the base map on the first call).
                test::LayoutImage<T> want(dw, dh, layout);
                simd::UseReferenceKernelsForTest(true);
                const int32_t wantResult = Apply<T>(false, want.Desc(), *blob, p, s, region);
                simd::UseReferenceKernelsForTest(false);
                succeeded += wantResult;
                test::ForEachSimdTarget([&](const std::string& target) {
                    int32_t strength = 40;
                    s.toneStrength = &strength;
                    test::LayoutImage<T> got(dw, dh, layout);
                    EXPECT_EQ(Apply<T>(true, got.Desc(), *blob, p, s, region), wantResult) << target;
                    EXPECT_EQ(got.mem, want.mem) << target;
                    EXPECT_EQ(strength, wantStrength) << target;
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

// The analysis's own pass, which only builds the base map and never writes
// its destination, against a full pass over whole steps with the plain
// kernels: the same map and range, blocks taken and progress calls, with a
// stop at each call and with each allocation failing.
template <class T>
void CompareMapPass(int w, int h) {
    SCOPED_TRACE(testing::Message() << w << " x " << h << ", " << sizeof(T) * 8 << "-bit");
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
        bool mapOnlyWrote = false;
        bool operator==(const Run&) const = default;
    };
    auto run = [&](bool mapOnly, int32_t stopAt) {
        Run r;
        ApplySettings t = s;
        t.mapOnly = mapOnly;
        StopAt stop{stopAt, {}};
        stop.Install(t);
        test::LayoutImage<T> out(w, h, 2);
        const std::vector<T> before = out.mem;
        ImageParam p = analysed;
        const int64_t made = host.allocations();
        r.result = sizeof(T) == 1 ? ApplyBlobParam8(out.Desc(), *blob, p, t) : ApplyBlobParam16(out.Desc(), *blob, p, t);
        r.allocations = host.allocations() - made;
        r.steps = stop.seen;
        r.mapOnlyWrote = mapOnly && out.mem != before;
        r.low = p.baseMapLow, r.high = p.baseMapHigh;
        if (p.baseMapValid) r.map.assign(p.baseMap->As<float>(), p.baseMap->As<float>() + int64_t{w} * h);
        ReleaseHostBlock(p.baseMap);
        return r;
    };
    for (int32_t stopAt = 0; stopAt <= 6; ++stopAt) {
        simd::UseReferenceKernelsForTest(true);
        const Run want = run(false, stopAt);
        EXPECT_TRUE(run(true, stopAt) == want) << "plain, stop at " << stopAt;
        simd::UseReferenceKernelsForTest(false);
        test::ForEachSimdTarget([&](const std::string& target) {
            EXPECT_TRUE(run(true, stopAt) == want) << target << ", stop at " << stopAt;
        });
    }
    EXPECT_EQ(run(true, 0).map.empty(), w * h == 0);
    std::vector<int64_t> full, mapOnly;
    for (bool only : {false, true}) {
        test::ForEachAllocationFailure(
            host, [&]() -> int64_t { return run(only, 0).result; },
            [&](int64_t, int64_t result) { (only ? mapOnly : full).push_back(result); });
    }
    EXPECT_EQ(mapOnly, full);
    EXPECT_EQ(host.live(), 1) << "only the blob";
}

TEST(ApplyRows, MapOnlyPassBuildsTheSameRecord) {
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 1}, {1, 7}, {9, 1}, {37, 23}, {130, 41}})
        CompareMapPass<uint8_t>(w, h);
    for (const auto& [w, h] : std::vector<std::pair<int, int>>{{1, 3}, {37, 23}}) CompareMapPass<uint16_t>(w, h);
}

}  // namespace
}  // namespace lx
