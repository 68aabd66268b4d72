// SPDX-License-Identifier: MIT
// Normalised first-order recursive (exponential) smoothing of a float plane.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// Fills norm[0..n) with SmoothNorm for decay a: entry i is
// 1 / (1 + a + a^2 + ... + a^i), the reciprocal of the sum of the i + 1
// newest weights of a one-sided pass; entry 0 is 1. Built with the running
// recurrence the pipelines use (sums of powers of a, then reciprocals), so
// the values are bit-for-bit theirs. n = 1 gives {1}, n = 2 gives
// {1, 1 / (1 + a)}; n <= 0 writes nothing. The caller owns `norm`.
void BuildSmoothNorm(float* norm, int32_t n, float a);

// Blurs `plane` (width x height floats, row after row, no gap) in place:
// along every row a forward and then a backward pass, then the same along
// every column. Each pass keeps a raw running sum Y = v + a * Y and stores
// Y times the normalisation of the number of samples it has seen, so a
// constant plane stays constant, borders included. A sample k steps away
// weighs a^k in each pass.
//
// a: decay in [0, 1); the callers use a = exp(-1 / (0.5 r)) for a radius r.
//   a = 0 returns the plane itself.
// norm: BuildSmoothNorm(norm, max(width, height), a); entries
//   0..max(width, height) - 1 are read, nothing beyond.
// Rows are smoothed only when width > 1, columns only when height > 1, so a
// plane of one column is smoothed down the column alone and a plane of one
// row along the row alone; empty planes are left alone.
// Allocates nothing. Runs the SIMD twin (exp_smooth_plane_twins.h) when the
// build has it; the plain and the SIMD twin give the same bits.
void ExpSmoothPlane(const Plane& plane, const float* norm, float a);

// The row half of ExpSmoothPlane alone: every row of `rows` forward and then
// backward, nothing when width <= 1. Callers that stream a plane through
// the filter run it on a band of rows and the column steps below
// themselves; the values are those of ExpSmoothPlane, bit for bit.
void ExpSmoothRows(const Plane& rows, const float* norm, float a);

// One step of a column pass over a row of n columns, for callers that walk
// the rows themselves. The forward pass keeps raw sums in the plane, row i
// holding Y_i = v_i + a Y_(i-1) (row 0 keeps v_0); the backward pass turns
// them into the smoothed values: f_i = Y_i norm[i], Z_i = f_i + a Z_(i+1)
// (the last row starts Z = f), result Z_i norm[rows - 1 - i]. The raw sum of
// a row is its value before the normalisation ExpSmoothPlane applies at
// once, so the values are its values.
void ColumnForwardStep(float* row, const float* above, int64_t n, float a);

}  // namespace lx
