// SPDX-License-Identifier: MIT
// The log/exponential tone-curve family (curve type 18).
#pragma once

#include <cstdint>

namespace lx {

// Fills a gain table pair (see stages/gain_table_pair.h). With b the black
// level and u = (x - b) / (1 - b) for a level x in [b, 1]:
//
//   log curve  b + (1 - b) * log10(1 + 9u)         lifts
//   exp curve  b + (1 - b) * (10^u - 1) / 9        darkens (its inverse)
//   primary    x + (log curve - x) * 1.25 * s,  s = min(strength, 150) / 150
//              (strength 120 is the pure log lift, 150 overshoots it by 25 %)
//   secondary  x + (exp curve - x) * weight, then blended with the primary
//              by level: f * secondary + (1 - f) * primary, f = i / (levels - 1),
//              so dark levels follow the lift and bright ones the exp curve.
//
// Levels are normalised by levels - 1 but scaled back by levels, so every
// output, the identity below black included, carries the factor
// levels / (levels - 1): at strength 0 and weight 0 every gain is 256/255
// (8-bit), not 1.
//
// Working memory: eleven host tables of 4 * levels bytes (HostBuffers), all
// obtained before any output is written and all released before returning.
//
// Returns true on success; false when the host cannot supply the eleven tables or
// `levels` is neither 256 nor 65536, and then both outputs keep their
// contents and no block stays allocated.
// primary, secondary: caller-owned arrays of `levels` floats.
// black: black level in sample units, 0..levels - 2; values outside are
//   clamped into that range (the curves divide by 1 - b).
// strength: strength of the primary lift; above 150 counts as 150, below 0
//   is not clamped (it darkens).
// weight: 0 = identity, 1 = full exp curve for the secondary table.
bool BuildLogExpGainTables(float* primary, float* secondary, int32_t black, int32_t strength,
                              float weight, int32_t levels);

}  // namespace lx
