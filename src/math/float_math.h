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
// |x| < 2^19; beyond, the argument reduction loses accuracy (the result stays
// the same on every platform). Non-finite arguments give NaN.
float Sin(float x);
float Cos(float x);

}  // namespace lx::math
