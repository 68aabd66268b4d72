// SPDX-License-Identifier: MIT
// The pixel pass of the blob tone statistics: the histogram of the pixel
// maxima and the histogram of all samples, plain or after tint factors.
#pragma once

#include <cstdint>

#include "image/image_blob.h"

namespace lx {

// Adds every pixel of the blob (width x height, samples at blob.pixels) to
// maxHist (its largest sample) and to allHist (each of its three samples).
// Both hold 256 (8-bit) or 65536 (16-bit) counts and are added to, not reset.
// With `tinted`, each sample is first scaled by its channel's factor
// (factors red, green, blue, per mille, truncated toward zero); a pixel whose
// largest scaled sample passes 255 (16-bit: 65535) is stretched about its
// middle so that the largest lands there, and each sample is then limited to
// 0 .. 255 (16-bit: 0 .. 65280). Without `tinted` the factors are not read.
void FillBlobHistograms8(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                         int32_t* allHist);
void FillBlobHistograms16(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                          int32_t* allHist);

// FillBlobHistograms8 with the same counts, bit for bit, made faster: the
// scaled samples come from a table of the 256 values of each channel, and
// the counts go to six small histograms (two pixel columns x three channels)
// summed at the end, so that runs of equal samples do not wait on each
// other's increments. About 14 KB of stack.
void FillBlobHistograms8Tabled(const ImageBlob& blob, bool tinted, const int64_t factors[3], int32_t* maxHist,
                               int32_t* allHist);

}  // namespace lx
