// SPDX-License-Identifier: MIT
// Measuring the noise of an image: per opponent channel (luma and the two
// chroma differences Cb, Cr) and per scale, in flat blocks only.
#pragma once

#include <cstdint>

namespace noiselib {

// Levels 0..2: pixels, and means of 2 x 2 and 4 x 4 pixels (the levels of
// the denoiser's pyramid).
constexpr int kNoiseLevels = 3;

// What the estimate found, on the 8-bit scale whatever the sample depth:
// the deviation of the noise in one pixel of each level, per channel (0 Y,
// 1 Cb, 2 Cr). White noise of deviation d reads d, d / 2, d / 4; noise
// correlated over a few pixels (demosaicing, JPEG) loses less to the
// averaging, up to d, d, d for noise in blotches larger than 4 pixels.
//
// `fall` tells how level 0's luma reading is made up: the deviation that
// the very blocks behind it keep when averaged 2 x 2 (over the same
// pixels), as a share of theirs. White noise keeps 0.5, noise correlated
// over a few pixels more (the benchmark's camera-like noise 0.71 .. 0.79);
// texture keeps most (0.8 .. 0.9 on detailed photos). Unlike level[0][1] /
// level[0][0], which reads other blocks (four times larger, so fewer and
// more textured), it judges the blocks the reading came from.
struct NoiseProfile {
    float level[3][kNoiseLevels] = {};
    float fall = 0.5f;
    float Level(int channel, int lvl) const { return level[channel][lvl]; }
};

// Scratch the estimate needs, in bytes (about 0.2 MB, whatever the image).
int64_t NoiseEstimateScratchBytes(int width, int height);

// The estimate. The image is cut into tiles of 64 x 64 pixels, of which at
// most 384 are visited on a regular grid (some 1.6 megapixels of work on any
// image). In each tile Y, Cb and Cr are averaged down to levels 1 and 2,
// and every 16 x 16 block of every level gets the variance of its pixels
// about their least-squares plane (ramps and shading cancel; 253 degrees of
// freedom). Blocks with more than 6 % clipped pixels (a sample at or below
// 1 or at or above 254) and blocks with no variance at all are left out.
// Blocks of a mean luma below 32 count only when the lighter ones are
// fewer than 8 or than 1 in 8 of all blocks: a camera's tone curve crushes
// the noise of deep shadows, and a night photo whose dark foreground
// outnumbers its noisy sky would otherwise read the foreground.
// Texture raises a block's variance above the noise, so the noise variance
// is the fixed point of
//
//     v = mean of the block variances at or below 1.25 v
//
// reached from the 5th percentile (noise_floor.h; where that search does
// not settle, from the 1st, and for the full-size luma also where the 1st
// settles on a few flat blocks well below it). For white noise the block
// variances spread by 9 %, so 1.25 v keeps every noise-only block; noise
// correlated over 3 pixels spreads them by about 27 % and reads a few
// percent low. Any block whose texture adds a quarter of the noise variance
// is dropped; a picture that is texture everywhere (grass, gravel) still
// reads high, by up to a quarter at deviation 5.
//
// Averaging never adds noise and cannot take away more than white noise
// loses, so level s + 1 is held within [1/2, 1] of level s for luma and
// at least 1/2 of it for chroma (whose coarser levels may read more: see
// EstimateNoise); a level with fewer than 8 usable blocks reads as white
// (half the finer level).
// Images smaller than 16 x 16 read as noiseless. `scratch` must hold
// NoiseEstimateScratchBytes(width, height) bytes.
template <class T>
NoiseProfile EstimateNoise(const uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
                           void* scratch);

}  // namespace noiselib
