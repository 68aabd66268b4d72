// SPDX-License-Identifier: MIT
// The noise floor of a picture's flat blocks: the level that the flattest
// block variances settle on.
#pragma once

namespace noiselib {

// Block variances kept by the search: at most kAccept times the floor.
constexpr float kAccept = 1.25f;

// The fixed point of v = the mean of the variances at or below kAccept v,
// searched from the 5th percentile of the `n` variances `e` (n >= 1).
// Where the variances rise steadily from there (grain or texture over most
// of the picture, a few flat blocks below it), the search creeps up with
// them and does not settle within its steps, and where it stops says
// nothing: the floor, if there is one, lies among the quietest blocks, so
// the search starts again from the 1st percentile and the lower of the two
// counts. Sorts `e`.
float NoiseFloorVariance(float* e, int n);

}  // namespace noiselib
