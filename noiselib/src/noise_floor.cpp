// SPDX-License-Identifier: MIT
#include "noise_floor.h"

#include <algorithm>
#include <cstdint>

namespace noiselib {
namespace {

constexpr int kStartPerMille = 50;     // the search starts at the 5th percentile
constexpr int kLowStartPerMille = 10;  // or, where it does not settle from there, at the 1st
constexpr int kMaxSteps = 30;

// The fixed point from the `perMille` point of the sorted `e`: false when
// kMaxSteps do not settle it (v is then where the search stopped).
bool FixedPoint(const float* e, int n, int perMille, double& v) {
    v = e[int64_t{n} * perMille / 1000];
    for (int step = 0; step < kMaxSteps; ++step) {
        const float cut = kAccept * float(v);
        const int kept = int(std::upper_bound(e, e + n, cut) - e);
        double sum = 0.0;
        for (int i = 0; i < kept; ++i) sum += e[i];
        const double next = sum / kept;  // kept >= 1: e[0] <= v <= cut
        if (next == v) return true;
        v = next;
    }
    return false;
}

}  // namespace

float NoiseFloorVariance(float* e, int n, bool quietFew) {
    std::sort(e, e + n);
    double v = 0.0, low = 0.0;
    const bool settled = FixedPoint(e, n, kStartPerMille, v);
    if (settled && !quietFew) return float(v);
    const bool lowSettled = FixedPoint(e, n, kLowStartPerMille, low);
    if (!settled) return float(std::min(v, low));
    return lowSettled && low * kAccept * kAccept < v ? float(low) : float(v);
}

}  // namespace noiselib
