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
constexpr float kNaN = std::numeric_limits<float>::quiet_NaN();

float LogOfDouble(float x) { return LogToFloat(double(x)); }

TEST(FloatMath, WorkedExactAndSpecialValues) {
    const struct {
        const char* name;
        float (*f)(float);
        float x, expected;
    } cases[] = {
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

}  // namespace
}  // namespace lx::math
