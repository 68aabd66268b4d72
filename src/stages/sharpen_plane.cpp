// SPDX-License-Identifier: MIT
#include "stages/sharpen_plane.h"

#include <algorithm>
#include <cstddef>

namespace lx {
namespace {

// Lines walked in lockstep (see exp_smooth_plane.cpp): independent lines, so
// the values are those of walking them one by one.
constexpr int32_t kLanes = 64;

struct Kernel {
    float side;
    float centre;
    float edge;  // for a sample with one neighbour: 1 / (side + centre)
};

Kernel MakeKernel(float s) {
    const float sum = (s * -0.25f + 0.0f) + (s * 0.5f + 1.0f) + s * -0.25f;  // 1 up to rounding
    Kernel k;
    k.side = (s * -0.25f) / sum;
    k.centre = (s * 0.5f + 1.0f) / sum;
    k.edge = 1.0f / (k.side + 0.0f + k.centre);
    return k;
}

inline float Clamp(float x, float limit) { return x > limit ? limit : (x < 0.0f ? 0.0f : x); }

// One application of the kernel to `lanes` lines of n >= 2 samples, walking
// from p along `step` (negative for a backward walk): sample k of line l is
// at p[l * laneStep + k * step]. `behind` keeps the value the walk has just
// left as it was before this application.
template <bool kUnitLaneStep>
void ApplyLines(float* p, int32_t lanes, ptrdiff_t laneStepArg, int32_t n, ptrdiff_t step, const Kernel& k,
                float limit) {
    const ptrdiff_t laneStep = kUnitLaneStep ? 1 : laneStepArg;
    float behind[kLanes];

    float* cur = p;
    const float* ahead = cur + step;
    for (int32_t l = 0; l < lanes; ++l) {
        const float v = cur[l * laneStep];
        cur[l * laneStep] = Clamp((k.side * ahead[l * laneStep] + k.centre * v) * k.edge, limit);
        behind[l] = v;
    }
    for (int32_t j = 1; j + 1 < n; ++j) {
        cur += step;
        ahead = cur + step;
        for (int32_t l = 0; l < lanes; ++l) {
            const float v = cur[l * laneStep];
            cur[l * laneStep] = Clamp((k.side * behind[l] + k.centre * v) + k.side * ahead[l * laneStep], limit);
            behind[l] = v;
        }
    }
    cur += step;
    for (int32_t l = 0; l < lanes; ++l)
        cur[l * laneStep] = Clamp((k.side * behind[l] + k.centre * cur[l * laneStep]) * k.edge, limit);
}

void SharpenPlane(float* plane, int32_t width, int32_t height, float amount, float limit) {
    if (width <= 0 || height <= 0) return;
    const Kernel k = MakeKernel(amount);
    const ptrdiff_t pitch = width;
    if (width > 1) {
        for (int32_t y = 0, lanes = 0; y < height; y += lanes) {
            lanes = std::min(kLanes, height - y);
            float* row = plane + y * pitch;
            ApplyLines<false>(row, lanes, pitch, width, 1, k, limit);
            ApplyLines<false>(row + (pitch - 1), lanes, pitch, width, -1, k, limit);
        }
    }
    if (height > 1) {
        const ptrdiff_t lastRow = (ptrdiff_t{height} - 1) * pitch;
        for (int32_t x = 0, lanes = 0; x < width; x += lanes) {
            lanes = std::min(kLanes, width - x);
            ApplyLines<true>(plane + x, lanes, 1, height, pitch, k, limit);
            ApplyLines<true>(plane + lastRow + x, lanes, 1, height, -pitch, k, limit);
        }
    }
}

}  // namespace

void SharpenPlane8(const Plane& plane, float amount) {
    SharpenPlane(plane.data, plane.width, plane.height, amount, SampleDepth<uint8_t>::kFullF);
}

void SharpenPlane16(const Plane& plane, float amount) {
    SharpenPlane(plane.data, plane.width, plane.height, amount, SampleDepth<uint16_t>::kFullF);
}

}  // namespace lx
