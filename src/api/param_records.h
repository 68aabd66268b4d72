// SPDX-License-Identifier: MIT
// The analysis record's lifecycle: CalcImageBlobParam and FreeImageParam.
#pragma once

#include "analysis/image_param.h"
#include "api/image_blob.h"
#include "lumarex/lumarex.h"

namespace lx {

ImageParam* CalcImageBlobParamImpl(const ImageBlob& blob, ProgressCallback progress, void* progressContext);
// Releases the cached base map (when built) and the record; null is ignored.
void FreeImageParamImpl(ImageParam* param);

}  // namespace lx
