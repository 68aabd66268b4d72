// SPDX-License-Identifier: MIT
#include "math/float_math.h"

#include <bit>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <limits>

#include "math/double_double.h"

namespace lx::math {
namespace {

using dd::Add;
using dd::DD;
using dd::Div;
using dd::Mul;
using dd::Neg;
using dd::TwoProd;
using dd::TwoSum;

constexpr DD kLn2{0x1.62e42fefa39efp-1, 0x1.abc9e3b39803fp-56};
constexpr DD kLn10{0x1.26bb1bbb55516p+1, -0x1.f48ad494ea3e9p-53};
// ln 2 / 128 in three parts. The first has 42 significant bits, so k times it
// is exact for |k| < 2^11; the three together carry about 160 bits.
constexpr double kLn2By128A = 0x1.62e42fefa38p-8;
constexpr double kLn2By128B = 0x1.ef35793c7673p-52;
constexpr double kLn2By128C = 0x1.f97b57a079a19p-110;
// pi / 2 likewise; the first part has 33 bits: k times it is exact for
// |k| < 2^20.
constexpr double kHalfPiA = 0x1.921fb544p+0;
constexpr double kHalfPiB = 0x1.0b4611a626331p-34;
constexpr double kHalfPiC = 0x1.1701b839a252p-88;

constexpr double kInvLn2Times128 = 184.6649652337873;  // 128 / ln 2, only to pick k
constexpr double kTwoByPi = 0.6366197723675814;        // 2 / pi, only to pick k

// ---- tables, computed by the compiler ---------------------------------------

// For the nodes c = 0.75 + j / 128, j = 0..96: the inverse 1/c rounded to a
// multiple of 2^-8, and -ln of that inverse, by -ln v = -2 atanh(s),
// s = (v - 1) / (v + 1), |s| <= 0.2: 30 terms leave less than 2^-130.
struct LogNodes {
    double inverse[97];
    DD minusLogInverse[97];
};
constexpr LogNodes MakeLogNodes() {
    LogNodes t{};
    for (int j = 0; j < 97; ++j) {
        const double c = 0.75 + j / 128.0;
        const double v = double(int(256.0 / c + 0.5)) / 256.0;
        const DD s = Div(DD{v - 1.0, 0.0}, DD{v + 1.0, 0.0});
        const DD s2 = Mul(s, s);
        DD sum{};
        for (int n = 29; n >= 0; --n) sum = Add(Div(DD{1.0, 0.0}, 2.0 * n + 1.0), Mul(sum, s2));
        t.inverse[j] = v;
        t.minusLogInverse[j] = Mul(Mul(s, sum), -2.0);
    }
    t.minusLogInverse[32] = DD{};  // c = 1, inverse 1: exactly 0, so that Log(1) is exactly 0
    return t;
}
constexpr LogNodes kLogNodes = MakeLogNodes();

// 2^(j / 128), j = 0..127, by the exponential series of j ln 2 / 128 <= 0.69:
// 30 terms leave less than 2^-130.
struct ExpNodes {
    DD v[128];
};
constexpr ExpNodes MakeExpNodes() {
    ExpNodes t{};
    for (int j = 0; j < 128; ++j) {
        const DD y = Div(Mul(kLn2, double(j)), 128.0);
        DD sum{1.0, 0.0};
        DD term{1.0, 0.0};
        for (int n = 1; n < 30; ++n) {
            term = Div(Mul(term, y), double(n));
            sum = Add(sum, term);
        }
        t.v[j] = sum;
    }
    return t;
}
constexpr ExpNodes kExpNodes = MakeExpNodes();

// Taylor coefficients 1/(2n+1)! (sine) and 1/(2n)! (cosine), alternating.
struct Series {
    DD sine[12];
    DD cosine[13];
};
constexpr Series MakeSeries() {
    Series t{};
    DD factorial{1.0, 0.0};  // 1/k!
    for (int k = 0; k <= 25; ++k) {
        if (k > 0) factorial = Div(factorial, double(k));
        const DD signedTerm = (k / 2) % 2 == 0 ? factorial : Neg(factorial);
        if (k % 2 == 1 && k / 2 < 12) t.sine[k / 2] = signedTerm;
        if (k % 2 == 0 && k / 2 < 13) t.cosine[k / 2] = signedTerm;
    }
    return t;
}
constexpr Series kSeries = MakeSeries();

// ---- the cores --------------------------------------------------------------

// 2^q for -1022 <= q <= 1023, by its bits.
double TwoTo(int32_t q) { return std::bit_cast<double>(uint64_t(1023 + q) << 52); }

// ln x for a positive normal finite double. x = 2^e m with m in [0.75, 1.5);
// at the nearest node, m v = 1 + r exactly (v the node's short inverse,
// |r| < 2^-7.2); ln x = e ln 2 - ln v + log1p(r), log1p by its series to
// r^12 with r - r^2 / 2 in double-double (the rest is below 2^-21 of r).
DD LogCore(double x) {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    int32_t e = int32_t(bits >> 52) - 1023;
    double m = std::bit_cast<double>((bits & 0x000fffffffffffffu) | 0x3ff0000000000000u);
    if (m >= 1.5) {
        m *= 0.5;
        ++e;
    }
    const int32_t j = int32_t((m - 0.75) * 128.0 + 0.5);
    const DD p = TwoProd(m, kLogNodes.inverse[j]);
    const DD r = TwoSum(p.hi - 1.0, p.lo);  // p.hi - 1 is exact: p.hi is within 2^-7 of 1
    const DD r2 = Mul(r, r);
    const double h = r.hi;
    const double tail =
        r2.hi * h *
        (1.0 / 3 + h * (-1.0 / 4 + h * (1.0 / 5 + h * (-1.0 / 6 + h * (1.0 / 7 + h * (-1.0 / 8 + h * (1.0 / 9 +
                                                                  h * (-1.0 / 10 + h * (1.0 / 11 + h * (-1.0 / 12))))))))));
    DD log1p = Add(r, DD{-0.5 * r2.hi, -0.5 * r2.lo});
    log1p = Add(log1p, tail);
    DD result = Add(kLogNodes.minusLogInverse[j], log1p);
    if (e != 0) result = Add(Mul(kLn2, double(e)), result);
    return result;
}

// e^y for |y| < 700. y = k ln 2 / 128 + r, |r| <= 2^-8.5; e^y =
// 2^(k >> 7) 2^((k & 127) / 128) e^r, e^r by its series to r^8.
DD ExpCore(DD y) {
    const double t = y.hi * kInvLn2Times128;
    const double kd = double(int32_t(t + (t >= 0.0 ? 0.5 : -0.5)));
    DD r = TwoSum(y.hi, -(kd * kLn2By128A));
    r = Add(r, y.lo);
    r = Add(r, Neg(TwoProd(kd, kLn2By128B)));
    r = Add(r, -(kd * kLn2By128C));
    const DD r2 = Mul(r, r);
    const double h = r.hi;
    const double tail =
        r2.hi * h * (1.0 / 6 + h * (1.0 / 24 + h * (1.0 / 120 + h * (1.0 / 720 + h * (1.0 / 5040 + h / 40320)))));
    DD expm1 = Add(r, DD{0.5 * r2.hi, 0.5 * r2.lo});
    expm1 = Add(expm1, tail);
    const int32_t k = int32_t(kd);
    const DD v = Mul(kExpNodes.v[k & 127], Add(expm1, 1.0));
    const double scale = TwoTo(k >> 7);
    return DD{v.hi * scale, v.lo * scale};
}

// x - k pi / 2 with k the nearest integer, as a double-double, and k mod 4.
// k is rounded in double: a float argument's k can pass 2^31 (|x| above
// 3.4e9), where a conversion to int32 has no defined value; below that the
// two agree. k mod 4 is taken as k - 4 floor(k / 4), exact for any k a float
// gives (below 2^128, a multiple of 4 from 2^55 on).
DD ReduceHalfPi(float x, int32_t& quadrant) {
    const double xd = x;
    const double t = xd * kTwoByPi;
    const double kd = std::trunc(t + (t >= 0.0 ? 0.5 : -0.5));
    DD r = TwoSum(xd, -(kd * kHalfPiA));
    r = Add(r, Neg(TwoProd(kd, kHalfPiB)));
    r = Add(r, -(kd * kHalfPiC));
    quadrant = int32_t(kd - 4.0 * std::floor(kd * 0.25));
    return r;
}

// Evaluates sum c[n] s^n, the first `head` terms in double-double, the rest
// (below 2^-11 of the sum for |s| <= 0.62, so good to 2^-64) in double.
template <int N>
DD SeriesInSquare(const DD (&c)[N], DD s, int head) {
    double tail = 0.0;
    for (int n = N - 1; n >= head; --n) tail = c[n].hi + s.hi * tail;
    DD acc = Add(c[head - 1], Mul(DD{tail, 0.0}, s));
    for (int n = head - 2; n >= 0; --n) acc = Add(c[n], Mul(acc, s));
    return acc;
}

DD SinOfReduced(DD r) { return Mul(r, SeriesInSquare(kSeries.sine, Mul(r, r), 3)); }
DD CosOfReduced(DD r) { return SeriesInSquare(kSeries.cosine, Mul(r, r), 3); }

// hi + lo rounded once to float. hi is already hi + lo rounded to double, so
// float(hi) is right unless hi lies exactly halfway between two floats; then
// the sign of lo decides.
float RoundToFloat(DD v) {
    float f = static_cast<float>(v.hi);
    if (v.lo == 0.0 || !std::isfinite(f)) return f;
    const double df = f;
    if (df == v.hi) return f;
    const float g = std::nextafter(f, df < v.hi ? std::numeric_limits<float>::infinity()
                                                : -std::numeric_limits<float>::infinity());
    const double dg = g;
    if (v.hi - df == dg - v.hi) f = (v.lo > 0.0) == (dg > df) ? g : f;
    return f;
}

constexpr float kInf = std::numeric_limits<float>::infinity();
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

// ---- the cheap evaluations --------------------------------------------------
//
// Each one computes its function in plain double arithmetic (the exact
// functions' node tables, short polynomials, IEEE operations only, so again
// the same bits everywhere) to within 2^-48 of the exact value, relative;
// the error budget is worked out at each function and comes to 2^-49 or
// less. Decided() then rounds: when every value within 2^-45 of the
// approximation rounds to one float, the exact value and the exact
// function's double-double value (within 2^-100 of it) lie in that range
// and round to that float too, so it is the exact function's result. That
// also holds for LogToFloat, which rounds to double first: the two ends of
// the range are doubles, and rounding to double and then to float is
// monotonic. Otherwise, for about one argument in 2^20 (the value lies
// within 2^-45 of a float midpoint), the caller asks the exact function.

constexpr double kCheapWidth = 0x1p-45;

// True, with the float in *out, when all of [a - |a| w, a + |a| w] rounds to
// one float (w = 2^-45). The ends are rounded to double, which moves them by
// at most 2^-53 |a|: the range still covers 2^-45.01 |a| either side, more
// than the 2^-48 error plus the exact function's own.
inline bool Decided(double a, float* out) {
    const double w = std::fabs(a) * kCheapWidth;
    const float lo = static_cast<float>(a - w);
    if (lo != static_cast<float>(a + w)) return false;
    *out = lo;
    return true;
}

// ln 2 with a 42-bit head: e times the head is exact for |e| < 2^11.
constexpr double kLn2Head = kLn2By128A * 128.0;
constexpr double kLn2Tail = kLn2By128B * 128.0;
// ln 10 with a 29-bit head: a float times the head is exact.
constexpr double kLn10Head = 0x1.26bb1bbp+1;
constexpr double kLn10Tail = 0x1.6aaa2b05ba95bp-28;
static_assert(kLn10Head + kLn10Tail == kLn10.hi);

// ln x for a positive normal double, to 2^-49 relative (x != 1; ln 1 = 0
// has no relative error to speak of and goes to the exact function).
//
// As LogCore: x = 2^e m, m in [0.75, 1.5), node j with short inverse v (9
// significant bits), m v = 1 + r with |r| <= 0.00629 < 2^-7.3. m is split
// into a 44-bit head and a 9-bit rest, so both products with v are exact and
// r = (head v - 1) + rest v carries one rounding (2^-53 |r|). ln(1 + r) to
// r^8: the series rest is below |r|^9 / 9 < 2^-69. The sum
//   e ln2_head + (-ln v).hi + ((e ln2_tail + (-ln v).lo) + ln(1 + r))
// rounds four times, each within 2^-53 of a partial sum; those partial sums
// are at most 3.2 |ln x| (at e = 0 and a node other than 1, |ln x| >= ln(1 +
// 1/256) and |ln v| <= |ln x| + 0.0063), so the total stays below
// 2^-53 * 11 |ln x| < 2^-49.5 |ln x|. At the node 1 (e = 0, v = 1, -ln v = 0)
// the result is ln(1 + r) alone, within 2^-51.
inline double CheapLogCore(double x) {
    const uint64_t bits = std::bit_cast<uint64_t>(x);
    int32_t e = int32_t(bits >> 52) - 1023;
    const uint64_t mantissa = (bits & 0x000fffffffffffffu) | 0x3ff0000000000000u;
    double m = std::bit_cast<double>(mantissa);
    double head = std::bit_cast<double>(mantissa & ~uint64_t{0x1ff});  // the top 44 bits
    if (m >= 1.5) {
        m *= 0.5;
        head *= 0.5;
        ++e;
    }
    const int32_t j = int32_t((m - 0.75) * 128.0 + 0.5);
    const double v = kLogNodes.inverse[j];
    const double r = (head * v - 1.0) + (m - head) * v;
    const double q = 1.0 / 5 + r * (-1.0 / 6 + r * (1.0 / 7 + r * (-1.0 / 8)));
    const double p = r + r * r * (-1.0 / 2 + r * (1.0 / 3 + r * (-1.0 / 4 + r * q)));
    const double ed = double(e);
    const DD minusLogV = kLogNodes.minusLogInverse[j];
    return (ed * kLn2Head + minusLogV.hi) + ((ed * kLn2Tail + minusLogV.lo) + p);
}

// 10^x for |x| <= 4, to 2^-52 relative. y = x ln 10 = yh + yl with yh exact
// (24 + 29 bits) and yl within 2^-77; k the nearest integer to y 128 / ln 2
// (|k| <= 1701, so k times the 42-bit head of ln 2 / 128 is exact and so is
// its difference with yh, by Sterbenz); r = y - k ln 2 / 128 within 2^-61 and
// |r| < 2^-8.5. e^r = 1 + p with p to r^6 (rest below 2^-71, p's roundings
// 2^-60); 10^x = 2^(k >> 7) (T + T p), T = 2^((k & 127) / 128) as the
// exact function's table holds it: two roundings of 2^-53 and the rest
// 2^-59, below 2^-52 in all.
inline double CheapPow10Core(float x) {
    const double xd = x;
    const double yh = xd * kLn10Head;
    const double yl = xd * kLn10Tail;
    const double t = yh * kInvLn2Times128;
    const double kd = double(int32_t(t + (t >= 0.0 ? 0.5 : -0.5)));
    const double r = (yh - kd * kLn2By128A) + (yl - kd * kLn2By128B);
    const double p = r + r * r * (1.0 / 2 + r * (1.0 / 6 + r * (1.0 / 24 + r * (1.0 / 120 + r * (1.0 / 720)))));
    const int32_t k = int32_t(kd);
    const DD node = kExpNodes.v[k & 127];
    return (node.hi + (node.hi * p + node.lo)) * TwoTo(k >> 7);
}

// c[0] + z (c[1] + z (c[2] + ...)), evaluated from the innermost term out.
template <size_t N>
inline double Horner(double z, const double (&c)[N]) {
    double q = c[N - 1];
    for (size_t k = N - 1; k-- > 0;) q = c[k] + z * q;
    return q;
}

// sin r and cos r for |r| <= pi / 4 + 2^-40, r given to 2^-51.9 relative:
// Taylor to r^17 and r^16 (rests below 2^-62 and 2^-58 of the value), whose
// first term dominates (|r^2 / 6| < 0.11, |r^2 / 2| < 0.31), so Horner's
// roundings add about 2^-52. In all within 2^-50.5 of sin r and cos r.
constexpr double kSinSeries[] = {-1.0 / 6,          1.0 / 120,           -1.0 / 5040,
                                 1.0 / 362880,      -1.0 / 39916800,     1.0 / 6227020800,
                                 -1.0 / 1307674368000, 1.0 / 355687428096000};
constexpr double kCosSeries[] = {-1.0 / 2,        1.0 / 24,          -1.0 / 720,
                                 1.0 / 40320,     -1.0 / 3628800,    1.0 / 479001600,
                                 -1.0 / 87178291200, 1.0 / 20922789888000};
inline double CheapSinOfReduced(double r) {
    const double z = r * r;
    return r + r * z * Horner(z, kSinSeries);
}
inline double CheapCosOfReduced(double r) {
    const double z = r * r;
    return 1.0 + z * Horner(z, kCosSeries);
}

// x - k pi / 2 for 0 < |x| <= 1024 with the exact functions' k (|k| <= 652):
// x - k head is exact (k head has 43 bits; Sterbenz), the two further parts
// add roundings of 2^-53 |r| each and 2^-77.6 absolute. Returns false when
// k != 0 and |r| < 2^-20, where that absolute error would not be small
// against r (floats that close to a multiple of pi / 2 are few); otherwise r
// is within 2^-51.9 relative.
inline bool CheapReduce(float x, double* r, int32_t* quadrant) {
    const double xd = x;
    const double t = xd * kTwoByPi;
    const double kd = double(int32_t(t + (t >= 0.0 ? 0.5 : -0.5)));
    const double reduced = ((xd - kd * kHalfPiA) - kd * kHalfPiB) - kd * kHalfPiC;
    if (kd != 0.0 && std::fabs(reduced) < 0x1p-20) return false;
    *r = reduced;
    *quadrant = int32_t(kd) & 3;
    return true;
}

// Arguments the cheap sine and cosine take: 0 < |x| <= 1024 (0 is exact,
// the rest is outside every table the library builds).
inline bool InCheapTrigRange(float x) { return std::fabs(x) <= 1024.0f && x != 0.0f; }

}  // namespace

float Log(float x) {
    if (!(x > 0.0f)) return x == 0.0f ? -kInf : kNaN;
    if (x == kInf) return x;
    return RoundToFloat(LogCore(double(x)));  // every positive float is a normal double
}

float LogToFloat(double x) {
    if (!(x > 0.0)) return x == 0.0 ? -kInf : kNaN;
    if (x == std::numeric_limits<double>::infinity()) return kInf;
    if (x < 0x1p-1022) return float(Add(LogCore(x * 0x1p54), Mul(kLn2, -54.0)).hi);  // subnormal
    return float(LogCore(x).hi);
}

float Exp(float x) {
    if (x != x) return x;
    if (x > 89.0f) return kInf;  // e^89 is past the float range
    if (x < -104.0f) return 0.0f;  // e^-104 is below half the smallest float
    return RoundToFloat(ExpCore(DD{double(x), 0.0}));
}

float Pow10(float x) {
    if (x != x) return x;
    if (x > 39.0f) return kInf;
    if (x < -46.0f) return 0.0f;
    const double xd = x;
    return RoundToFloat(ExpCore(Add(TwoProd(xd, kLn10.hi), xd * kLn10.lo)));
}

float Sin(float x) {
    if (!std::isfinite(x)) return kNaN;
    int32_t q = 0;
    const DD r = ReduceHalfPi(x, q);
    switch (q) {
        case 0: return RoundToFloat(SinOfReduced(r));
        case 1: return RoundToFloat(CosOfReduced(r));
        case 2: return RoundToFloat(Neg(SinOfReduced(r)));
        default: return RoundToFloat(Neg(CosOfReduced(r)));
    }
}

float Cos(float x) {
    if (!std::isfinite(x)) return kNaN;
    int32_t q = 0;
    const DD r = ReduceHalfPi(x, q);
    switch (q) {
        case 0: return RoundToFloat(CosOfReduced(r));
        case 1: return RoundToFloat(Neg(SinOfReduced(r)));
        case 2: return RoundToFloat(Neg(CosOfReduced(r)));
        default: return RoundToFloat(SinOfReduced(r));
    }
}

bool CheapLog(float x, float* out) {
    // Positive, finite, not 1; every positive float is a normal double.
    if (!(x > 0.0f && x < kInf) || x == 1.0f) return false;
    return Decided(CheapLogCore(double(x)), out);
}

bool CheapLogToFloat(double x, float* out) {
    if (!(x >= 0x1p-1022 && x <= std::numeric_limits<double>::max()) || x == 1.0) return false;
    return Decided(CheapLogCore(x), out);
}

bool CheapPow10(float x, float* out) {
    if (!(std::fabs(x) <= 4.0f)) return false;  // NaN too
    return Decided(CheapPow10Core(x), out);
}

namespace {

// sin x (cos x: one quarter turn on) from the reduced argument r and the
// quarter turns q.
bool CheapSinOfQuarterTurns(double r, int32_t q, float* out) {
    switch (q & 3) {
        case 0: return Decided(CheapSinOfReduced(r), out);
        case 1: return Decided(CheapCosOfReduced(r), out);
        case 2: return Decided(-CheapSinOfReduced(r), out);
        default: return Decided(-CheapCosOfReduced(r), out);
    }
}

// The cheap value when it decides the rounding, else the exact function's.
template <class Arg>
float CheapOrExact(bool (*cheap)(Arg, float*), float (*exact)(Arg), Arg x) {
    float f;
    return cheap(x, &f) ? f : exact(x);
}

}  // namespace

bool CheapSin(float x, float* out) {
    double r = 0.0;
    int32_t q = 0;
    return InCheapTrigRange(x) && CheapReduce(x, &r, &q) && CheapSinOfQuarterTurns(r, q, out);
}

bool CheapCos(float x, float* out) {
    double r = 0.0;
    int32_t q = 0;
    return InCheapTrigRange(x) && CheapReduce(x, &r, &q) && CheapSinOfQuarterTurns(r, q + 1, out);
}

float FastLog(float x) { return CheapOrExact(CheapLog, Log, x); }
float FastLogToFloat(double x) { return CheapOrExact(CheapLogToFloat, LogToFloat, x); }
float FastPow10(float x) { return CheapOrExact(CheapPow10, Pow10, x); }
float FastSin(float x) { return CheapOrExact(CheapSin, Sin, x); }
float FastCos(float x) { return CheapOrExact(CheapCos, Cos, x); }

const Functions& FunctionsFor(bool fast) {
    static constexpr Functions kExact{Log, LogToFloat, Pow10, Sin, Cos};
    static constexpr Functions kFast{FastLog, FastLogToFloat, FastPow10, FastSin, FastCos};
    return fast ? kFast : kExact;
}

}  // namespace lx::math
