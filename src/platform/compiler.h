// SPDX-License-Identifier: MIT
// Build guards shared by every translation unit of the library.
#pragma once

// The library's arithmetic is bit-exact: float sums in a fixed order, no
// fused multiply-adds, no reassociation. Fast-math would silently break the
// results, so refuse to build with it. (-ffp-contract=off is checked by a
// test that compiles a multiply-add with FMA enabled.)
#if defined(__FAST_MATH__)
#error "Lumarex must not be built with -ffast-math"
#endif
#if defined(__FINITE_MATH_ONLY__) && __FINITE_MATH_ONLY__
#error "Lumarex must not be built with -ffinite-math-only"
#endif
