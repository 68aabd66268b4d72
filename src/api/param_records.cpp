// SPDX-License-Identifier: MIT
#include "api/param_records.h"

#include <new>

#include "analysis/analyse_blob.h"
#include "pipeline/apply_blob_param.h"

namespace lx {
namespace {

// The settings of the pass that builds the base map: the knee curve at
// strength 80, local contrast on, tint mode 1, black point at the 0.3 %
// percentile, nothing else.
ApplySettings BaseMapPassSettings(bool wide, int32_t* strength, ProgressCallback progress, void* context) {
    ApplySettings s;
    s.mapOffsetX = 0, s.mapOffsetY = 0, s.mapScale = 1.0f;
    s.useVariant = 1, s.tintMode = 1, s.variantStrength = 1.0f;
    s.useShadowClip = 1, s.shadowClipIndex = 2;
    s.curveBlack = wide ? 3072 : 12;
    s.useToneLevel = 0, s.toneLevelRow = 1, s.strengthLimit = 100, s.toneStrength = strength;
    s.localContrast = 1, s.curveAmount = 0.05f;
    s.curveType = kCurveKnee;
    s.finish = {.colorAmount = 1.0f, .sharpenAmount = 1.0f, .warmToneStrength = 1.0f};
    s.denoise = 0, s.noisePreset = 0, s.noiseAdjustA = 0, s.noiseAdjustB = 0, s.noiseLevelOverride = 0;
    s.noiseWord0 = -1, s.noiseQword = 0;
    s.progress = progress, s.progressContext = context;
    s.mapOnly = true;
    return s;
}

}  // namespace

ImageParam* CalcImageBlobParamImpl(const ImageBlob& blob, ProgressCallback progress, void* progressContext) {
    // A blob of an unknown sample type has no pixels to analyse; a record
    // without analysis would only mislead, so there is none.
    if (blob.pixels == nullptr || (blob.sampleType != 0 && blob.sampleType != 1)) return nullptr;
    const bool wide = blob.sampleType == 1;
    ParamOwner param(new (std::nothrow) ImageParam{});  // zeroed: no base map yet
    if (!param) return nullptr;
    if (!(wide ? AnalyseBlob16(blob, *param) : AnalyseBlob8(blob, *param))) return nullptr;

    // One pass of the pipeline builds and caches the base map; its planar
    // output is thrown away, so the pass computes the map and nothing else
    // (the planes are taken, and given back, without being written).
    const int64_t rowStride = int64_t{blob.width} * (wide ? 2 : 1);
    HostArray<uint8_t> planes[3];
    for (auto& p : planes)
        if (!(p = HostArray<uint8_t>::Allocate(rowStride * blob.height))) return nullptr;
    const ImageDesc out{blob.sampleType, blob.width, blob.height, int32_t(rowStride), wide ? 2 : 1,
                        planes[0].data(), planes[1].data(), planes[2].data()};
    int32_t strength = 80;
    const ApplySettings s = BaseMapPassSettings(wide, &strength, progress, progressContext);
    const bool ok = wide ? ApplyBlobParam16(out, blob, *param, s) : ApplyBlobParam8(out, blob, *param, s);
    for (auto& p : planes) p.reset();
    return ok ? param.release() : nullptr;
}

void FreeImageParamImpl(ImageParam* param) {
    if (param == nullptr) return;
    ReleaseHostBlock(param->baseMap);
    delete param;
}

}  // namespace lx
