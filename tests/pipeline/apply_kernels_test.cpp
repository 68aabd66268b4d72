// SPDX-License-Identifier: MIT
// The apply pipelines' per-row kernels against their plain forms, bit for
// bit on every SIMD target, on the cases the rows test does not reach: edge
// levels steps, base maps read at other scales and offsets (and off their
// edges), and the streaming copy, which only destinations of 32 MB and more
// take; and the base map's row reader against SampleBaseMap.
#include <gtest/gtest.h>

#include <algorithm>
#include <bit>
#include <cstdint>
#include <limits>
#include <random>
#include <string>
#include <type_traits>
#include <vector>

#include "api/sample_base_map.h"
#include "host/host_buffers.h"
#include "pipeline/base_map_row.h"
#include "pipeline/levels_step_twins.h"
#include "pipeline/row_copy_twins.h"
#include "pipeline/tone_map_step_twins.h"
#include "simd/byte_planes.h"
#include "simd/gather_pairs.h"
#include "support/simd_targets.h"
#include "support/test_host.h"

namespace lx {
namespace {

constexpr int32_t kWidths[] = {1, 3, 7, 16, 31, 65, 130};

// A blob-layout row source (blue first, three samples per pixel) of w x 2
// pixels, rows padded by 5 samples; row 1 is the one levelled.
template <class T>
struct BlobRows {
    int32_t w;
    std::vector<T> px;
    BlobRows(int32_t width, std::mt19937& rng) : w(width), px(size_t(3 * width + 5) * 2) {
        const uint32_t top = sizeof(T) == 1 ? 256 : 65536;
        for (T& s : px) s = T(rng() % 8 == 0 ? top - 1 - rng() % 4 : rng() % top);  // many near the top
    }
    ImageView<const T> View() const { return {{&px[2], &px[1], &px[0]}, 3 * int64_t{w} + 5, 3, w, 2}; }
};

// `wide` steps push the 16-bit products toward 2^30 (scales and tints near
// 16000, black levels up to half the range: products of either sign).
template <class T>
LevelsStep<T> Step(std::mt19937& rng, bool tinted, bool raise, bool wide = false) {
    const int64_t full = SampleDepth<T>::kFull;
    if (wide) {
        const int64_t tint[3] = {15000 + int64_t(rng() % 1000), 16000, 14000 + int64_t(rng() % 2000)};
        return LevelsStep<T>(int32_t(rng() % (full / 2)), int64_t(rng() % 9) - 4, 15000 + int64_t(rng() % 1000), tint,
                             tinted, raise);
    }
    const int64_t tint[3] = {700 + int64_t(rng() % 900), 1000, 500 + int64_t(rng() % 1200)};
    const int32_t black = int32_t(rng() % (full / 8));
    return LevelsStep<T>(black, int64_t(rng() % (full / 10)), 900 + int64_t(rng() % 600), tint, tinted, raise);
}

// The levels of one row, planar and interleaved, against the plain step
// (the 8-bit fast form reads LevelsTable8): tinted and untinted random steps,
// with and without raising negative differences, and edge steps whose
// products leave the int32 lanes (a scale over the range, zero, negative and
// the largest tint factors). The values alone, from a row that is not the
// first, must not write past the row.
TEST(ApplyKernels, LevelRowsMatch) {
    std::mt19937 rng(3);
    // Black level, black point, scale, tint factors.
    const int64_t edges[4][6] = {{3, -20, 255000, 1000, 1000, 1000}, {9, 0, 1000, 0, -500, 2500},
                                 {40, 3, 1180, 1600, 800, 399}, {0, 0, 1000, 8388607, 1000, 1}};
    for (int run = 0; run < 32; ++run) {
        const int32_t w = kWidths[run % 7];
        const int64_t* e = edges[(run >> 2) & 3];
        const bool tinted = run & 1, raise = run & 2, wide = run & 4, interleaved = run & 8, edge = run >= 16;
        const BlobRows<uint8_t> s8(w, rng);
        const BlobRows<uint16_t> s16(w, rng);
        const LevelsStep<uint8_t> step8 =
            edge ? LevelsStep<uint8_t>(int32_t(e[0]), e[1], e[2], e + 3, tinted, raise) : Step<uint8_t>(rng, tinted, raise);
        const LevelsStep<uint16_t> step16 = edge ? LevelsStep<uint16_t>(int32_t(e[0]), e[1], e[2], e + 3, tinted, raise)
                                                 : Step<uint16_t>(rng, tinted, raise, wide);
        const LevelsTable8 table(step8);
        const auto out = [w, interleaved](auto& v) {
            using T = std::remove_reference_t<decltype(v[0])>;
            if (interleaved) return ImageView<T>{{v.data(), v.data() + 1, v.data() + 2}, 3 * int64_t{w}, 3, w, 1};
            return ImageView<T>{{v.data(), v.data() + w, v.data() + 2 * w}, w, 1, w, 1};
        };
        std::vector<uint8_t> want8(3 * size_t(w));
        std::vector<uint16_t> want16(3 * size_t(w));
        std::vector<float> wantV8(w + 1, -1.0f), wantV16(w + 1, -1.0f);
        LevelRow<uint8_t>(step8, s8.View(), 1, out(want8), wantV8.data());
        LevelRow<uint16_t>(step16, s16.View(), 1, out(want16), wantV16.data());
        test::ForEachSimdTarget([&](const std::string& target) {
            SCOPED_TRACE(testing::Message() << target << ", width " << w << ", run " << run);
            std::vector<uint8_t> got8(want8.size(), 9);
            std::vector<uint16_t> got16(want16.size(), 9);
            std::vector<float> v8(w + 1, -1.0f), v16(w + 1, -1.0f), only8 = v8, only16 = v16;
            LevelRow8Fast(table, s8.View(), 1, out(got8), v8.data());
            LevelRow16Fast(step16, s16.View(), 1, out(got16), v16.data());
            LevelValues8Fast(table, s8.View(), 1, w, only8.data());
            LevelValues16Fast(step16, s16.View(), 1, w, only16.data());
            EXPECT_EQ(got8, want8);
            EXPECT_EQ(got16, want16);
            for (const auto* v : {&v8, &only8}) EXPECT_EQ(*v, wantV8);
            for (const auto* v : {&v16, &only16}) EXPECT_EQ(*v, wantV16);
        });
    }
}

// The local tone map reads the base map directly where a pixel falls on a
// map column (scale 1, inside the map) and interpolates elsewhere: offsets
// that start left of the map and run past its right edge, rows above and
// below it, other scales, a flat range, and a scale of 0, where every row
// reads as 0 (its row coordinate is not finite).
TEST(ApplyKernels, ToneMapRowsMatchAtEveryScaleAndOffset) {
    std::mt19937 rng(5);
    // Wide enough for runs of 64 map columns inside it.
    const int32_t mw = 120, mh = 9;
    std::vector<float> map(size_t(mw) * mh);
    for (float& m : map) m = float(rng() % 2000) * 0.37f - 300.0f;
    std::vector<float> primary(65536), secondary(65536);
    for (size_t i = 0; i < primary.size(); ++i)
        primary[i] = 0.5f + float(rng() % 1000) * 0.002f, secondary[i] = 0.8f + float(rng() % 1000) * 0.0007f;
    std::vector<uint64_t> pairs(65536);  // the first 256 serve 8-bit levels
    simd::MakeGatherPairs(secondary.data(), primary.data(), 65536, pairs.data());
    uint8_t bytes[8][256];  // the 8-bit levels' tables as byte planes
    simd::SplitIntoBytePlanes(secondary.data(), bytes);
    simd::SplitIntoBytePlanes(primary.data(), bytes + 4);
    const GainForms pairForms{pairs.data()}, byteForms{pairs.data(), bytes, bytes + 4};
    const struct { float scale; int32_t ox, oy; bool flat; } cases[] = {
        {1.0f, 0, 0, false}, {1.0f, -13, 2, false}, {1.0f, 25, -3, false}, {1.0f, 3, 12, false}, {2.5f, 4, 1, false},
        {0.75f, -2, 0, false}, {1.0f, 0, 4, true}, {1.0f, 2147483600, 0, false}, {0.0f, 384, 0, false}};
    for (const auto& c : cases) {
        BaseMapBlend b;
        b.map = map.data(), b.mapWidth = mw, b.mapHeight = mh, b.scale = c.scale, b.offsetX = c.ox, b.offsetY = c.oy;
        b.low = -20.0f, b.q = c.flat ? 0.0f : 1.0f / 310.0f, b.flatRange = c.flat;
        for (const int32_t w : {1, 7, 31, 65, 130, 200}) {
            std::vector<float> values(w);
            for (float& v : values) v = float(rng() % 65281);
            for (int32_t y : {0, 3, 8}) {
                auto want8 = values, want16 = values, wantG = values;
                for (float& v : want8) v = float(int32_t(v) % 256);
                auto in8 = want8;
                ToneMapLocalRowPlain<uint8_t>(want8.data(), w, y, primary.data(), secondary.data(), b);
                ToneMapLocalRowPlain<uint16_t>(want16.data(), w, y, primary.data(), secondary.data(), b);
                ToneMapGlobalRowPlain<uint16_t>(wantG.data(), w, primary.data());
                test::ForEachSimdTarget([&](const std::string& target) {
                    SCOPED_TRACE(testing::Message() << target << ", scale " << c.scale << ", offset " << c.ox
                                                    << ", row " << y << ", width " << w);
                    // Gains looked up one by one, gathered as pairs, and (8-bit
                    // levels) read from byte planes, as the pipeline does.
                    const GainForms forms[] = {{}, pairForms, byteForms};
                    for (int f = 0; f < 3; ++f) {
                        auto got8 = in8, got16 = values;
                        ToneMapLocalRowFast<uint8_t>(got8.data(), w, y, primary.data(), secondary.data(), b, forms[f]);
                        EXPECT_EQ(got8, want8) << "forms " << f;
                        if (f == 2) continue;
                        ToneMapLocalRowFast<uint16_t>(got16.data(), w, y, primary.data(), secondary.data(), b, forms[f]);
                        EXPECT_EQ(got16, want16) << "forms " << f;
                    }
                    auto gotG = values;
                    ToneMapGlobalRowFast<uint16_t>(gotG.data(), w, primary.data());
                    EXPECT_EQ(gotG, wantG);
                });
            }
        }
    }
}

// The copy into interleaved pixels with streaming stores: every alignment
// of the destination (the aligned middle of a row starts at a different
// pixel), rows shorter and longer than a vector's worth of pixels, padded
// rows, the samples around the destination untouched.
TEST(ApplyKernels, StreamingCopyMatchesAtEveryAlignment) {
    std::mt19937 rng(13);
    const auto check = [&]<class T>(T) {
        for (const int32_t w : {1, 31, 64, 65, 127, 300}) {
            const int32_t h = 3;
            const int64_t stride = 3 * int64_t{w} + 7;
            std::vector<T> planes(size_t(w) * h * 3);
            for (T& v : planes) v = T(rng());
            const int64_t plane = int64_t{w} * h;
            const ImageView<const T> from{{planes.data(), planes.data() + plane, planes.data() + 2 * plane}, w, 1, w, h};
            for (int32_t shift = 0; shift < 64; ++shift) {
                std::vector<T> want(size_t(stride * h + 64), T(5)), got = want;
                const auto view = [&](std::vector<T>& v) {
                    T* b = v.data() + shift;
                    return ImageView<T>{{b + 2, b + 1, b}, stride, 3, w, h};
                };
                CopyPixelsPlain<T>(from, view(want));
                test::ForEachSimdTarget([&](const std::string& target) {
                    std::fill(got.begin(), got.end(), T(5));
                    CopyPixelsFast<T>(from, view(got), Stores::kStreaming);
                    FenceStreamingStores();
                    ASSERT_EQ(got, want) << target << ", " << sizeof(T) * 8 << "-bit, width " << w << ", shift " << shift;
                });
            }
        }
    };
    check(uint8_t{});
    check(uint16_t{});
}

// The row reader must give SampleBaseMap's value bit for bit (signed zeros
// included) on odd map sizes, for scales that interpolate, repeat edges,
// saturate or give no finite coordinate, and offsets at the int32 limits.
TEST(BaseMapRow, ReadsAsSampleBaseMapBitForBit) {
    test::TestHost host;
    const float inf = std::numeric_limits<float>::infinity();
    const float nan = std::numeric_limits<float>::quiet_NaN();
    const float scales[] = {1.0f, 0.5f, 0.37f, 1.7f, 3.0f, 2.5e-6f, 1e30f, -1.0f, -0.6f, 0.0f, inf, nan};
    const struct { int32_t x, y; } offsets[] = {{0, 0},   {-1, -1},  {-40, 3}, {3, -40}, {12, 5}, {INT32_MAX, 0},
                                                {INT32_MIN, INT32_MIN}, {0, INT32_MAX}};
    const struct { int32_t w, h; } sizes[] = {{1, 1}, {1, 7}, {7, 1}, {5, 3}, {37, 23}};

    std::mt19937 rng(7);
    std::uniform_real_distribution<float> value(-300.0f, 300.0f);
    for (const auto& size : sizes) {
        HostBuffer map = HostBuffer::Allocate(int64_t{size.w} * size.h * 4);
        ASSERT_TRUE(map);
        float* m = map.data<float>();
        for (int64_t i = 0; i < int64_t{size.w} * size.h; ++i) m[i] = i % 5 == 0 ? (i % 2 ? -0.0f : 0.0f) : value(rng);
        for (float scale : scales)
            for (const auto& o : offsets)
                for (int32_t y = -2; y < size.h + 6; ++y) {
                    const BaseMapRow row(m, scale, size.w, size.h, o.x, o.y, y);
                    for (int32_t x = -2; x < size.w + 6; ++x) {
                        const float want = SampleBaseMap(map.get(), scale, size.w, size.h, o.x, o.y, x, y);
                        ASSERT_EQ(std::bit_cast<uint32_t>(row.At(x)), std::bit_cast<uint32_t>(want))
                            << size.w << "x" << size.h << " scale " << scale << " offset (" << o.x << ", " << o.y
                            << ") at (" << x << ", " << y << ")";
                    }
                }
    }
}

}  // namespace
}  // namespace lx
