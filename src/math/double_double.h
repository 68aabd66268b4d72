// SPDX-License-Identifier: MIT
// Double-double arithmetic: a value held as an unevaluated sum hi + lo of two
// doubles, |lo| <= half an ulp of hi, good to about 2^-104 relative. Built
// from IEEE additions and multiplications alone (no fused multiply-add, no
// library call), so every platform computes the same bits; constexpr, so the
// tables of float_math.cpp are computed by the compiler with the same code.
#pragma once

namespace lx::math::dd {

struct DD {
    double hi = 0.0;
    double lo = 0.0;
};

// a + b exactly (Knuth), any order of magnitudes.
constexpr DD TwoSum(double a, double b) {
    const double s = a + b;
    const double bb = s - a;
    return {s, (a - (s - bb)) + (b - bb)};
}

// a + b exactly when |a| >= |b| (Dekker).
constexpr DD FastTwoSum(double a, double b) {
    const double s = a + b;
    return {s, b - (s - a)};
}

// a = hi + lo with hi holding the top 26 bits (Veltkamp); |a| < 2^995.
constexpr DD Split(double a) {
    const double c = 134217729.0 * a;  // 2^27 + 1
    const double hi = c - (c - a);
    return {hi, a - hi};
}

// a * b exactly (Dekker), without a fused multiply-add.
constexpr DD TwoProd(double a, double b) {
    const double p = a * b;
    const DD x = Split(a);
    const DD y = Split(b);
    return {p, ((x.hi * y.hi - p) + x.hi * y.lo + x.lo * y.hi) + x.lo * y.lo};
}

constexpr DD Neg(DD a) { return {-a.hi, -a.lo}; }

constexpr DD Add(DD a, double b) {
    DD s = TwoSum(a.hi, b);
    s.lo += a.lo;
    return FastTwoSum(s.hi, s.lo);
}

constexpr DD Add(DD a, DD b) {
    DD s = TwoSum(a.hi, b.hi);
    const DD t = TwoSum(a.lo, b.lo);
    s.lo += t.hi;
    s = FastTwoSum(s.hi, s.lo);
    s.lo += t.lo;
    return FastTwoSum(s.hi, s.lo);
}

constexpr DD Mul(DD a, double b) {
    DD p = TwoProd(a.hi, b);
    p.lo += a.lo * b;
    return FastTwoSum(p.hi, p.lo);
}

constexpr DD Mul(DD a, DD b) {
    DD p = TwoProd(a.hi, b.hi);
    p.lo += a.hi * b.lo + a.lo * b.hi;
    return FastTwoSum(p.hi, p.lo);
}

constexpr DD Div(DD a, double b) {
    const double q = a.hi / b;
    const DD p = TwoProd(q, b);
    const double r = ((a.hi - p.hi) - p.lo) + a.lo;
    return FastTwoSum(q, r / b);
}

constexpr DD Div(DD a, DD b) {
    const double q = a.hi / b.hi;
    const DD r = Add(a, Neg(Mul(b, q)));
    return FastTwoSum(q, r.hi / b.hi);
}

}  // namespace lx::math::dd
