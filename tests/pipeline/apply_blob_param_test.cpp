// SPDX-License-Identifier: MIT
#include "pipeline/apply_blob_param.h"

#include <gtest/gtest.h>

#include "support/images.h"

#include <array>
#include <cstring>
#include <vector>

#include "noise/noise_library.h"
#include "support/blob_builder.h"
#include "support/sample_images.h"
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
    for (auto& row : p.tintGains)
        for (float& g : row) g = 1.0f;
    return p;
}

struct StopAt {
    int32_t step;
    std::vector<int32_t> seen;
    static int32_t Call(int32_t step, int32_t total, void* ctx) {
        auto* self = static_cast<StopAt*>(ctx);
        EXPECT_EQ(total, 6);
        self->seen.push_back(step);
        return step == self->step ? 1 : 0;
    }
};

// Runs the pipeline only up to the levels step (stop at progress call 1), so
// the destination holds the levelled channels.
template <class T>
Planar<T> LevelsOnly(const ImageBlob& blob, ImageParam& p, ApplySettings s) {
    Planar<T> out(blob.width, blob.height);
    StopAt stop{1, {}};
    s.progress = StopAt::Call;
    s.progressContext = &stop;
    ImageDesc d = out.desc();
    const int32_t r = sizeof(T) == 1 ? ApplyBlobParam8(d, blob, p, s) : ApplyBlobParam16(d, blob, p, s);
    EXPECT_EQ(r, 0) << "a stop request fails the call";
    return out;
}

// Worked levels of four pixels (unlisted ones black) through the levels step alone: the scale
// from the black and white points (trunc(255 / (white - black) x 1000),
// negative when the white point lies below the black point), the tint gains
// in per mille about their middle, highlights drawn together below the top,
// a negative strength that turns the gains over, and the flag (not the
// gains) selecting the tint path.
TEST(ApplyBlobParam, LevelsStepWorkedValues) {
    TestHost host;
    using Px = std::array<int, 3>;
    struct Case {
        const char* what;
        std::array<Px, 4> in;
        int32_t white, black;  // black < 0: no shadow clip
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
        {"factors 952, 857, 1142", {Px{100, 100, 100}}, 255, -1, {1.0f, 0.9f, 1.2f}, 1, true, {Px{95, 85, 114}}},
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
    EXPECT_EQ(host.live(), 0);
}

TEST(ApplyBlobParam, SixteenBitFullScaleIs65280) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint16_t>(3, 1, [](int x, int, int c) {
        return uint16_t(x == 0 ? 65535 : (x == 1 ? 32640 : 65300 + c));
    });
    ImageParam p = NeutralRecord(3, 1, 65280);
    ApplySettings s;
    const Planar<uint16_t> out = LevelsOnly<uint16_t>(*blob, p, s);
    for (int k = 0; k < 3; ++k) {
        EXPECT_EQ(out.at(k, 0, 0), 65280) << "never 65535";
        EXPECT_EQ(out.at(k, 1, 0), 32640);
    }
    // A tinted pixel between 65281 and 65535 is capped, not compressed.
    p.needTint[2] = 1;
    s.useVariant = 1, s.tintMode = 2, s.variantStrength = 1.0f;
    const Planar<uint16_t> tinted = LevelsOnly<uint16_t>(*blob, p, s);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(tinted.at(k, 2, 0), 65280);
}

// A flat image has no detail: its base map's range is (-1, -3) (bin H - 1
// from either end). Later calls, with or without local contrast, reuse the
// map untouched.
TEST(ApplyBlobParam, FlatImageBaseMapAndItsCache) {
    TestHost host;
    for (int wide = 0; wide < 2; ++wide) {
        BlobPtr blob = wide ? MakeBlob<uint16_t>(40, 30, [](int, int, int) { return uint16_t(30000); })
                            : MakeBlob<uint8_t>(40, 30, [](int, int, int) { return uint8_t(117); });
        ImageParam p = NeutralRecord(40, 30, wide ? 65280 : 255);
        ApplySettings s;
        int32_t strength = 80;
        s.localContrast = 1, s.toneStrength = &strength, s.curveType = kCurveKnee;
        Planar<uint16_t> out16(40, 30);
        Planar<uint8_t> out8(40, 30);
        const ImageDesc d = wide ? out16.desc() : out8.desc();
        const auto apply = [&] { return wide ? ApplyBlobParam16(d, *blob, p, s) : ApplyBlobParam8(d, *blob, p, s); };
        ASSERT_EQ(apply(), 1);
        EXPECT_EQ((std::array<int32_t, 3>{p.baseMapValid, p.baseMapLow, p.baseMapHigh}), (std::array<int32_t, 3>{1, -1, -3}));
        ASSERT_NE(p.baseMap, nullptr);
        const HostBlock* map = p.baseMap;
        const std::vector<float> first(map->As<float>(), map->As<float>() + 40 * 30);
        for (int lc : {1, 0, 1}) {
            s.localContrast = lc, s.curveType = kCurveLogExp;
            ASSERT_EQ(apply(), 1);
            EXPECT_EQ(p.baseMap, map);
            EXPECT_EQ(first, std::vector<float>(map->As<float>(), map->As<float>() + 40 * 30));
        }
        ReleaseHostBlock(p.baseMap);
    }
    EXPECT_EQ(host.live(), 0);
}

// A measured tone level is capped at the strength limit, and the strength
// used is written back.
TEST(ApplyBlobParam, MeasuredStrengthIsCappedAtTheLimit) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(4, 4, [](int x, int y, int) { return uint8_t(40 * x + 10 * y); });
    ImageParam p = NeutralRecord(4, 4, 255);
    for (auto& row : p.toneLevels)
        for (int32_t& t : row) t = 90;
    for (const int32_t limit : {30, 100}) {
        ApplySettings s;
        int32_t strength = 0;
        s.toneStrength = &strength, s.useToneLevel = 1, s.toneLevelRow = 1, s.strengthLimit = limit;
        Planar<uint8_t> out(4, 4);
        ImageDesc d = out.desc();
        ASSERT_EQ(ApplyBlobParam8(d, *blob, p, s), 1);
        EXPECT_EQ(strength, std::min(90, limit));
    }
    ReleaseHostBlock(p.baseMap);
}

TEST(ApplyBlobParam, SharpenStrengthGrowsWithImageSize) {
    EXPECT_NEAR(SharpenStrengthForSize(640, 480), 0.209f, 0.001f);
    EXPECT_NEAR(SharpenStrengthForSize(3000, 2000), 0.926f, 0.001f);
    EXPECT_EQ(SharpenStrengthForSize(3500, 2000), 1.0f);
    EXPECT_EQ(SharpenStrengthForSize(10000, 10000), 1.0f);
    EXPECT_EQ(SharpenStrengthForSize(300, 200), 0.1f);
}

// A stand-in noise library: accepts every call and changes nothing.
int32_t FakeFill(NoiseParamBlock* b, int32_t) {
    b->level = 5;
    return 0;
}
int32_t FakeRemove(void*, int32_t, int32_t, int32_t, int32_t, int32_t, uint8_t, uint8_t, NoiseParamBlock*, int32_t,
                   int32_t, int64_t) {
    return 0;
}

TEST(ApplyBlobParam, EveryAllocationFailureReleasesEverything) {
    TestHost host;
    noise::EntryPoints saved = noise::Entries();
    noise::Entries().fillParams = FakeFill;
    noise::Entries().removeNoise = FakeRemove;
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
            test::ForEachAllocationFailure(host, run, [&](int64_t k, int64_t r) {
                // The warm-tone ramp of the 16-bit pipeline is the one block
                // whose absence only skips a stage.
                if (r != 0) {
                    EXPECT_TRUE(wide) << "variant " << variant << " curve " << curve << " allocation " << k;
                }
            });
        }
    }
    noise::Entries() = saved;
}

TEST(ApplyBlobParam, CallsThatCannotBeServedAreRefused) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(8, 8, [](int x, int, int) { return uint8_t(30 * x); });
    ImageParam p = NeutralRecord(8, 8, 255);
    ApplySettings s;
    Planar<uint8_t> planar(8, 8);
    ImageDesc d = planar.desc();
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

TEST(ApplyBlobParam, ReadsOnlyTheDestinationsPlanesAndStrides) {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(7, 5, [](int x, int y, int c) { return uint8_t(20 + 30 * x + 7 * y + 11 * c); });
    ImageParam p = NeutralRecord(7, 5, 230);
    ApplySettings s;
    Planar<uint8_t> full(7, 5), unsized(7, 5);
    ImageDesc a = full.desc(), b = unsized.desc();
    b.width = 0, b.height = 0;  // a host that fills only planes and strides
    ASSERT_EQ(ApplyBlobParam8(a, *blob, p, s), 1);
    ASSERT_EQ(ApplyBlobParam8(b, *blob, p, s), 1);
    for (int k = 0; k < 3; ++k) EXPECT_EQ(full.c[k], unsized.c[k]);
    EXPECT_NE(full.at(0, 6, 4), 0) << "the whole blob was written";
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
        s.progress = StopAt::Call, s.progressContext = &watch;
        ImageDesc none{0, 0, 0, 0, 0, nullptr, nullptr, nullptr};
        EXPECT_EQ(ApplyBlobParam8(none, *empty, p, s), 1) << "a blob 0 pixels wide";
        EXPECT_EQ(watch.seen, allSteps);
        // A region of no pixels, anywhere, of a blob with pixels.
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

// A 12 x 8 blob of level 100 whose record holds a base map that is 1 where
// `lifted(x, y)` and 0 elsewhere: the primary (lifting) curve raises level
// 100 at those pixels, the secondary curve of amount 1, the identity, keeps
// it everywhere else.
struct MappedBlob {
    TestHost host;
    BlobPtr blob = MakeBlob<uint8_t>(12, 8, [](int, int, int) { return uint8_t(100); });
    ImageParam p = NeutralRecord(12, 8, 255);
    int32_t strength = 60;
    ApplySettings s;
    explicit MappedBlob(bool (*lifted)(int x, int y)) {
        HostArray<float> map = HostArray<float>::Allocate(12 * 8);
        for (int i = 0; i < 12 * 8; ++i) map[i] = lifted(i % 12, i / 12) ? 1.0f : 0.0f;
        p.baseMap = map.release(), p.baseMapValid = 1, p.baseMapLow = 0, p.baseMapHigh = 1;
        s.localContrast = 1, s.toneStrength = &strength, s.curveAmount = 1.0f;
    }
    ~MappedBlob() { ReleaseHostBlock(p.baseMap); }
};

// A region reads the base map at its own position: map offsets plus its left
// column and top row, each on its own axis. The map is 1 at (7, 3) only.
TEST(ApplyBlobParam, RegionReadsTheMapAtItsOwnPosition) {
    MappedBlob m([](int x, int y) { return x == 7 && y == 3; });
    struct Case {
        int32_t offsetX, offsetY;
        int liftedX, liftedY;  // the region pixel on (7, 3)
    };
    // Region at left 5, top 2, 4 x 3 pixels.
    for (const Case c : {Case{0, 0, 2, 1}, Case{1, 0, 1, 1}, Case{0, -1, 2, 2}}) {
        test::Interleaved<uint8_t> out(4, 3);
        m.s.mapOffsetX = c.offsetX, m.s.mapOffsetY = c.offsetY;
        ASSERT_EQ(ApplyBlobParamLocal8(out.desc(), *m.blob, m.p, m.s, BlobRegion{2, 5}), 1);
        for (int i = 0; i < 12; ++i)
            EXPECT_EQ(out.at(i % 4, i / 4)[0] > 100, i % 4 == c.liftedX && i / 4 == c.liftedY)
                << "offset " << c.offsetX << ", " << c.offsetY << " pixel " << i % 4 << ", " << i / 4;
    }
}

// Region origins plus the destination's size, and map offsets plus the
// region's origin, are summed in 64 bits. Near the int32 limits a region is
// refused rather than wrapped back into the blob, and the map is read at its
// far edge rather than wrapped to its near one. The map is 1 in its last
// column only.
TEST(ApplyBlobParam, RegionAndMapOffsetsAtTheInt32Limits) {
    MappedBlob m([](int x, int) { return x == 11; });
    test::Interleaved<uint8_t> out(2, 2);
    for (const BlobRegion r : {BlobRegion{0, INT32_MAX}, BlobRegion{INT32_MAX, 0}, BlobRegion{INT32_MAX - 1, INT32_MAX - 1},
                               BlobRegion{0, INT32_MIN}, BlobRegion{INT32_MIN, 0}, BlobRegion{7, 0}, BlobRegion{0, 11}})
        EXPECT_EQ(ApplyBlobParamLocal8(out.desc(), *m.blob, m.p, m.s, r), 0) << "region at " << r.left << ", " << r.top;
    for (const int32_t offset : {INT32_MAX, INT32_MIN}) {
        m.s.mapOffsetX = offset;
        ASSERT_EQ(ApplyBlobParamLocal8(out.desc(), *m.blob, m.p, m.s, BlobRegion{2, 5}), 1);
        for (int i = 0; i < 4; ++i) EXPECT_EQ(out.at(i % 2, i / 2)[0] > 100, offset == INT32_MAX) << "map offset " << offset;
    }
}

}  // namespace
}  // namespace lx
