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

// The histograms of one statistics variant: its tint (factors red, green,
// blue, per mille, read only when tinted) and its two outputs of 256 or
// 65536 counts.
struct VariantHistograms {
    bool tinted = false;
    int64_t factors[3] = {1000, 1000, 1000};
    int32_t* maxHist = nullptr;
    int32_t* allHist = nullptr;
};

// The histograms of `count` variants (up to five) in one walk over the blob,
// each exactly as FillBlobHistograms8/16 counts it into zeroed histograms
// on the blob with every sample lowered by `black` (which must not exceed
// the smallest sample); the blob itself is only read. The outputs are
// overwritten.
//   - Each sample is counted once per channel; a variant's histogram of all
//     samples is that count moved through the variant's per-channel scaling,
//     which is what every pixel gets unless the tint drives one of its
//     samples past the top.
//   - Only such hot pixels (a bright sample in a raised channel) take the
//     full per-pixel path; their counts replace the moved ones.
//   - A variant's maxima are counted per pixel, from the scaled samples.
// `channels` is scratch: three tables of 65536 counts (16-bit only; the
// 8-bit walk counts on the stack, about 25 KB).
void FillVariantHistograms8(const ImageBlob& blob, int32_t black, const VariantHistograms* variants, int count);
void FillVariantHistograms16(const ImageBlob& blob, int32_t black, const VariantHistograms* variants, int count,
                             int32_t* const channels[3]);

}  // namespace lx
