// SPDX-License-Identifier: MIT
// The blob analysis drivers: fill a new analysis record from an image blob.
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "image/image_blob.h"

namespace lx {

// Measures the blob's black level, its colour cast in the four tint modes
// and the tone statistics of the five statistics variants, and writes them
// into `param` (width, height, blackLevel, needTint, tintGains,
// shadowPercentiles, whitePoint, toneLevels). The blob's samples are lowered
// by the black level during the call and restored before it returns, on
// success and on failure: it leaves byte for byte as it came.
// Returns true when the record is filled, false when host memory ran short
// (the record is then incomplete and must be discarded). Each runs the
// plain or the fast twin (analyse_blob_twins.h); the same record.
bool AnalyseBlob8(const ImageBlob& blob, ImageParam& param);   // 8-bit blob
bool AnalyseBlob16(const ImageBlob& blob, ImageParam& param);  // 16-bit blob

}  // namespace lx
