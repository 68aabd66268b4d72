// SPDX-License-Identifier: MIT
// The cheap-first functions (FastLog ...) against the exact ones, bit for
// bit, on a few million arguments: the ranges the table builders use, dense
// around the places where the cheap evaluation changes its path (powers of
// two, the logarithm's nodes, 1, multiples of pi / 4, the domain limits), and
// random bit patterns of every kind. Also how often the exact function is
// needed: about one argument in 2^20, and never much more, or the speed is
// gone. The optimised build's exhaustive test (tests/math/exhaustive_math.cpp)
// tries every argument the library passes.
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
    bool (*cheap)(Arg, float*);
};
const Function<float> kLogF{"Log", FastLog, Log, CheapLog};
const Function<double> kLogToFloatF{"LogToFloat", FastLogToFloat, LogToFloat, CheapLogToFloat};
const Function<float> kPow10F{"Pow10", FastPow10, Pow10, CheapPow10};
const Function<float> kSinF{"Sin", FastSin, Sin, CheapSin};
const Function<float> kCosF{"Cos", FastCos, Cos, CheapCos};

// Tries arguments of one function and counts those the cheap evaluation
// leaves to the exact one; reports the first few wrong results.
template <class Arg>
class Sweep {
public:
    explicit Sweep(const Function<Arg>& f) : f_(f) {}
    ~Sweep() { EXPECT_EQ(wrong_, 0u) << f_.name << ": " << wrong_ << " of " << tried_ << " arguments differ"; }

    void Try(Arg x) {
        ++tried_;
        float cheap = 0.0f;
        if (!f_.cheap(x, &cheap)) ++declined_;
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
    uint64_t tried() const { return tried_; }
    uint64_t declined() const { return declined_; }

private:
    const Function<Arg>& f_;
    uint64_t tried_ = 0;
    uint64_t declined_ = 0;
    uint64_t wrong_ = 0;
};

// Random arguments in [lo, hi), `count` of them, and how many the cheap
// evaluation declined. Expected: count / 2^20 or so; 8 in a million is far
// above that and still fast.
template <class Arg>
void RandomIn(const Function<Arg>& f, Arg lo, Arg hi, int count, uint64_t seed) {
    std::mt19937_64 random(seed);
    std::uniform_real_distribution<double> uniform{double(lo), double(hi)};
    Sweep<Arg> sweep(f);
    for (int i = 0; i < count; ++i) sweep.Try(Arg(uniform(random)));
    EXPECT_LE(sweep.declined(), uint64_t(count) * 8 / 1000000 + 1) << f.name << " on [" << lo << ", " << hi << ")";
}

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

// The logarithms where the table builders call them (float levels in
// [1, 10], doubles 10 - (1 - t) g in [1, 10]) and where the reduction changes:
// around 1 (no node term; the result's magnitude falls with x - 1), every
// node edge and power of two (m halves, the exponent steps) and 10.
TEST(FastFloatMath, LogarithmsOnTheirRangesAndEdges) {
    RandomIn(kLogF, 1.0f, 16.0f, 1200000, 1);
    RandomIn(kLogToFloatF, 1.0, 10.0, 1200000, 2);
    RandomIn(kLogF, 0x1p-20f, 1.0f, 200000, 3);
    Sweep<float> log(kLogF);
    Sweep<double> logToFloat(kLogToFloatF);
    log.Around(1.0f, 20000);
    logToFloat.Around(1.0, 20000);
    for (int j = 0; j <= 96; ++j) {
        const double edge = 0.75 + (j - 0.5) / 128.0;  // where the nearest node changes
        for (const double scale : {0.5, 1.0, 2.0, 8.0}) {
            log.Around(float(edge * scale), 100);
            logToFloat.Around(edge * scale, 100);
        }
    }
    for (int e = -20; e <= 20; ++e)
        for (const double m : {1.0, 1.5})
            log.Around(float(std::ldexp(m, e)), 200), logToFloat.Around(std::ldexp(m, e), 200);
    log.Around(10.0f, 20000);
    logToFloat.Around(10.0, 20000);
    // Near 1 the logarithms of neighbouring floats are near simple binary
    // fractions (ln(1 - 2^-23) lies 2^-72 from a float midpoint, so it is
    // declined); still rare.
    EXPECT_LE(log.declined() + logToFloat.declined(), (log.tried() + logToFloat.tried()) / 10000);
}

// 10^u where the builders call it (u in [0, 1] and a little past), dense
// around the integers, where the result is exact, and the domain edge 4.
TEST(FastFloatMath, Pow10OnItsRangeAndEdges) {
    RandomIn(kPow10F, 0.0f, 1.01f, 1200000, 4);
    RandomIn(kPow10F, -4.0f, 4.0f, 300000, 5);
    Sweep<float> pow10(kPow10F);
    for (int n = -3; n <= 3; ++n) pow10.Around(float(n), 5000);
    for (int e = -149; e <= -10; e += 3) pow10.Around(std::ldexp(1.0f, e), 50);
    // 10^n is exact up to n = 10 and never a midpoint: nothing to decline.
    EXPECT_LE(pow10.declined(), 2u);
    Sweep<float> edges(kPow10F);  // beyond +-4 the exact function, by design
    for (const float e : {4.0f, -4.0f}) edges.Around(e, 1000);
}

// Sine and cosine on the builders' ranges (sine on [0, 2 pi), cosine on
// [-pi / 2, pi / 2]), tiny arguments, and around every multiple of pi / 4 up
// to the domain limit 1024: the quadrant changes there, and near multiples
// of pi / 2 the reduced argument is small.
TEST(FastFloatMath, SineAndCosineOnTheirRangesAndQuadrantEdges) {
    RandomIn(kSinF, 0.0f, 6.2832f, 1000000, 6);
    RandomIn(kCosF, -1.5708f, 1.5708f, 1000000, 7);
    RandomIn(kSinF, -1024.0f, 1024.0f, 100000, 8);
    RandomIn(kCosF, -1024.0f, 1024.0f, 100000, 9);
    Sweep<float> sin(kSinF), cos(kCosF);
    for (int k = -1303; k <= 1303; ++k) {  // 1303 pi / 4 = 1023.4
        const float x = float(k * 0.78539816339744831);
        sin.Around(x, k % 2 == 0 ? 24 : 8);
        cos.Around(x, k % 2 == 0 ? 24 : 8);
    }
    for (int e = -149; e <= -1; ++e) sin.Around(std::ldexp(1.0f, e), 20), cos.Around(std::ldexp(1.0f, e), 20);
    // Within 2^-20 of a multiple of pi / 2 the reduction is left to the exact
    // functions: up to 17 of the 49 floats around pi / 2, one or none from 8
    // up, about 0.2 % of this sweep.
    EXPECT_LE(sin.declined() + cos.declined(), sin.tried() / 200);
    Sweep<float> sinEdges(kSinF), cosEdges(kCosF);  // beyond +-1024 the exact functions, by design
    for (const float e : {1024.0f, -1024.0f}) sinEdges.Around(e, 100), cosEdges.Around(e, 100);
}

}  // namespace
}  // namespace lx::math
