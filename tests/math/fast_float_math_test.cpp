// SPDX-License-Identifier: MIT
// The cheap-first functions (FastLog ...) against the exact ones, bit for
// bit, on random bit patterns of every kind and the special values. The
// arguments the library passes, and how often the exact function is needed,
// are tried by the optimised build's tests/math/exhaustive_math.cpp.
#include <gtest/gtest.h>

#include <bit>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <limits>
#include <random>

#include "math/float_math.h"

namespace lx::math {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

template <class Arg>
struct Function {
    const char* name;
    float (*fast)(Arg);
    float (*exact)(Arg);
};
const Function<float> kLogF{"Log", FastLog, Log};
const Function<double> kLogToFloatF{"LogToFloat", FastLogToFloat, LogToFloat};
const Function<float> kPow10F{"Pow10", FastPow10, Pow10};
const Function<float> kSinF{"Sin", FastSin, Sin};
const Function<float> kCosF{"Cos", FastCos, Cos};

// Tries arguments of one function; reports the first few wrong results.
template <class Arg>
class Sweep {
public:
    explicit Sweep(const Function<Arg>& f) : f_(f) {}
    ~Sweep() { EXPECT_EQ(wrong_, 0u) << f_.name << ": " << wrong_ << " of " << tried_ << " arguments differ"; }

    void Try(Arg x) {
        ++tried_;
        const float fast = f_.fast(x);
        const float exact = f_.exact(x);
        if (std::memcmp(&fast, &exact, sizeof fast) != 0 && ++wrong_ <= 10)
            ADD_FAILURE() << f_.name << std::hexfloat << "(" << x << "): fast " << fast << ", exact " << exact;
    }
    // `count` consecutive values of Arg on either side of x, x included.
    void Around(Arg x, int count) {
        Arg down = x, up = x;
        Try(x);
        for (int i = 0; i < count; ++i) {
            down = std::nextafter(down, Arg(-kInf));
            up = std::nextafter(up, Arg(kInf));
            Try(down);
            Try(up);
        }
    }

private:
    const Function<Arg>& f_;
    uint64_t tried_ = 0;
    uint64_t wrong_ = 0;
};

// Every bit pattern is a possible argument: NaNs, infinities, negatives,
// subnormals and huge values go to the exact function and must come back
// the same, sign of zero and NaN included.
TEST(FastFloatMath, SameBitsOnRandomBitPatternsAndSpecialValues) {
    std::mt19937_64 random(17);
    Sweep<float> log(kLogF), pow10(kPow10F), sin(kSinF), cos(kCosF);
    Sweep<double> logToFloat(kLogToFloatF);
    for (int i = 0; i < 150000; ++i) {
        const uint64_t bits = random();
        const float x = std::bit_cast<float>(uint32_t(bits));
        log.Try(x), pow10.Try(x), sin.Try(x), cos.Try(x);
        logToFloat.Try(std::bit_cast<double>(bits));
    }
    const float nan = std::numeric_limits<float>::quiet_NaN();
    // With the worked values of float_math_test.cpp, cheap path or not.
    const float specials[] = {0.0f, -0.0f, 1.0f, -1.0f, 10.0f, kInf, -kInf, nan, -nan, 0x1p-149f, -0x1p-149f,
                              0x1p-126f, std::numeric_limits<float>::max(), 4.0f, -4.0f, 1024.0f, -1024.0f,
                              0.5f, 2.0f, 0x1.612472p-10f, 0x1.921fb6p+1f, 1.5707964f};
    for (const float x : specials)
        log.Around(x, 3), pow10.Around(x, 3), sin.Around(x, 3), cos.Around(x, 3), logToFloat.Around(double(x), 3);
    logToFloat.Around(0x1p-1022, 3);  // the first normal double; below it the exact path
    logToFloat.Around(std::numeric_limits<double>::max(), 3);
    // Beyond 2^31 quarter turns the reduction's turn count passes int32: the
    // results stay defined (the sanitizer build checks the conversions),
    // within [-1, 1] while the reduction keeps a sensible remainder and NaN
    // for the largest floats.
    for (const float x : {0x1p32f, -0x1p40f, 3.4e38f, -std::numeric_limits<float>::max()}) {
        const float s = Sin(x), c = Cos(x);
        EXPECT_TRUE(std::isnan(s) || std::fabs(s) <= 1.0f) << x;
        EXPECT_TRUE(std::isnan(c) || std::fabs(c) <= 1.0f) << x;
    }
    EXPECT_LE(std::fabs(Sin(0x1p32f)), 1.0f);
}

}  // namespace
}  // namespace lx::math
