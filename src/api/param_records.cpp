// SPDX-License-Identifier: MIT
#include "api/param_records.h"

namespace lx {

ImageParam* CalcImageBlobParamImpl(const ImageBlob& /*blob*/, ProgressCallback /*progress*/,
                                   void* /*progressContext*/) {
    // The analysis drivers and the apply pipelines are not built yet: report
    // failure rather than hand out an unfilled record.
    return nullptr;
}

void FreeImageParamImpl(ImageParam* param) {
    if (param == nullptr) return;
    ReleaseHostBlock(param->baseMap);
    delete param;
}

}  // namespace lx
