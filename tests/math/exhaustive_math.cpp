// SPDX-License-Identifier: MIT
// Proves that lx::math rounds correctly on every argument the library can
// pass it: glibc's double function (within 2^-50 of the exact value) decides
// where that whole interval rounds to one float, MPFR at 256 bits the rest.
// The cheap-first twins (FastLog ...) must give the same bits, their cheap
// evaluation deciding all but 1 in 2^16 at most (else the speed is gone).
// red-weight (colour restoration's weight) and divide-1000 (the 16-bit
// levels, on every target) check identities SIMD kernels use for a division.
//
//   lumarex_math_exhaustive CASE [PART PARTS]
//
// By default a regular sample of each case's arguments (every 17th float,
// every 61st 16-bit black level, every 17th block of a million quotients, the
// ends always) and the hard arguments of the full runs, in seconds;
// LUMAREX_FULL_CHECKS=1 tries every argument (minutes): run it when the
// maths, the gain tables' arguments or a division's fast path changes. Each
// case says how its domain follows from the callers' formulas. Prints the
// counts and every wrong result; exit status 0 when there is none.
#include <mpfr.h>

#include <algorithm>
#include <bit>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "math/float_math.h"
#include "pipeline/levels_step_twins.h"
#include "support/simd_targets.h"

namespace {

struct Tally {
    uint64_t tried = 0;
    uint64_t nearBoundary = 0;  // decided by MPFR
    uint64_t declined = 0;      // left to the exact function by the cheap evaluation
    uint64_t wrong = 0;         // by the exact or by the cheap-first function
};

using MpfrFn = int (*)(mpfr_ptr, mpfr_srcptr, mpfr_rnd_t);

// The exact value rounded to float (or to double and then to float when
// `twice`), from MPFR.
float MpfrRounded(MpfrFn f, double x, bool twice, bool timesLn10) {
    mpfr_t a, y, ln10;
    mpfr_inits2(256, a, y, ln10, static_cast<mpfr_ptr>(nullptr));
    mpfr_set_d(a, x, MPFR_RNDN);
    if (timesLn10) {
        mpfr_set_ui(ln10, 10, MPFR_RNDN);
        mpfr_log(ln10, ln10, MPFR_RNDN);
        mpfr_mul(a, a, ln10, MPFR_RNDN);
    }
    f(y, a, MPFR_RNDN);
    const float r = twice ? float(mpfr_get_d(y, MPFR_RNDN)) : mpfr_get_flt(y, MPFR_RNDN);
    mpfr_clears(a, y, ln10, static_cast<mpfr_ptr>(nullptr));
    return r;
}

struct Case {
    float (*mine)(double);     // the function under test, on the argument
    double (*approx)(double);  // glibc's double function, as the first reference
    double margin;             // its error bound, relative
    MpfrFn exact;
    bool twice = false;      // rounded to double, then to float
    bool timesLn10 = false;  // the function of x ln 10 (10^x)
    float (*fast)(double) = nullptr;          // the cheap-first twin
    bool (*cheap)(double, float*) = nullptr;  // its cheap evaluation alone
};

// The full mode's hard arguments: those near a rounding boundary and those
// the cheap evaluation declined. Printed at the end of a full run, kept in
// hard_arguments.inc, and tried by the sampled runs, so that a fault in the
// exact fallback is met without trying every argument.
std::vector<double> g_hard;
bool g_full = false;

void Check(const Case& c, double x, Tally& t) {
    ++t.tried;
    const float got = c.mine(x);
    const double v = c.approx(x);
    const double margin = std::fabs(v) * c.margin;
    auto round = [](double w) { return float(w); };  // also right when rounded twice: w is a double
    float want = round(v);
    bool hard = false;
    if (round(v - margin) != want || round(v + margin) != want) {
        ++t.nearBoundary;
        want = MpfrRounded(c.exact, x, c.twice, c.timesLn10);
        hard = true;
    }
    if (std::memcmp(&got, &want, sizeof got) != 0 && ++t.wrong <= 20)
        std::printf("wrong: x = %a: got %a, want %a\n", x, double(got), double(want));
    if (c.fast != nullptr) {
        float cheap = 0.0f;
        if (!c.cheap(x, &cheap)) ++t.declined, hard = true;
        const float fast = c.fast(x);
        if (std::memcmp(&fast, &want, sizeof fast) != 0 && ++t.wrong <= 20)
            std::printf("wrong (fast): x = %a: got %a, want %a\n", x, double(fast), double(want));
    }
    if (hard && g_full) g_hard.push_back(x);
}

// The sampling steps; 1 in the full mode. Odd, so that a sample meets
// every low mantissa bit pattern.
uint32_t g_floatStep = 17, g_blackStep = 61, g_blockStep = 17;

// Every float from lo up to hi (both included, both of one sign), or every
// g_floatStep-th of them and hi. Within one sign floats are ordered as their
// bit patterns: upward for positive ones, downward for negative ones.
void AllFloats(float lo, float hi, const std::function<void(float)>& f) {
    const int64_t from = std::bit_cast<uint32_t>(lo), to = std::bit_cast<uint32_t>(hi), dir = to >= from ? 1 : -1;
    for (int64_t b = from; dir * (to - b) > 0; b += dir * int64_t(g_floatStep)) f(std::bit_cast<float>(uint32_t(b)));
    f(hi);
}

// glibc's log, exp, sin and cos are within one ulp (2^-52 relative): 2^-50
// leaves room. 10^x through e^(x ln 10) adds the rounding of x ln 10
// (2.3 x 2^-53 on the exponent): 2^-48.
double Pow10Approx(double x) { return std::exp(x * 2.302585092994046); }
double Log(double x) { return std::log(x); }
double Exp(double x) { return std::exp(x); }
double Sin(double x) { return std::sin(x); }
double Cos(double x) { return std::cos(x); }

// The float functions taken on a double argument, for the table below.
#define LX_FLOAT_ARG(f) [](double x) { return lx::math::f(float(x)); }
#define LX_CHEAP(f) [](double x, float* out) { return lx::math::f(float(x), out); }
const Case kLog{LX_FLOAT_ARG(Log), Log, 0x1p-50, mpfr_log, false, false, LX_FLOAT_ARG(FastLog), LX_CHEAP(CheapLog)};
const Case kLogToFloat{[](double x) { return lx::math::LogToFloat(x); }, Log, 0x1p-50, mpfr_log, true, false,
                       lx::math::FastLogToFloat, lx::math::CheapLogToFloat};
const Case kExp{LX_FLOAT_ARG(Exp), Exp, 0x1p-50, mpfr_exp};
const Case kPow10{LX_FLOAT_ARG(Pow10), Pow10Approx, 0x1p-48, mpfr_exp, false, true, LX_FLOAT_ARG(FastPow10),
                  LX_CHEAP(CheapPow10)};
const Case kSin{LX_FLOAT_ARG(Sin), Sin, 0x1p-50, mpfr_sin, false, false, LX_FLOAT_ARG(FastSin), LX_CHEAP(CheapSin)};
const Case kCos{LX_FLOAT_ARG(Cos), Cos, 0x1p-50, mpfr_cos, false, false, LX_FLOAT_ARG(FastCos), LX_CHEAP(CheapCos)};

// The hard arguments of the full runs, by case.
struct HardArguments { const char* name; std::vector<double> x; };
const HardArguments kHard[] = {
#include "hard_arguments.inc"
};

// The end of a case. Sampled mode: tries the case's hard arguments too;
// their wrong results count, but not toward the cheap evaluation's rate of
// declining, which is the sample's (they are the declined ones). Full mode:
// prints the hard arguments met, in the form hard_arguments.inc keeps.
// cheapFirst: the case checks a cheap-first twin too.
int Finish(const std::string& name, const Case& c, Tally& t, const char* title, bool cheapFirst = true) {
    if (g_full) {
        std::printf("hard arguments, for hard_arguments.inc:\n    {\"%s\", {", name.c_str());
        for (size_t i = 0; i < g_hard.size(); ++i) std::printf("%s%a", i ? ", " : "", g_hard[i]);
        std::printf("}},\n");
    } else {
        Tally hard;
        for (const HardArguments& h : kHard)
            if (h.name == name)
                for (double x : h.x) Check(c, x, hard);
        std::printf("%llu hard arguments of the full run: %llu wrong\n", (unsigned long long)hard.tried,
                    (unsigned long long)hard.wrong);
        t.wrong += hard.wrong;
    }
    std::printf("%s %s: %llu arguments, %llu near a rounding boundary (MPFR), ", name.c_str(), title,
                (unsigned long long)t.tried, (unsigned long long)t.nearBoundary);
    if (cheapFirst)
        std::printf("%llu left to the exact function by the cheap evaluation, ", (unsigned long long)t.declined);
    std::printf("%llu wrong\n", (unsigned long long)t.wrong);
    if (t.declined > t.tried / 65536) std::printf("%s: the cheap evaluation declines too often\n", name.c_str());
    return t.wrong == 0 && t.declined <= t.tried / 65536 ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: %s log|log-counts|log-lift PART PARTS|pow10|exp|sin|cos|red-weight|divide-1000\n", argv[0]);
        return 2;
    }
    const std::string what = argv[1];
    Tally t;
    const char* full = std::getenv("LUMAREX_FULL_CHECKS");
    g_full = full != nullptr && std::strcmp(full, "1") == 0;
    if (g_full) g_floatStep = g_blackStep = g_blockStep = 1;
    std::printf("%s\n", g_floatStep == 1 ? "every argument (LUMAREX_FULL_CHECKS=1)" : "a regular sample of the arguments");

    if (what == "log") {
        // Log/exp gain tables: ln w, w = u * 9 + 1 with u = (x - b) / (1 - b)
        // in [0, 1] up to rounding, so w lies in [1, 10] and a few ulps past
        // 10: every float in [1, 16).
        AllFloats(1.0f, std::nextafter(16.0f, 0.0f), [&](float x) { Check(kLog, x, t); });
        // ln 10 itself, and a float subnormal, for the record.
        Check(kLog, 10.0, t);
        Check(kLog, 0x1p-140, t);
        return Finish("log", kLog, t, "Log on [1, 16)");
    }
    if (what == "log-counts") {
        // Tint analysis: ln(count + 1) of float histogram counts. A count is
        // a sum of 1.0f steps, an integer that stops growing at 2^24, so
        // count + 1 is an integer in 1..2^24.
        for (uint32_t n = 1; n <= (1u << 24); ++n) Check(kLog, double(n), t);
        return Finish("log-counts", kLog, t, "Log of the integers 1..2^24");
    }
    if (what == "log-lift") {
        // Log lift gain tables, 8 and 16 bits: for every black level from 0
        // to the top the builders accept (254 or 65024) and every level i from
        // the start up, ln x in double with x = 10 - (1 - t) g, t = i / F and
        // g = 9 / (1 - b), b = black / F in float, F = levels - levels / 256.
        // PART of PARTS splits the 16-bit black levels. Negative black levels
        // (settings outside the documented range) give x in (1, 10] as well.
        const int part = argc > 3 ? std::atoi(argv[2]) : 0;
        const int parts = argc > 3 ? std::atoi(argv[3]) : 1;
        for (int32_t levels : {256, 65536}) {
            const int32_t q = levels / 256;
            const int32_t top = levels - 2 * q;
            const float full = static_cast<float>(levels - q);
            for (int32_t black = 0; black <= top; ++black) {
                if (levels == 256 ? part != 0 : black % parts != part) continue;
                // 8-bit black levels all; 16-bit ones sampled, the top always.
                if (levels != 256 && black != top && (black / parts) % int32_t(g_blackStep) != 0) continue;
                const float b = static_cast<float>(black) / full;
                const float g = 9.0f / (1.0f - b);
                const int32_t start = black < 1 ? 1 : (black > top ? top : black);
                for (int32_t i = start; i < levels; ++i) {
                    const float tt = static_cast<float>(i) / full;
                    Check(kLogToFloat, 10.0 - (1.0 - static_cast<double>(tt)) * static_cast<double>(g), t);
                }
            }
        }
        Check(kLogToFloat, 10.0, t);  // the ln 10 of the builders
        return Finish("log-lift-" + std::to_string(part), kLogToFloat, t,
                      ("LogToFloat, log lift arguments, " + std::to_string(part) + " of " + std::to_string(parts)).c_str());
    }
    if (what == "pow10") {
        // Log/exp gain tables: 10^u, u = d / (1 - b) with d = x[i] - b the
        // difference of two levels i / (levels - 1): 0 or at least
        // 1 / 65535 > 2^-17, and at most 1 plus a few ulps.
        Check(kPow10, 0.0, t);
        AllFloats(0x1p-17f, 1.0f + 0x1p-10f, [&](float x) { Check(kPow10, x, t); });
        return Finish("pow10", kPow10, t, "Pow10 on 0 and [2^-17, 1 + 2^-10]");
    }
    if (what == "exp") {
        // Smoothing decay: e^(-1 / (0.5 r)) for a radius r = max(W, H) / 5
        // of 1 to 2^31 / 5, so the argument lies in [-2, -2^-28]; the chroma
        // grid's e^(-ln 2 / 1.5) is among them. Radius 0 gives -inf.
        AllFloats(-2.0f, -0x1p-28f, [&](float x) { Check(kExp, x, t); });
        if (lx::math::Exp(-std::numeric_limits<float>::infinity()) != 0.0f) ++t.wrong;
        return Finish("exp", kExp, t, "Exp on [-2, -2^-28] and -inf", false);
    }
    if (what == "sin") {
        // Log lift secondary wave: sin(k 2 pi / span), k = 0 .. span - 1,
        // span <= 65535: 0, or at least 2 pi / 65535 > 2^-14, and below 2 pi.
        Check(kSin, 0.0, t);
        AllFloats(0x1p-14f, 6.2832f, [&](float x) { Check(kSin, x, t); });
        return Finish("sin", kSin, t, "Sin on 0 and [2^-14, 6.2832]");
    }
    if (what == "cos") {
        // Warm tone ramps: cos(k (pi / 2) / span) with |k| <= span <= 65536:
        // 0, or of magnitude 2^-16 .. pi / 2. Cos is even by construction;
        // the negative half is checked against the positive one on a sample.
        Check(kCos, 0.0, t);
        uint32_t n = 0;
        AllFloats(0x1p-16f, 1.5708f, [&](float x) {
            Check(kCos, x, t);
            if (++n % 16 != 0) return;  // the symmetry on every 16th: it follows from the even series
            const float a = lx::math::Cos(x), b = lx::math::Cos(-x);
            if (std::memcmp(&a, &b, sizeof a) != 0) ++t.wrong;
        });
        return Finish("cos", kCos, t, "Cos on 0 and +-[2^-16, 1.5708]");
    }
    if (what == "red-weight") {
        // Colour restoration's red weight: clamp((q - 0.8f) / 0.2f, 0, 1) and
        // its SIMD form clamp((q - 0.8f) x 5, 0, 1) for every float quotient
        // q = c1 / m in 0 .. 1, bit for bit.
        const auto clamp01 = [](float x) { return x < 0.0f ? 0.0f : (x > 1.0f ? 1.0f : x); };
        AllFloats(0.0f, 1.0f, [&](float q) {
            const float a = clamp01((q - 0.8f) / 0.2f), b = clamp01((q - 0.8f) * 5.0f);
            ++t.tried;
            if (std::memcmp(&a, &b, sizeof a) != 0) ++t.wrong;
        });
        std::printf("Red weight on the floats in [0, 1]: %llu values, %llu wrong\n", (unsigned long long)t.tried,
                    (unsigned long long)t.wrong);
        return t.wrong == 0 ? 0 : 1;
    }
    if (what == "divide-1000") {
        // The 16-bit levels' SIMD division trunc(p / 1000), on every target
        // this machine runs, for every |p| < 2^30 (the products the levels
        // form in int32 lanes), a million at a time (sampled: by blocks).
        std::vector<int32_t> p(1 << 20), q(p.size());
        uint64_t targets = 0;
        lx::test::ForEachSimdTarget([&](const std::string&) {
            ++targets;
            int64_t block = 0;
            for (int64_t first = -(int64_t{1} << 30) + 1; first < (int64_t{1} << 30); first += int64_t(p.size())) {
                const int32_t n = int32_t(std::min<int64_t>(int64_t(p.size()), (int64_t{1} << 30) - first));
                // Sampled: every g_blockStep-th block, the first and last always.
                const bool last = first + n >= (int64_t{1} << 30);
                if (block++ % g_blockStep != 0 && !last) continue;
                for (int32_t i = 0; i < n; ++i) p[i] = int32_t(first + i);
                lx::DivideBy1000Fast(p.data(), n, q.data());
                for (int32_t i = 0; i < n; ++i) t.wrong += q[i] != p[i] / 1000;
                t.tried += uint64_t(n);
            }
        });
        std::printf("DivideBy1000 on |p| < 2^30: %llu targets, %llu values, %llu wrong\n",
                    (unsigned long long)targets, (unsigned long long)t.tried, (unsigned long long)t.wrong);
        return t.wrong == 0 ? 0 : 1;
    }
    std::fprintf(stderr, "unknown case %s\n", what.c_str());
    return 2;
}
