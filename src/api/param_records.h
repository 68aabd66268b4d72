// SPDX-License-Identifier: MIT
// The analysis record's lifecycle: CalcImageBlobParam and FreeImageParam.
#pragma once

#include <memory>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "lumarex/lumarex.h"

namespace lx {

// Analyses the blob into a new record, then runs the apply pipeline once
// with fixed settings on a throw-away planar image, which builds and caches
// the record's base map. Null when the blob has no pixels or an unknown
// sample type, when host memory runs short, or when the progress callback
// asks to stop; everything taken so far is then released.
ImageParam* CalcImageBlobParamImpl(const ImageBlob& blob, ProgressCallback progress, void* progressContext);
// Releases the cached base map (when built) and the record; null is ignored.
void FreeImageParamImpl(ImageParam* param);

struct ParamDeleter {
    void operator()(ImageParam* param) const { FreeImageParamImpl(param); }
};
using ParamOwner = std::unique_ptr<ImageParam, ParamDeleter>;

}  // namespace lx
