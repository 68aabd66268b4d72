// SPDX-License-Identifier: MIT
// The knee tone-curve family (curve type 6): log lift plus a highlight knee.
#pragma once

#include <cstdint>

namespace lx {

// Fills a gain table pair (see stages/gain_table_pair.h). The primary curve
// is the full-strength log10 lift of BuildLogGainTables; the secondary curve
// is a straight line that follows the identity up to the knee
// m = black + (F - black) / 3 and rises with a reduced slope above it, so the
// secondary gains pull highlights down. F = levels - levels / 256.
//
//   K[i] = i                                                 for i <  m
//   K[i] = (i - m) * ((1 - slope) * blend + slope) + m       for i >= m
//   secondary[i] = (1 - blend) * K[i] + blend * primary[i]
//
// With the callers' constants (blend 0, slope 0.6):
//
//   levels  black  knee m   output at white        gain at white
//   256     4      87       87 + 0.6 * 168 = 187.8  0.7365 (level 255)
//   65536   1024   22442    22442 + 0.6 * 43093     0.7370 (level 65535)
//
// The knee line lives in one host table of `levels` floats (HostBuffers),
// released before returning.
//
// Returns true on success; false when the host cannot supply the table or `levels`
// is neither 256 nor 65536, and then both outputs keep their contents.
// primary, secondary: caller-owned arrays of `levels` floats.
// black: black level in sample units (callers: 4 for 8-bit, 1024 for
//   16-bit); above levels - 2q it is treated as levels - 2q, as by the log
//   lift. A level so negative that the knee falls below 0 starts the line at
//   level 0.
// blend: mixes the primary curve into the secondary table and raises the
//   slope above the knee toward 1 (callers pass 0).
// slope: slope above the knee when blend is 0 (callers pass 0.6).
// reserved1..3: not used (callers pass 1, 100 and 3).
bool BuildKneeGainTables(float* primary, float* secondary, int32_t black, int32_t reserved1,
                            int32_t reserved2, float blend, int32_t reserved3, float slope, int32_t levels);

}  // namespace lx
