// SPDX-License-Identifier: MIT
// The transcendental functions of the library, correctly rounded, the same
// bits on every platform.
//
// Platforms' maths libraries round log, exp, pow, sin and cos differently
// (glibc and MinGW's differ in the last bit for some arguments), and one
// different gain-table entry changes a corrected image. These compute each
// value in double-double arithmetic (about 2^-100 relative) from IEEE
// additions and multiplications only, then round once to the precision the
// caller uses. They are exact where the result is (Log(1) = 0, Exp(0) = 1,
// Pow10(0) = 1, Pow10(1) = 10, Sin(0) = 0, Cos(0) = 1) and correctly rounded
// on every argument the library passes them; tests/math checks that
// exhaustively against MPFR.
#pragma once

namespace lx::math {

// ln x rounded to float: the value a correctly rounded logf gives. 0 and
// negative arguments give -inf and NaN.
float Log(float x);

// ln x rounded first to double, then to float: the value
// static_cast<float>(std::log(x)) has with a correctly rounded log.
float LogToFloat(double x);

// e^x rounded to float (expf).
float Exp(float x);

// 10^x rounded to float (powf(10, x)).
float Pow10(float x);

// sin x and cos x rounded to float (sinf, cosf). Correctly rounded for
// |x| < 2^19; beyond, the argument reduction loses accuracy, and for the
// largest floats its remainder is so large that the result is NaN (the
// result stays the same on every platform). Non-finite arguments give NaN.
float Sin(float x);
float Cos(float x);

// The same functions, the same bits on every argument, 4 to 10 times faster
// (about 9 ns a call against 35-95 ns) on the arguments of the library's
// tables: each value is first computed cheaply in double arithmetic to
// within 2^-48 and rounded from that when the rounding is certain (when no
// float midpoint lies within 2^-45 of it); about one argument in 2^20 falls
// back to the function above. The cheap
// forms take 0 < x < inf for the logarithms (not 1, not a subnormal double),
// |x| <= 4 for Pow10 and 0 < |x| <= 1024 for Sin and Cos; every other
// argument goes to the function above directly.
float FastLog(float x);
float FastLogToFloat(double x);
float FastPow10(float x);
float FastSin(float x);
float FastCos(float x);

// The functions a table builder calls, chosen once per table: the exact
// ones (the plain kernels) or their cheap-first twins (the fast ones).
struct Functions {
    float (*log)(float);
    float (*logToFloat)(double);
    float (*pow10)(float);
    float (*sin)(float);
    float (*cos)(float);
};
const Functions& FunctionsFor(bool fast);

// The cheap evaluation of the Fast functions alone, for the tests that check
// it stays rare: true with the result in *out when it decides the rounding,
// false (and *out untouched) when the exact function is needed.
bool CheapLog(float x, float* out);
bool CheapLogToFloat(double x, float* out);
bool CheapPow10(float x, float* out);
bool CheapSin(float x, float* out);
bool CheapCos(float x, float* out);

}  // namespace lx::math
