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
//
// With `quietFew`, a search that settles gives way to the one from the 1st
// percentile where that settles on blocks of their own, below 1 / kAccept^2
// of the first floor: the handful of flat blocks of a picture that is
// texture everywhere (a river between wooded mountains, its sky clipped,
// under white noise of deviation 6.7: 7.7 from the 1st percentile, 12.7 on
// the texture from the 5th). Blocks that rise steadily from their quiet
// end (a night sky whose noise grows with its brightness) give nearby
// floors, and the first stands.
float NoiseFloorVariance(float* e, int n, bool quietFew);

}  // namespace noiselib
