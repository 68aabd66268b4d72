// SPDX-License-Identifier: MIT
#include "stages/exp_smooth_plane.h"

#include <algorithm>
#include <cstddef>

#include "simd/kernels.h"
#include "stages/exp_smooth_plane_twins.h"

namespace lx {
namespace {

// Lines walked in lockstep. The lines of a pass are independent, so walking
// several together changes no value; it turns a column walk into contiguous
// row-wise accesses and gives the compiler independent sums to interleave.
// 64 running sums live on the stack.
constexpr int32_t kLanes = 64;

// Forward and then backward normalised pass over `lanes` lines of n >= 2
// samples: sample k of line l is at p[l * laneStep + k * step]. The raw sums
// are carried from sample to sample; only normalised values are stored.
template <bool kUnitLaneStep>
void SmoothLines(float* p, int32_t lanes, ptrdiff_t laneStepArg, int32_t n, ptrdiff_t step,
                 const float* norm, float a) {
    const ptrdiff_t laneStep = kUnitLaneStep ? 1 : laneStepArg;
    float sum[kLanes];

    // Forward: Y[0] = v[0]; Y[i + 1] = v[i + 1] + a Y[i]; v[i] = Y[i] norm[i].
    float* cur = p;
    for (int32_t l = 0; l < lanes; ++l) sum[l] = cur[l * laneStep];
    for (int32_t i = 0; i + 1 < n; ++i, cur += step) {
        const float* next = cur + step;
        const float scale = norm[i];
        for (int32_t l = 0; l < lanes; ++l) {
            const float y = next[l * laneStep] + a * sum[l];
            cur[l * laneStep] = sum[l] * scale;
            sum[l] = y;
        }
    }
    for (int32_t l = 0; l < lanes; ++l) cur[l * laneStep] = sum[l] * norm[n - 1];

    // Backward on the forward result: Z[N-1] = f[N-1]; Z[j] = f[j] + a Z[j + 1];
    // v[j + 1] = Z[j + 1] norm[N - 2 - j]: normalised by the distance from the far end.
    for (int32_t l = 0; l < lanes; ++l) sum[l] = cur[l * laneStep];
    for (int32_t j = n - 2; j >= 0; --j) {
        float* prev = cur - step;
        const float scale = norm[n - 2 - j];
        for (int32_t l = 0; l < lanes; ++l) {
            const float z = prev[l * laneStep] + a * sum[l];
            cur[l * laneStep] = sum[l] * scale;
            sum[l] = z;
        }
        cur = prev;
    }
    for (int32_t l = 0; l < lanes; ++l) cur[l * laneStep] = sum[l] * norm[n - 1];
}

}  // namespace

void BuildSmoothNorm(float* norm, int32_t n, float a) {
    if (n <= 0) return;
    norm[0] = 1.0f;
    if (n == 1) return;
    // Running state: norm[j - 1] holds the sum S_{j-1} = 1 + a + ... + a^(j-1)
    // and norm[j] the power a^j; each step turns them into S_j and a^(j+1)
    // and replaces S_{j-1} by its reciprocal.
    norm[1] = a;
    for (int32_t j = 1; j <= n - 2; ++j) {
        const float power = norm[j];
        norm[j] = power + norm[j - 1];
        norm[j + 1] = power * a;
        norm[j - 1] = 1.0f / norm[j - 1];
    }
    const float sum = norm[n - 2];
    norm[n - 1] = 1.0f / (sum + norm[n - 1]);
    norm[n - 2] = 1.0f / sum;
}

void ExpSmoothRowsPlain(const Plane& p, const float* norm, float a) {
    const int32_t width = p.width, height = p.height;
    if (width <= 1 || height <= 0) return;
    const ptrdiff_t pitch = width;
    for (int32_t y = 0, lanes = 0; y < height; y += lanes) {
        lanes = std::min(kLanes, height - y);
        SmoothLines<false>(p.data + y * pitch, lanes, pitch, width, 1, norm, a);
    }
}

void ExpSmoothRows(const Plane& rows, const float* norm, float a) {
    if (simd::ReferenceKernels()) ExpSmoothRowsPlain(rows, norm, a);
    else ExpSmoothRowsFast(rows, norm, a);
}

void ExpSmoothPlanePlain(const Plane& p, const float* norm, float a) {
    float* plane = p.data;
    const int32_t width = p.width, height = p.height;
    if (width <= 0 || height <= 0) return;
    const ptrdiff_t pitch = width;
    ExpSmoothRowsPlain(p, norm, a);
    if (height > 1) {
        for (int32_t x = 0, lanes = 0; x < width; x += lanes) {
            lanes = std::min(kLanes, width - x);
            SmoothLines<true>(plane + x, lanes, 1, height, pitch, norm, a);
        }
    }
}

void ExpSmoothPlane(const Plane& plane, const float* norm, float a) {
    if (simd::ReferenceKernels()) ExpSmoothPlanePlain(plane, norm, a);
    else ExpSmoothPlaneFast(plane, norm, a);
}

void ColumnForwardStepPlain(float* row, const float* above, int64_t n, float a) {
    for (int64_t x = 0; x < n; ++x) row[x] = row[x] + a * above[x];
}

void ColumnForwardStep(float* row, const float* above, int64_t n, float a) {
    if (simd::ReferenceKernels()) ColumnForwardStepPlain(row, above, n, a);
    else ColumnForwardStepFast(row, above, n, a);
}

}  // namespace lx
