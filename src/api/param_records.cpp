// SPDX-License-Identifier: MIT
#include "api/param_records.h"

#include <new>

#include "analysis/analyse_blob.h"
#include "pipeline/apply_blob_param.h"

namespace lx {

ImageParam* CalcImageBlobParamImpl(const ImageBlob& blob, ProgressCallback progress, void* progressContext) {
    // A blob of an unknown sample type has no pixels to analyse; a record
    // without analysis would only mislead, so there is none.
    if (blob.pixels == nullptr || (blob.sampleType != 0 && blob.sampleType != 1)) return nullptr;
    const bool wide = blob.sampleType == 1;
    auto* param = new (std::nothrow) ImageParam{};  // zeroed: no base map yet
    if (param == nullptr) return nullptr;
    if ((wide ? AnalyseBlob16(blob, *param) : AnalyseBlob8(blob, *param)) == 0) {
        delete param;
        return nullptr;
    }

    // One pass of the pipeline with fixed settings builds and caches the base
    // map; its planar output is thrown away.
    const int64_t rowStride = int64_t{blob.width} * (wide ? 2 : 1);
    HostBuffer planes[3];
    for (auto& p : planes) {
        p = HostBuffer::Allocate(rowStride * blob.height);
        if (!p) {
            delete param;  // the blocks obtained so far go with `planes`
            return nullptr;
        }
    }
    const ImageDesc out{blob.sampleType, blob.width, blob.height, int32_t(rowStride), wide ? 2 : 1,
                        planes[0].data<uint8_t>(), planes[1].data<uint8_t>(), planes[2].data<uint8_t>()};
    int32_t strength = 80;
    ApplySettings s;
    s.mapOffsetX = 0, s.mapOffsetY = 0, s.mapScale = 1.0f;
    s.useVariant = 1, s.tintMode = 1, s.variantStrength = 1.0f;
    s.useShadowClip = 1, s.shadowClipIndex = 2;
    s.curveBlack = wide ? 3072 : 12;
    s.useToneLevel = 0, s.toneLevelRow = 1, s.strengthLimit = 100, s.toneStrength = &strength;
    s.localContrast = 1, s.curveAmount = 0.05f;
    s.sharpen = 0, s.sharpenAmount = 1.0f;
    s.warmTone = 0, s.reserved22 = 0, s.warmToneStrength = 1.0f;
    s.colorCube = 0, s.cubeSelect = 0, s.cubeAlsoC = 0;
    s.curveType = kCurveKnee;
    s.colorMode = 0, s.colorAmount = 1.0f;
    s.denoise = 0, s.noisePreset = 0, s.noiseAdjustA = 0, s.noiseAdjustB = 0, s.noiseLevelOverride = 0;
    s.noiseWord0 = -1, s.noiseQword = 0;
    s.progress = progress, s.progressContext = progressContext;
    const int32_t ok = wide ? ApplyBlobParam16(out, blob, *param, s) : ApplyBlobParam8(out, blob, *param, s);
    for (auto& p : planes) p.reset();
    if (ok == 0) {
        FreeImageParamImpl(param);
        return nullptr;
    }
    return param;
}

void FreeImageParamImpl(ImageParam* param) {
    if (param == nullptr) return;
    ReleaseHostBlock(param->baseMap);
    delete param;
}

}  // namespace lx
