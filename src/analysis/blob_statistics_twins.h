// SPDX-License-Identifier: MIT
// The twins behind CollectBlobStatistics8 and CollectBlobStatistics16, for
// the analysis driver and the tests that compare them. Plain: one pass over
// the blob per variant, the reference. Fast: every distinct variant in one
// walk (see FillVariantHistograms8), and the statistics of the blob as if
// every sample were lowered by `black` (at most the smallest sample), while
// the blob is only read. Both take the same host blocks in the same order and
// give the same record, bit for bit. Neither is SIMD: a build without SIMD
// has both and runs the plain one.
#pragma once

#include <cstdint>

#include "analysis/blob_statistics.h"

namespace lx {

bool CollectBlobStatistics8Plain(const ImageBlob& blob, ImageParam& param);
bool CollectBlobStatistics16Plain(const ImageBlob& blob, ImageParam& param);
bool CollectBlobStatistics8Fast(const ImageBlob& blob, int32_t black, ImageParam& param);
bool CollectBlobStatistics16Fast(const ImageBlob& blob, int32_t black, ImageParam& param);

}  // namespace lx
