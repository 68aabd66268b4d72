// SPDX-License-Identifier: MIT
// The table builders with the fast kernels (cheap-first logarithm, power,
// sine and cosine) against the plain ones (the exact functions): every entry
// the same bits, over black levels (which the maths functions' arguments
// depend on), strengths and bounds, 8 and 16 bits.
#include <gtest/gtest.h>

#include <climits>
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

// The fast twins back on at the end of a test, whatever happened in it.
struct FastTwinsRestored {
    ~FastTwinsRestored() { simd::UseReferenceKernelsForTest(false); }
};

using Build = std::function<void(float* primary, float* secondary)>;

// Builds the pair with the plain kernels, then with the fast ones, and
// compares the bytes (NaN and the sign of zero included).
void ExpectSameTables(int32_t levels, const Build& build, const std::string& what) {
    const FastTwinsRestored restore;
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
