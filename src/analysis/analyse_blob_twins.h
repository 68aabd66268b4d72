// SPDX-License-Identifier: MIT
// The twins behind AnalyseBlob8 and AnalyseBlob16. Plain, the reference: a
// histogram of every sample for the black level, the blob lowered in place
// and restored, one cast analysis per tint mode and one pass over the blob
// per statistics variant. Fast: the black level as the smallest sample, the
// blob only read (every sample lowered as it is read), the four tint modes
// sharing their work and the statistics variants counted in one walk. Both
// take the same host blocks in the same order and fill the record bit for bit
// alike. Neither is SIMD: a build without SIMD has both and runs the plain
// one.
#pragma once

#include "analysis/analyse_blob.h"

namespace lx {

bool AnalyseBlob8Plain(const ImageBlob& blob, ImageParam& param);
bool AnalyseBlob16Plain(const ImageBlob& blob, ImageParam& param);
bool AnalyseBlob8Fast(const ImageBlob& blob, ImageParam& param);
bool AnalyseBlob16Fast(const ImageBlob& blob, ImageParam& param);

}  // namespace lx
