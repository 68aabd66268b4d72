// SPDX-License-Identifier: MIT
// The default tone-curve family: a log10 lift above the black level.
#pragma once

#include <cstdint>

namespace lx {

// Fills a gain table pair (see stages/gain_table_pair.h) with the log lift
// curves. Returns true; false without writing anything when `levels` is
// neither 256 nor 65536. Allocates nothing and keeps no state.
//
// With F = levels - levels / 256 (255 or 65280: 16-bit full scale is
// 255 x 256, not 65535), a level i is normalised as t = i / F, b = black / F
// and u = (t - b) / (1 - b). Levels below max(black, 1) stay unchanged.
//
//   primary    v = t + s * (b + (1 - b) * log10(1 + 9u) - t),  s = strength
//              Maps b to b and 1 to 1 and lifts everything between, the
//              mid-tones most. Above 100 % the curve is built at half the
//              strength (integer halving: 101 -> 50 %, 150 -> 75 %) and
//              composed with itself: primary[i] = primary[trunc(primary[i])].
//   secondary  i + amp * sin(2 pi k / (levels - start)),  k = i - start
//              One sine period over [start, levels): raises the lower half
//              of the range and lowers the upper half by the same amount.
//              amp is the primary lift at the quarter point qi (before any
//              composition) times (1 - amount); amount 1 gives the identity.
//
// Output levels of the one-shot pipeline's table (black 12, 100 %, amount 0,
// 256 levels), before they become gains:
//
//   input        12    32     64     73     128    192    255
//   primary      12   70.50 125.30 136.69 187.93 226.96 255.00
//   secondary    12   63.37 125.99 136.69 137.80 128.50 253.36
//
// primary, secondary: caller-owned arrays of `levels` floats, overwritten.
// black: black level in sample units. Levels from 0 to levels - 2q (254, or
//   65024 for 16-bit) are meaningful; a negative level acts like a small
//   positive one (the curve starts at level 1); a higher level is treated
//   as levels - 2q, where the curve is still finite.
// reserved: not used (callers pass 1).
// strengthPercent: blend of the lift into the identity, in percent.
// amount: 0..1, how much of the secondary wave is suppressed.
bool BuildLogGainTables(float* primary, float* secondary, int32_t black, int32_t reserved,
                           int32_t strengthPercent, float amount, int32_t levels);

// The primary lift on its own, shared with the knee builder: writes output
// levels (not gains) into out[0..levels): out[i] = i below the start level,
// v * F from it, at strength s (1 is the pure log10 lift). `black` is
// handled as by BuildLogGainTables; `levels` must be 256 or 65536. Returns
// the start level min(levels - 2q, max(black, 1)).
int32_t FillLogLiftLevels(float* out, int32_t black, float strength, int32_t levels);

}  // namespace lx
