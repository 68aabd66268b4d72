// SPDX-License-Identifier: MIT
// The long exports called with named settings, so that a caller says which
// setting it means instead of counting commas: fill the arguments' record
// with designated initialisers (two swapped numbers then fail to compile
// where they would pass as arguments) and hand it to the call. Header only,
// for the command, the tests and the benchmarks; not part of the library.
#pragma once

#include <cstdint>

#include "lumarex/lumarex.h"

namespace lumarex_calls {

// LumarexComprehensive's arguments 2..24, at their neutral values.
struct OneShotArgs {
    int32_t tintCorrection = 0, tintMode = 0, unused4 = 0;
    float tintStrength = 1.0f;
    int32_t curveBlack = 12, shadowClip = 0, shadowClipPermille = 0;
    int32_t* toneStrength = nullptr;
    int32_t localContrast = 0, curveFamily = 0, curveReduction = 0, colorMode = 0;
    float colorAmount = 0.0f;
    int32_t sharpen = 0;
    float sharpenAmount = 0.0f;
    int32_t autoTone = 0, toneTarget = 0, strengthLimit = 100, warmTone = 0;
    float warmToneStrength = 0.0f;
    int32_t cubeAlsoC = 0, colorCube = 0, cubeSelect = 0;
};

inline int32_t OneShot(const ImageDesc& image, const OneShotArgs& a) {
    return LumarexComprehensive(&image, a.tintCorrection, a.tintMode, a.unused4, a.tintStrength, a.curveBlack,
                                a.shadowClip, a.shadowClipPermille, a.toneStrength, a.localContrast, a.curveFamily,
                                a.curveReduction, a.colorMode, a.colorAmount, a.sharpen, a.sharpenAmount, a.autoTone,
                                a.toneTarget, a.strengthLimit, a.warmTone, a.warmToneStrength, a.cubeAlsoC,
                                a.colorCube, a.cubeSelect);
}

// The settings of ApplyImageBlobParam (arguments 4..38) and of the region
// export, at their neutral values.
struct ApplyArgs {
    int32_t mapOffsetX = 0, mapOffsetY = 0;
    float mapScale = 1.0f;
    int32_t useVariant = 0, tintMode = 0;
    float variantStrength = 1.0f;
    int32_t useShadowClip = 0, shadowClipIndex = 0, useToneLevel = 0, toneLevelRow = 0, strengthLimit = 100;
    int32_t* toneStrength = nullptr;
    int32_t localContrast = 0;
    float curveAmount = 0.0f;
    int32_t strongCurve = 0, curveBlack = 12, colorMode = 0;
    float colorAmount = 0.0f;
    int32_t sharpen = 0;
    float sharpenAmount = 0.0f;
    int32_t warmTone = 0, unused = 0;
    float warmToneStrength = 0.0f;
    int32_t colorCube = 0, cubeSelect = 0, cubeAlsoC = 0, denoise = 0, noisePreset = 0, noiseAdjustA = 0,
            noiseAdjustB = 0, noiseLevelOverride = -1, noiseWord0 = -1;
    int64_t noiseQword = 0;
    ProgressCallback progress = nullptr;
    void* progressContext = nullptr;
};

inline int32_t Apply(const ImageDesc& image, const ImageBlob* blob, ImageParam* param, const ApplyArgs& a) {
    return ApplyImageBlobParam(&image, blob, param, a.mapOffsetX, a.mapOffsetY, a.mapScale, a.useVariant, a.tintMode,
                               a.variantStrength, a.useShadowClip, a.shadowClipIndex, a.useToneLevel, a.toneLevelRow,
                               a.strengthLimit, a.toneStrength, a.localContrast, a.curveAmount, a.strongCurve,
                               a.curveBlack, a.colorMode, a.colorAmount, a.sharpen, a.sharpenAmount, a.warmTone,
                               a.unused, a.warmToneStrength, a.colorCube, a.cubeSelect, a.cubeAlsoC, a.denoise,
                               a.noisePreset, a.noiseAdjustA, a.noiseAdjustB, a.noiseLevelOverride, a.noiseWord0,
                               a.noiseQword, a.progress, a.progressContext);
}

struct Region {
    int32_t left = 0, top = 0, width = 0, height = 0;
};

inline int32_t ApplyLocal(const ImageDesc& image, const ImageBlob* blob, ImageParam* param, Region r,
                          const ApplyArgs& a) {
    return ApplyImageBlobParamLocal(&image, blob, param, a.mapOffsetX, a.mapOffsetY, a.mapScale, r.left, r.top,
                                    r.width, r.height, a.useVariant, a.tintMode, a.variantStrength, a.useShadowClip,
                                    a.shadowClipIndex, a.useToneLevel, a.toneLevelRow, a.strengthLimit,
                                    a.toneStrength, a.localContrast, a.curveAmount, a.strongCurve, a.curveBlack,
                                    a.colorMode, a.colorAmount, a.sharpen, a.sharpenAmount, a.warmTone, a.unused,
                                    a.warmToneStrength, a.colorCube, a.cubeSelect, a.cubeAlsoC, a.denoise,
                                    a.noisePreset, a.noiseAdjustA, a.noiseAdjustB, a.noiseLevelOverride,
                                    a.noiseWord0, a.noiseQword, a.progress, a.progressContext);
}

}  // namespace lumarex_calls
