// SPDX-License-Identifier: MIT
// The cheap-first functions (FastLog ...) against the exact ones, bit for
// bit, on random bit patterns of every kind and the special values. The
// arguments the library passes, and how often the exact function is needed,
// are tried by the optimised build's tests/math/exhaustive_math.cpp.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <limits>
#include <random>
#include <vector>

#include "math/float_math.h"

namespace lx::math {
namespace {

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
    // With the worked values of float_math_test.cpp, cheap path or not.
    const float inf = std::numeric_limits<float>::infinity(), nan = std::numeric_limits<float>::quiet_NaN();
    const std::vector<float> specials = {0.0f, -0.0f, 1.0f, -1.0f, 10.0f, inf, -inf, nan, -nan, 0x1p-149f, -0x1p-149f,
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
}

}  // namespace
}  // namespace lx::math
