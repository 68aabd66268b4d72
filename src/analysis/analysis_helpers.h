// SPDX-License-Identifier: MIT
// Building blocks of the colour-cast (tint) analysis: a usability test for a
// channel histogram, the sort of the chromaticity cells, the smoothing of the
// chromaticity grid and three ways of turning ranked cells into channel gains.
// All are pure functions on caller-owned arrays: nothing is allocated and no
// state is kept.
//
// The chromaticity grid is 101 x 101 floats, row-major, row index x (second
// channel against the first), column index y (third channel against the
// first), each 0..100. 50 on an axis means that channel equals the first one;
// below 50 it is weaker, above 50 stronger.
//
// A cell list is three parallel arrays of kChromaCells entries (weight, x, y),
// one entry per grid cell. The gain operations expect it ranked from the most
// to the least populated cell.
#pragma once

#include <cstdint>

namespace lx {

inline constexpr int32_t kChromaSide = 101;
inline constexpr int32_t kChromaCells = kChromaSide * kChromaSide;  // 10201
inline constexpr int32_t kChromaNeutral = 50;

// Gains for the first, second and third channel. The first channel is the
// reference, so `first` is always 1.0.
struct GainTriple {
    float first = 1.0f;
    float second = 1.0f;
    float third = 1.0f;
};

// Decides whether a channel histogram of n float counts is spread enough to
// analyse, or piled up against one end.
//   - The occupied range lo..hi runs from the lowest to the highest bin with a
//     count above 0.5.
//   - An end bin is a spike when it is taller than `factor` times every inner
//     bin (lo+1 .. hi-1).
//   - The end bands are the first and last w + 1 bins of the occupied range,
//     w = trunc((hi - lo + 1) * bandPercent / 100).
//   - A spiked end makes the histogram unusable when its band holds at least
//     `sharePercent` % of the mass.
// The analysis uses factor 1.3, band 30 and share 70.
// Result: true when usable. An all-zero histogram has no spike and is
// usable; so is one whose mass sits in a single bin (the two bands are then
// that one bin, and the total they are measured against counts it twice).
// Bands reaching past the histogram are cut at its ends; n <= 0 counts as an
// empty histogram (usable).
bool IsHistogramUsable(const float* hist, float factor, float bandPercent, float sharePercent,
                      int32_t n);

// Sorts keys ascending and moves payloadA and payloadB with them, by a
// diminishing-gap exchange sort: gaps n/2, n/4, ..., 1; at each gap, passes
// exchange entries i and i+gap whenever keys[i] > keys[i+gap] (strictly),
// each pass ending where the previous one made its last exchange, until a
// pass exchanges nothing. The order left among equal keys is part of the
// result (callers read leading sections of the list): equal keys are never
// exchanged with each other directly, but exchanges across a gap above 1 can
// move one past another. n <= 1 does nothing. NaN keys are never moved by a
// comparison.
void SortCells(float* keys, int32_t* payloadA, int32_t* payloadB, int32_t n);

// Smooths the 101 x 101 grid in place with a two-sided first-order recursive
// filter, a = exp(-ln 2 / halfLife) (0.62996 for the analysis' 1.5 cells):
// along every row forward g[j] += a g[j-1], then backward g[j] += a g[j+1];
// then along every column the same. There is no normalisation: away from the
// edges a uniform grid is scaled by (1/(1-a))^4 (about 53 for 1.5 cells),
// the same for every cell, which keeps rankings and ratios. A non-positive
// or NaN half-life leaves the grid unchanged.
void SmoothChromaGrid(float* grid, float halfLife);

// Maps a chromaticity coordinate divided by 50 (r = 1 neutral) to the gain
// that brings that channel to the first channel:
//
//      r     0.5   0.8   1.0   1.25  1.5
//      gain  2.0   1.25  1.0   0.75  0.5
//
// 1/r below 1 (the channel is weaker, r = channel/first), 2 - r above 1 (the
// channel is stronger, r = 2 - first/channel), 1.0 at 1. r = 0 gives +inf and
// NaN stays NaN; the analysis never passes either.
float RatioToGain(float r);

// Tint mode 0. xs and ys are the ranked cell list (kChromaCells entries).
// If the box spanned by the first trunc(boxPercent * 10201 / 100) cells
// contains the neutral cell (50, 50), the gains are (1, 1, 1). Otherwise,
// among the first trunc(searchPercent * 10201 / 100) cells, the one nearest
// (50, 50) (squared distance; the earliest wins a tie) gives
// (1, RatioToGain(x/50), RatioToGain(y/50)) with x/50 and y/50 limited to
// 0.2 .. 1.8, so the gains stay within 0.2 .. 5.0.
// Counts are limited to 0 .. 10201; with no cell to search, (1, 1, 1).
GainTriple TintFromNearestCell(const int32_t* xs, const int32_t* ys, float boxPercent,
                               float searchPercent);

// Tint modes 1 and 2. The box of the first n = trunc(percent * 10201 / 100)
// cells of the ranked list is classified on each axis as below 50
// (max < 50), straddling 50 (min <= 50 <= max) or above 50 (min > 50), and
// the gains move the box edge nearest the neutral point onto it, with
// g(v) = RatioToGain(v / 50) and no limits:
//
//   x axis \ y axis | below                 | straddling       | above
//   ----------------+-----------------------+------------------+----------------------
//   below           | (1, g(maxX), g(maxY)) | (1, g(maxX), 1)  | (1, 1, 1)
//   straddling      | (1, 1, g(maxY))       | (1, 1, 1)        | (1, 1, g(minY))
//   above           | (1, 1, 1)             | (1, g(minX), 1)  | (1, g(minX), g(minY))
//
// n is limited to 0 .. 10201; n = 0 gives (1, 1, 1).
GainTriple TintFromCellBox(const int32_t* xs, const int32_t* ys, float percent);

// Tint mode 3: the weighted mean cell of the whole list (kChromaCells
// entries, any order). W, X = sum w x and Y = sum w y are summed in list
// order in single precision; the gains are
// (1, RatioToGain(X / W / 50), RatioToGain(Y / W / 50)).
// A list whose total weight is not positive has no mean; it gives (1, 1, 1).
GainTriple TintFromCentroid(const float* weights, const int32_t* xs, const int32_t* ys);

}  // namespace lx
