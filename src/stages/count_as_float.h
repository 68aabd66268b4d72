// SPDX-License-Identifier: MIT
// Histograms kept as integer counts that stand for histograms kept in float.
#pragma once

#include <cstdint>

namespace lx {

// The float that n additions of 1.0f to 0.0f give: exact up to 2^24, where
// the sum stops (2^24 + 1 rounds back to 2^24). Lets a histogram kept as
// integer counts stand for one kept in float.
inline float CountAsFloatSum(uint64_t n) { return float(n < (uint64_t{1} << 24) ? n : uint64_t{1} << 24); }

}  // namespace lx
