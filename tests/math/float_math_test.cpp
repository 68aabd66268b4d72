// SPDX-License-Identifier: MIT
// Worked values of lx::math. The exhaustive proof of correct rounding is
// tests/math/exhaustive_math.cpp (run by the optimised test build); here the
// exact cases, the special values and arguments where a platform's float
// functions round the other way.
#include "math/float_math.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>

namespace lx::math {
namespace {

constexpr float kInf = std::numeric_limits<float>::infinity();

TEST(FloatMath, ExactWhereTheResultIs) {
    EXPECT_EQ(Log(1.0f), 0.0f);
    EXPECT_EQ(LogToFloat(1.0), 0.0f);
    EXPECT_EQ(Exp(0.0f), 1.0f);
    EXPECT_EQ(Pow10(0.0f), 1.0f);
    EXPECT_EQ(Pow10(1.0f), 10.0f);
    EXPECT_EQ(Pow10(2.0f), 100.0f);
    EXPECT_EQ(Sin(0.0f), 0.0f);
    EXPECT_EQ(Cos(0.0f), 1.0f);
}

TEST(FloatMath, WorkedValuesRoundToNearest) {
    // ln 10 = 2.30258509299404568..., float 0x1.26bb1cp+1 (2.30258512).
    EXPECT_EQ(Log(10.0f), 0x1.26bb1cp+1f);
    EXPECT_EQ(LogToFloat(10.0), 0x1.26bb1cp+1f);
    // e^-1 = 0.36787944117..., 10^0.5 = 3.16227766017...
    EXPECT_EQ(Exp(-1.0f), 0x1.78b564p-2f);
    EXPECT_EQ(Pow10(0.5f), 0x1.94c584p+1f);
    // The chroma grid's decay e^(-0.6931472 / 1.5) = 0.62996...
    EXPECT_EQ(Exp(-0.6931472f / 1.5f), 0x1.428a30p-1f);
    // sin and cos of the float nearest pi / 2: cos is pi/2 - x = -4.37e-8.
    EXPECT_EQ(Sin(1.5707964f), 1.0f);
    EXPECT_EQ(Cos(1.5707964f), -0x1.777a5cp-25f);
    // Near pi the sine is small and must keep its relative accuracy:
    // sin(0x1.921fb6p+1) = -8.742278e-8.
    EXPECT_EQ(Sin(0x1.921fb6p+1f), -0x1.777a5cp-24f);
}

TEST(FloatMath, ArgumentsWherePlatformFloatFunctionsDiffer) {
    // glibc's sinf gives 0x1.61246cp-10 here; the value rounded to nearest
    // (MPFR) is 0x1.61246ap-10. One such bit in a gain table changes a
    // corrected picture.
    EXPECT_EQ(Sin(0x1.612472p-10f), 0x1.61246ap-10f);
    EXPECT_EQ(Sin(0x1.800002p-10f), 0x1.7ffff8p-10f);
}

TEST(FloatMath, SpecialValues) {
    EXPECT_EQ(Log(0.0f), -kInf);
    EXPECT_TRUE(std::isnan(Log(-1.0f)));
    EXPECT_EQ(Log(kInf), kInf);
    EXPECT_EQ(LogToFloat(0.0), -kInf);
    EXPECT_EQ(Exp(-kInf), 0.0f);  // the smoothing decay of radius 0
    EXPECT_EQ(Exp(-200.0f), 0.0f);
    EXPECT_EQ(Exp(100.0f), kInf);
    EXPECT_EQ(Pow10(-50.0f), 0.0f);
    EXPECT_EQ(Pow10(40.0f), kInf);
    EXPECT_TRUE(std::isnan(Sin(kInf)));
    EXPECT_TRUE(std::isnan(Cos(std::numeric_limits<float>::quiet_NaN())));
    EXPECT_EQ(Cos(-0.75f), Cos(0.75f));
}

}  // namespace
}  // namespace lx::math
