// SPDX-License-Identifier: MIT
// The twins behind ExpSmoothPlane, ExpSmoothRows and ColumnForwardStep: the
// plain form, the reference, and the fast form (SIMD, exp_smooth_plane_hwy.cpp;
// the plain form again in a build without SIMD, simd/no_simd.cpp). The same
// bits either way. For the SIMD file and the tests that compare the two; the
// pipelines call the choosers in exp_smooth_plane.h.
#pragma once

#include <cstdint>

#include "stages/exp_smooth_plane.h"

namespace lx {

void ExpSmoothPlanePlain(const Plane& plane, const float* norm, float a);
void ExpSmoothPlaneFast(const Plane& plane, const float* norm, float a);
void ExpSmoothRowsPlain(const Plane& rows, const float* norm, float a);
void ExpSmoothRowsFast(const Plane& rows, const float* norm, float a);
void ColumnForwardStepPlain(float* row, const float* above, int64_t n, float a);
void ColumnForwardStepFast(float* row, const float* above, int64_t n, float a);

}  // namespace lx
