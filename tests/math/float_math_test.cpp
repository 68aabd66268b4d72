// SPDX-License-Identifier: MIT
// Worked values of lx::math (the exact cases, the special values and
// arguments where a platform's float functions round the other way), and
// the cheap-first functions (FastLog ...) against the exact ones, bit for
// bit, on random bit patterns of every kind and the special values. The
// proof of correct rounding on the arguments the library passes, and how
// often the exact function is needed, is tests/math/exhaustive_math.cpp (run
// by the optimised test build).
#include "math/float_math.h"

#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

namespace lx::math {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float LogOfDouble(float x) { return LogToFloat(double(x)); }

TEST(FloatMath, WorkedExactAndSpecialValues) {
    const struct { const char* name; float (*f)(float); float x, expected; } cases[] = {
        // Exact where the result is.
        {"Log", Log, 1.0f, 0.0f}, {"LogToFloat", LogOfDouble, 1.0f, 0.0f}, {"Exp", Exp, 0.0f, 1.0f},
        {"Pow10", Pow10, 0.0f, 1.0f}, {"Pow10", Pow10, 1.0f, 10.0f}, {"Pow10", Pow10, 2.0f, 100.0f},
        {"Sin", Sin, 0.0f, 0.0f}, {"Cos", Cos, 0.0f, 1.0f},
        // Rounded to nearest: ln 10 = 2.302585093, e^-1 = 0.3678794412,
        // 10^0.5 = 3.16227766, the chroma grid's decay e^(-0.6931472 / 1.5).
        {"Log", Log, 10.0f, 0x1.26bb1cp+1f}, {"LogToFloat", LogOfDouble, 10.0f, 0x1.26bb1cp+1f},
        {"Exp", Exp, -1.0f, 0x1.78b564p-2f}, {"Pow10", Pow10, 0.5f, 0x1.94c584p+1f},
        {"Exp", Exp, -0.6931472f / 1.5f, 0x1.428a30p-1f},
        // Around pi / 2 and pi the small results keep their relative accuracy.
        {"Sin", Sin, 1.5707964f, 1.0f}, {"Cos", Cos, 1.5707964f, -0x1.777a5cp-25f},
        {"Sin", Sin, 0x1.921fb6p+1f, -0x1.777a5cp-24f},
        // glibc's sinf gives 0x1.61246cp-10 for the first: one such bit in a
        // gain table changes a corrected picture.
        {"Sin", Sin, 0x1.612472p-10f, 0x1.61246ap-10f}, {"Sin", Sin, 0x1.800002p-10f, 0x1.7ffff8p-10f},
        // Special values; Exp(-inf) is the smoothing decay of radius 0.
        {"Log", Log, 0.0f, -kInf}, {"Log", Log, -1.0f, kNaN}, {"Log", Log, kInf, kInf},
        {"LogToFloat", LogOfDouble, 0.0f, -kInf}, {"Exp", Exp, -kInf, 0.0f}, {"Exp", Exp, -200.0f, 0.0f},
        {"Exp", Exp, 100.0f, kInf}, {"Pow10", Pow10, -50.0f, 0.0f}, {"Pow10", Pow10, 40.0f, kInf},
        {"Sin", Sin, kInf, kNaN}, {"Cos", Cos, kNaN, kNaN}, {"Cos", Cos, -0.75f, Cos(0.75f)},
    };
    for (const auto& c : cases) {
        const float got = c.f(c.x);
        if (std::isnan(c.expected)) EXPECT_TRUE(std::isnan(got)) << c.name << "(" << c.x << ")";
        else EXPECT_EQ(got, c.expected) << c.name << std::hexfloat << "(" << c.x << ")";
    }
}

// Compares fast and exact on every argument, the bits (sign of zero and NaN
// included); reports the first few that differ.
template <class Arg>
void ExpectSameBits(const char* name, float (*fast)(Arg), float (*exact)(Arg), const std::vector<Arg>& args) {
    int wrong = 0;
    for (const Arg x : args) {
        const float f = fast(x), e = exact(x);
        if (std::bit_cast<uint32_t>(f) != std::bit_cast<uint32_t>(e) && ++wrong <= 10)
            ADD_FAILURE() << name << std::hexfloat << "(" << x << "): fast " << f << ", exact " << e;
    }
    EXPECT_EQ(wrong, 0) << name << ": of " << args.size() << " arguments";
}

// Each of `at` and the 3 consecutive values of Arg on either side of it.
template <class Arg, class At>
void AddAround(std::vector<Arg>& args, const std::vector<At>& at) {
    constexpr Arg inf = std::numeric_limits<Arg>::infinity();
    for (const At centre : at) {
        Arg down = Arg(centre), up = Arg(centre);
        args.push_back(down);
        for (int i = 0; i < 3; ++i) args.insert(args.end(), {down = std::nextafter(down, -inf), up = std::nextafter(up, inf)});
    }
}

// Every bit pattern is a possible argument: NaNs, infinities, negatives,
// subnormals and huge values (beyond 2^31 quarter turns, where the sine's
// turn count passes int32; the sanitizer build checks the conversions) go
// to the exact function and must come back the same.
TEST(FastFloatMath, SameBitsOnRandomBitPatternsAndSpecialValues) {
    std::mt19937_64 random(17);
    std::vector<float> f;
    std::vector<double> d;
    for (int i = 0; i < 150000; ++i) {
        const uint64_t bits = random();
        f.push_back(std::bit_cast<float>(uint32_t(bits)));
        d.push_back(std::bit_cast<double>(bits));
    }
    // With the worked values above, cheap path or not.
    const std::vector<float> specials = {0.0f, -0.0f, 1.0f, -1.0f, 10.0f, kInf, -kInf, kNaN, -kNaN, 0x1p-149f, -0x1p-149f,
                                         0x1p-126f, std::numeric_limits<float>::max(), 4.0f, -4.0f, 1024.0f, -1024.0f,
                                         0.5f, 2.0f, 0x1.612472p-10f, 0x1.921fb6p+1f, 1.5707964f, 0x1p32f, -0x1p40f};
    AddAround(f, specials);
    AddAround(d, specials);
    // The first normal double (below it the exact path) and the largest.
    AddAround(d, std::vector<double>{0x1p-1022, std::numeric_limits<double>::max()});
    ExpectSameBits("Log", FastLog, Log, f);
    ExpectSameBits("Pow10", FastPow10, Pow10, f);
    ExpectSameBits("Sin", FastSin, Sin, f);
    ExpectSameBits("Cos", FastCos, Cos, f);
    ExpectSameBits("LogToFloat", FastLogToFloat, LogToFloat, d);
    // Huge arguments stay within [-1, 1] while the reduction keeps a
    // sensible remainder, and are NaN for the largest floats.
    for (const float x : {0x1p32f, -0x1p40f, 3.4e38f, -std::numeric_limits<float>::max()})
        for (const float v : {Sin(x), Cos(x)}) EXPECT_TRUE(std::isnan(v) || std::fabs(v) <= 1.0f) << x;
    EXPECT_LE(std::fabs(Sin(0x1p32f)), 1.0f);
}

}  // namespace
}  // namespace lx::math
