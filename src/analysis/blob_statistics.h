// SPDX-License-Identifier: MIT
// Tone statistics of a blob for the parameter-driven pipelines.
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "image/image_blob.h"

namespace lx {

// For each statistics variant v (0: the blob as it is; 1..4: the blob after
// the tint gains of tint mode v - 1, or as variant 0 when that mode's
// needTint flag is clear) measures
//   shadowPercentiles[v][j]  the level below which (j + 1) x 0.1 % of all
//                            samples lie (0.1 % .. 5.0 %),
//   whitePoint[v]            the level at or above which the brightest 0.1 %
//                            of the pixel maxima lie,
//   toneLevels[r][v]         the strength, in percent of the knee builder's
//                            full log lift, that moves a shadow-weighted
//                            mean of the pixel maxima to level 140, 153 or
//                            165 (r = 0, 1, 2; 16-bit: 35904, 39168, 42432);
//                            0 when negative or undefined.
// Reads needTint and tintGains of `param`; writes nothing else.
// Working memory: nineteen host blocks of 256 (8-bit) or 65536 (16-bit)
// entries, plus the knee builder's own. Returns true when the record was
// filled; false when host memory ran short or the blob has no pixels (the
// statistics fields are then left as they were). Every block is released on
// every path. Each runs the plain or the fast twin (blob_statistics_twins.h);
// the same record.
bool CollectBlobStatistics8(const ImageBlob& blob, ImageParam& param);
bool CollectBlobStatistics16(const ImageBlob& blob, ImageParam& param);

}  // namespace lx
