// SPDX-License-Identifier: MIT
// Float-to-integer conversions that cannot overflow. A plain static_cast of a
// non-finite or out-of-range float is undefined; these say what happens.
#pragma once

#include <cstdint>

namespace lx {

// True when trunc(f) fits an int32 (and f is not NaN).
inline bool FitsInt32(float f) { return f > -2147483904.0f && f < 2147483648.0f; }
inline bool FitsInt32(double d) { return d > -2147483649.0 && d < 2147483648.0; }

// trunc(f) toward zero when it fits an int32, else `fallback`.
inline int32_t TruncOr(float f, int32_t fallback) { return FitsInt32(f) ? static_cast<int32_t>(f) : fallback; }
inline int32_t TruncOr(double d, int32_t fallback) { return FitsInt32(d) ? static_cast<int32_t>(d) : fallback; }

// trunc(f) toward zero, saturated to [lo, hi]; NaN gives lo.
// trunc(f) toward zero, saturated to the int32 range; NaN gives 0.
inline int32_t TruncSaturate(float f) {
    if (!(f == f)) return 0;
    if (f >= 2147483648.0f) return INT32_MAX;
    if (f <= -2147483648.0f) return INT32_MIN;
    return static_cast<int32_t>(f);
}

// Same as clamp(int(f), lo, hi) wherever int(f) is defined.
inline int32_t TruncClamp(float f, int32_t lo, int32_t hi) {
    if (!(f >= static_cast<float>(lo))) return lo;
    if (f >= static_cast<float>(hi)) return hi;
    return static_cast<int32_t>(f);
}

// The float nearest to a x b, with the product formed exactly (in 128 bits)
// so that it cannot overflow, e.g. a share in per mille times 3 x a pixel
// count of a 100-gigapixel image.
inline float ProductToFloat(int64_t a, int64_t b) {
    static_assert(sizeof(__int128) == 16, "a 128-bit integer type is needed");
    return static_cast<float>(static_cast<__int128>(a) * b);
}

}  // namespace lx
