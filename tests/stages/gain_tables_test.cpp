// SPDX-License-Identifier: MIT
// The gain table builders: worked values of each curve, black levels out of
// range, and the tables built with the fast kernels (cheap-first logarithm,
// power, sine and cosine) against those built with the exact functions.
#include <gtest/gtest.h>

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "simd/kernels.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/warm_tone.h"
#include "support/test_host.h"

namespace lx {
namespace {

using Build = std::function<void(float* primary, float* secondary)>;

struct Pair {
    std::vector<float> primary, secondary;
    Pair(int32_t levels, const std::function<int64_t(float*, float*)>& build) : primary(levels), secondary(levels) {
        EXPECT_EQ(build(primary.data(), secondary.data()), 1);
    }
    bool operator==(const Pair&) const = default;
};
Pair Log(int32_t black, int32_t strength, int32_t levels) {
    return Pair(levels, [&](float* p, float* s) { return BuildLogGainTables(p, s, black, 1, strength, 0.0f, levels); });
}
Pair LogExp(int32_t black, int32_t strength, float weight = 0.5f) {
    return Pair(256, [&](float* p, float* s) { return BuildLogExpGainTables(p, s, black, strength, weight, 256); });
}
Pair Knee(int32_t black, int32_t levels) {
    return Pair(levels, [&](float* p, float* s) { return BuildKneeGainTables(p, s, black, 1, 100, 0.0f, 3, 0.6f, levels); });
}

// Above 100 % the curve is built at half strength (integer halving: 150 and
// 151 both build at 75 %) and composed with itself in place, in increasing
// order, through truncated indices; the secondary table is the half-strength
// one, not composed. Output levels worked out in double precision: at 75 %,
// level 32 lifts to 60.87 and level 60 to 104.86, so the composed 32 gives
// 104.86. 16-bit levels above 65280 map below themselves and read entries
// that are already composed: 65535 -> 65418.4 -> 65280.
TEST(LogGainTables, StrengthAboveHundredComposesTheHalfCurve) {
    const struct { int32_t levels, at; float level; } anchors[] = {
        {256, 32, 104.864f},    {256, 128, 205.177f},    {256, 255, 255.0f},
        {65536, 8192, 27134.88f}, {65536, 49152, 59958.66f}, {65536, 65535, 65280.0f},
    };
    for (const int32_t levels : {256, 65536}) {
        const int32_t black = levels / 256 * 12;  // 12 and 3072
        const Pair at150 = Log(black, 150, levels), at75 = Log(black, 75, levels);
        for (const auto& a : anchors) {
            if (a.levels != levels) continue;
            EXPECT_NEAR(at150.primary[a.at] * float(a.at), a.level, levels == 256 ? 0.01 : 0.5)
                << levels << ": " << a.at;
        }
        EXPECT_EQ(Log(black, 151, levels).primary, at150.primary) << "151 builds at 75 % too";
        EXPECT_EQ(at150.secondary, at75.secondary);
        EXPECT_NE(at150.primary, at75.primary);
        // The start level's output truncates to 11, where the identity gives 11 back.
        if (levels == 256) {
            EXPECT_EQ(at150.primary[12], 11.0f / 12.0f);
        }
    }
}

// Black levels beyond levels - 2q use the tables of levels - 2q; negative
// ones start the curve at level 1 and stay finite.
TEST(LogGainTables, OutOfRangeBlackLevels) {
    for (const int32_t levels : {256, 65536}) {
        const int32_t top = levels - 2 * (levels / 256);
        EXPECT_EQ(Log(INT_MAX, 200, levels).primary, Log(top, 200, levels).primary);
        const Pair low = Log(INT_MIN, 200, levels);
        const auto finite = [](const std::vector<float>& t) { return std::all_of(t.begin(), t.end(), [](float g) { return std::isfinite(g); }); };
        EXPECT_TRUE(finite(low.primary) && finite(low.secondary)) << levels;
    }
}

// Levels are normalised by 255 and scaled back by 256: at strength 0 every
// gain is 256/255. Both curves map black and white to themselves, so the
// identity range and white keep 256/255 at any strength; 500 counts as 150.
TEST(LogExpGainTables, GainsCarry256Over255AndStrengthStopsAt150) {
    test::TestHost host;
    constexpr float kScale = 256.0f / 255.0f;  // 0x1.010102p+0
    const Pair flat = LogExp(0, 0, 0.0f);
    for (int i = 1; i < 256; ++i) ASSERT_TRUE(std::abs(flat.primary[i] - kScale) < 2e-7f && std::abs(flat.secondary[i] - kScale) < 2e-7f) << i;
    EXPECT_EQ(flat.primary[0], 1.0f);
    const Pair at150 = LogExp(10, 150);
    EXPECT_EQ(LogExp(10, 500), at150);
    EXPECT_EQ(at150.primary[255], kScale);
    EXPECT_EQ(at150.secondary[255], kScale);
    for (int i = 1; i < 10; ++i) EXPECT_EQ(at150.primary[i], kScale) << i;
    // 150 overshoots the pure log10 lift of strength 120.
    EXPECT_NEAR(at150.primary[100] * 100.0f, 182.40f, 0.01f);
    EXPECT_NEAR(LogExp(10, 120).primary[100] * 100.0f, 166.00f, 0.01f);
}

// The callers' constants (black 4 / 1024, blend 0, slope 0.6): identity up to
// the knee 87 / 22442, white pulled down to about 0.74; black levels past the
// highest the curve is finite for (254, 65024) use that one's tables.
TEST(KneeGainTables, KneeAndGainAtWhite) {
    test::TestHost host;
    const struct { int32_t levels, black, knee; float white; } cases[] = {
        {256, 4, 87, 0x1.7912acp-1f}, {65536, 1024, 22442, 0x1.795514p-1f}};
    for (const auto& c : cases) {
        const Pair t = Knee(c.black, c.levels);
        EXPECT_EQ(t.secondary[c.levels - 1], c.white);
        EXPECT_EQ(t.secondary[c.knee], 1.0f);
        EXPECT_LT(t.secondary[c.knee + 1], 1.0f);
        const int32_t top = c.levels - 2 * (c.levels / 256);
        const Pair atTop = Knee(top, c.levels);
        for (const int32_t black : {top + 1, c.levels - 1, INT32_MAX}) EXPECT_EQ(Knee(black, c.levels), atTop) << black;
    }
}

// Builds the pair with the plain kernels, then with the fast ones, and
// compares the bytes (NaN and the sign of zero included).
void ExpectSameTables(int32_t levels, const Build& build, const std::string& what) {
    std::vector<float> plainPrimary(levels, -1.0f), plainSecondary = plainPrimary, fastPrimary = plainPrimary,
                       fastSecondary = plainPrimary;
    simd::UseReferenceKernelsForTest(true);
    build(plainPrimary.data(), plainSecondary.data());
    simd::UseReferenceKernelsForTest(false);
    build(fastPrimary.data(), fastSecondary.data());
    const size_t bytes = sizeof(float) * size_t(levels);
    EXPECT_EQ(std::memcmp(plainPrimary.data(), fastPrimary.data(), bytes), 0) << what << ": primary";
    EXPECT_EQ(std::memcmp(plainSecondary.data(), fastSecondary.data(), bytes), 0) << what << ": secondary";
}

// Every 8-bit black level and one beyond each end; the 16-bit lists below
// hold the callers' 1024 and 3072, the ends of the range and beyond.
std::vector<int32_t> Blacks8() {
    std::vector<int32_t> b;
    for (int32_t black = -1; black <= 256; ++black) b.push_back(black);
    return b;
}

TEST(FastGainTables, LiftTablesMatchThePlainBuild) {
    test::TestHost host;
    using BuildAt = std::function<void(float*, float*, int32_t black, int32_t strength, int32_t levels)>;
    const struct {
        const char* name;
        int32_t levels;
        std::vector<int32_t> blacks, strengths;
        BuildAt build;
    } builders[] = {
        {"log", 256, Blacks8(), {0, 100, 150},
         [](float* p, float* s, int32_t b, int32_t st, int32_t n) { BuildLogGainTables(p, s, b, 1, st, 0.3f, n); }},
        {"log", 65536, {INT_MIN, -1, 0, 1, 2, 255, 256, 1024, 3072, 12345, 32768, 65023, 65024, 65025}, {100, 150},
         [](float* p, float* s, int32_t b, int32_t st, int32_t n) { BuildLogGainTables(p, s, b, 1, st, 0.0f, n); }},
        {"knee", 256, Blacks8(), {0},
         [](float* p, float* s, int32_t b, int32_t, int32_t n) { BuildKneeGainTables(p, s, b, 1, 100, 0.0f, 3, 0.6f, n); }},
        {"knee", 65536, {0, 1024, 40000, 65024}, {0},
         [](float* p, float* s, int32_t b, int32_t, int32_t n) { BuildKneeGainTables(p, s, b, 1, 100, 0.25f, 3, 0.6f, n); }},
        {"log/exp", 256, Blacks8(), {-30, 120, 200},
         [](float* p, float* s, int32_t b, int32_t st, int32_t n) { BuildLogExpGainTables(p, s, b, st, 0.5f, n); }},
        {"log/exp", 65536, {-1, 0, 1, 1024, 3072, 30000, 65533, 65534, 65535}, {120},
         [](float* p, float* s, int32_t b, int32_t st, int32_t n) { BuildLogExpGainTables(p, s, b, st, 0.5f, n); }},
    };
    for (const auto& b : builders)
        for (const int32_t black : b.blacks)
            for (const int32_t strength : b.strengths)
                ExpectSameTables(b.levels, [&](float* p, float* s) { b.build(p, s, black, strength, b.levels); },
                                 std::string(b.name) + " levels " + std::to_string(b.levels) + ", black " +
                                     std::to_string(black) + ", strength " + std::to_string(strength));
}

// The warm tone ramps and percentage tables, and cosine ramps and notches of
// other bounds (spans from 1 to 65536 levels, bounds in and out of order).
TEST(FastGainTables, WarmToneTablesMatchThePlainBuild) {
    ExpectSameTables(256, [](float* p, float*) { MakeWarmToneRamp8(p); }, "ramp 8");
    ExpectSameTables(65536, [](float* p, float*) { MakeWarmToneRamp16(p); }, "ramp 16");
    ExpectSameTables(
        101,
        [](float* p, float* s) {
            WarmToneTables tables;
            MakeWarmToneTables(nullptr, &tables);
            std::memcpy(p, tables.hueFade, sizeof tables.hueFade);
            std::memcpy(s, tables.notch, sizeof tables.notch);
        },
        "hue fade and notch");
    const struct { int32_t lo, hi; } ramps[] = {{0, 65535}, {0, 0}, {100, 101}, {30000, 20000}, {-5, 40000}};
    for (const auto& r : ramps)
        ExpectSameTables(65536, [&](float* p, float*) { CosRamp(r.lo, r.hi, p, 65536); },
                         "ramp " + std::to_string(r.lo) + ".." + std::to_string(r.hi));
    for (float a = 0.0f; a <= 1.0f; a += 0.125f)
        for (float c = 0.0f; c <= 1.0f; c += 0.125f)
            ExpectSameTables(101, [&](float* p, float*) { CosNotch(a, 0.5f, c, p); },
                             "notch " + std::to_string(a) + ", " + std::to_string(c));
}

}  // namespace
}  // namespace lx
