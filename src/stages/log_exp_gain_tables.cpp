// SPDX-License-Identifier: MIT
#include "stages/log_exp_gain_tables.h"

#include <algorithm>
#include <array>
#include <cmath>

#include "host/host_buffers.h"
#include "math/float_math.h"
#include "simd/kernels.h"
#include "stages/gain_table_pair.h"

namespace lx {
namespace {

// The builder's working memory: eleven tables of `levels` floats, the
// per-level intermediates of the curves. Only three are read back (the
// normalised level and the two curves); the builder still takes all eleven
// so that its memory demand, and with it the point at which a short host
// makes it fail, is eleven blocks of 4 * levels bytes.
class WorkingTables {
public:
    static constexpr int kCount = 11;
    static constexpr int kLevel = 0;
    static constexpr int kLogCurve = 1;
    static constexpr int kExpCurve = 2;

    // All or nothing: on the first refusal the blocks already held go back.
    bool Obtain(int32_t levels) {
        for (HostArray<float>& block : blocks_) {
            block = HostArray<float>::Allocate(levels);
            if (!block) {
                Release();
                return false;
            }
        }
        return true;
    }
    // Releases in the order the blocks were obtained.
    void Release() {
        for (HostArray<float>& block : blocks_) block.reset();
    }
    ~WorkingTables() { Release(); }

    float* operator[](int table) const { return blocks_[table].data(); }

private:
    std::array<HostArray<float>, kCount> blocks_;
};

}  // namespace

bool BuildLogExpGainTables(float* primary, float* secondary, int32_t black, int32_t strength,
                              float weight, int32_t levels) {
    if (!IsGainTableLevels(levels)) return false;
    WorkingTables work;
    if (!work.Obtain(levels)) return false;
    float* x = work[WorkingTables::kLevel];
    float* logCurve = work[WorkingTables::kLogCurve];
    float* expCurve = work[WorkingTables::kExpCurve];

    // Outside 0..levels - 2 the identity range would leave the table or
    // 1 - b would reach 0.
    black = std::clamp(black, 0, levels - 2);
    const float s = static_cast<float>(std::min(strength, 150)) / 150.0f;
    const float last = static_cast<float>(levels - 1);
    const float n = static_cast<float>(levels);

    for (int32_t i = 0; i < levels; ++i) x[i] = static_cast<float>(i) / last;

    const float b = static_cast<float>(black) / last;
    const math::Functions& f = math::FunctionsFor(!simd::ReferenceKernels());
    const float ln10 = f.log(10.0f);
    for (int32_t i = black; i < levels; ++i) {
        const float d = x[i] - b;
        const float u = d * (1.0f / (1.0f - b)) + 0.0f;
        const float w = u * 9.0f + 1.0f;
        logCurve[i] = (f.log(w) / ln10) * (1.0f - b) + b;
        // 0.11111111f is the float nearest 1/9.
        expCurve[i] = (f.pow10(u) * 0.11111111f - 0.11111111f) * (1.0f - b) + b;
    }

    for (int32_t i = black; i < levels; ++i) {
        primary[i] = (x[i] + (logCurve[i] - x[i]) * s * 1.25f) * n;
        secondary[i] = (x[i] + (expCurve[i] - x[i]) * weight) * n;
    }
    // Shadow blend: the secondary curve follows the lift at dark levels.
    for (int32_t i = black; i < levels; ++i) {
        const float f = static_cast<float>(i) / last;
        secondary[i] = ((f * secondary[i]) / n + ((1.0f - f) * primary[i]) / n) * n;
    }
    for (int32_t i = 0; i < black; ++i) {
        primary[i] = n * x[i];
        secondary[i] = n * x[i];
    }
    work.Release();

    ConvertLevelsToGains(primary, secondary, levels);
    return true;
}

}  // namespace lx
