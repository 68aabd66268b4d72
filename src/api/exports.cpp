// SPDX-License-Identifier: MIT
// The exported functions. Each is a thin shell: it maps its arguments onto
// the library's own operations and makes sure no exception leaves it.
#include <algorithm>
#include <cstring>
#include <new>

#include "analysis/image_param.h"
#include "image/image_blob.h"
#include "api/param_records.h"
#include "host/host_buffers.h"
#include "lumarex/lumarex.h"
#include "noise/detect_noise.h"
#include "noise/noise_library.h"
#include "oneshot/lumarex_comprehensive.h"
#include "pipeline/apply_blob_param.h"

namespace {

// Runs `body` and turns any escaping exception into `failure`: nothing may
// unwind through the C interface.
template <class R, class F>
R Guard(R failure, F&& body) noexcept {
    try {
        return body();
    } catch (...) {
        return failure;
    }
}

// The 16-bit pipelines take the curve black level in 16-bit units; the
// exports take it at 8 bits.
int32_t CurveBlackFor(int32_t sampleType, int32_t curveBlack) {
    const int64_t black = sampleType == 1 ? int64_t{curveBlack} * 256 : curveBlack;
    return int32_t(std::clamp<int64_t>(black, INT32_MIN, INT32_MAX));
}

// The strong-curve switch of the exports selects the log/exp builder over
// the log lift.
int32_t CurveTypeFor(int32_t strongCurve) { return strongCurve != 0 ? lx::kCurveLogExp : lx::kCurveLog; }

}  // namespace

extern "C" {

void InitLXLibComprehensive(const char* /*text*/) noexcept {}
void ReleaseLXLibComprehensive(void) noexcept {}

uint32_t GetLibraryVersion(void) noexcept { return LUMAREX_VERSION; }

void SetFilterRecord(FilterRecord* record) noexcept {
    lx::SetHostRecord(record);
    if (auto forward = lx::noise::Entries().setFilterRecord) forward(record);
}

ImageBlob* AllocImageBlob(const ImageDesc* image) noexcept {
    return Guard<ImageBlob*>(nullptr, [&] { return lx::AllocImageBlobImpl(*image); });
}

void FreeImageBlob(ImageBlob* blob) noexcept { lx::FreeImageBlobImpl(blob); }

int32_t LumarexComprehensive(const ImageDesc* image, int32_t tintCorrection, int32_t tintMode, int32_t /*unused4*/,
                             float tintStrength, int32_t curveBlack, int32_t shadowClip, int32_t shadowClipPermille,
                             int32_t* toneStrength, int32_t localContrast, int32_t curveFamily,
                             int32_t curveReduction, int32_t colorMode, float colorAmount, int32_t sharpen,
                             float sharpenAmount, int32_t autoTone, int32_t toneTarget, int32_t strengthLimit,
                             int32_t warmTone, float warmToneStrength, int32_t cubeAlsoC, int32_t colorCube,
                             int32_t cubeSelect) noexcept {
    const lx::OneShotSettings s{.tintCorrection = tintCorrection,
                                .tintMode = tintMode,
                                .tintStrength = tintStrength,
                                .curveBlack = curveBlack,
                                .shadowClip = shadowClip,
                                .shadowClipPermille = shadowClipPermille,
                                .toneStrength = toneStrength,
                                .localContrast = localContrast,
                                .curveFamily = curveFamily,
                                .curveReduction = curveReduction,
                                .autoTone = autoTone,
                                .toneTarget = toneTarget,
                                .strengthLimit = strengthLimit,
                                .finish = {.colorMode = colorMode,
                                           .colorAmount = colorAmount,
                                           .sharpen = sharpen,
                                           .sharpenAmount = sharpenAmount,
                                           .warmTone = warmTone,
                                           .warmToneStrength = warmToneStrength,
                                           .colorCube = colorCube,
                                           .cubeSelect = cubeSelect,
                                           .cubeAlsoC = cubeAlsoC}};
    return Guard<int32_t>(0, [&] { return lx::LumarexComprehensive8(*image, s); });
}

// Both apply exports take the settings under the same names; this turns
// them into the settings record once, field by field, for either call.
#define LX_APPLY_SETTINGS_FROM_ARGUMENTS(image)                                                                        \
    lx::ApplySettings {                                                                                                \
        .mapOffsetX = mapOffsetX, .mapOffsetY = mapOffsetY, .mapScale = mapScale, .useVariant = useVariant,            \
        .tintMode = tintMode, .variantStrength = variantStrength, .useShadowClip = useShadowClip,                      \
        .shadowClipIndex = shadowClipIndex, .curveBlack = CurveBlackFor((image)->sampleType, curveBlack),              \
        .useToneLevel = useToneLevel, .toneLevelRow = toneLevelRow, .strengthLimit = strengthLimit,                    \
        .toneStrength = toneStrength, .localContrast = localContrast, .curveAmount = curveAmount,                      \
        .curveType = CurveTypeFor(strongCurve),                                                                        \
        .finish = {.colorMode = colorMode, .colorAmount = colorAmount, .sharpen = sharpen,                             \
                   .sharpenAmount = sharpenAmount, .warmTone = warmTone, .warmToneStrength = warmToneStrength,         \
                   .colorCube = colorCube, .cubeSelect = cubeSelect, .cubeAlsoC = cubeAlsoC},                          \
        .denoise = denoise, .noisePreset = noisePreset,                                                                \
        .noiseAdjustA = noiseAdjustA, .noiseAdjustB = noiseAdjustB, .noiseLevelOverride = noiseLevelOverride,          \
        .noiseWord0 = noiseWord0, .noiseQword = noiseQword, .progress = progress,                                      \
        .progressContext = progressContext                                                                             \
    }

ImageParam* CalcImageBlobParam(const ImageBlob* blob, ProgressCallback progress,
                               void* progressContext) noexcept {
    return Guard<ImageParam*>(nullptr, [&] { return lx::CalcImageBlobParamImpl(*blob, progress, progressContext); });
}

void FreeImageParam(ImageParam* param) noexcept { lx::FreeImageParamImpl(param); }

int32_t ApplyImageBlobParam(const ImageDesc* image, const ImageBlob* blob, ImageParam* param, int32_t mapOffsetX,
                            int32_t mapOffsetY, float mapScale, int32_t useVariant, int32_t tintMode,
                            float variantStrength, int32_t useShadowClip, int32_t shadowClipIndex,
                            int32_t useToneLevel, int32_t toneLevelRow, int32_t strengthLimit, int32_t* toneStrength,
                            int32_t localContrast, float curveAmount, int32_t strongCurve, int32_t curveBlack,
                            int32_t colorMode, float colorAmount, int32_t sharpen, float sharpenAmount,
                            int32_t warmTone, int32_t /*unused25*/, float warmToneStrength, int32_t colorCube,
                            int32_t cubeSelect, int32_t cubeAlsoC, int32_t denoise, int32_t noisePreset,
                            int32_t noiseAdjustA, int32_t noiseAdjustB, int32_t noiseLevelOverride,
                            int32_t noiseWord0, int64_t noiseQword, ProgressCallback progress,
                            void* progressContext) noexcept {
    const lx::ApplySettings s = LX_APPLY_SETTINGS_FROM_ARGUMENTS(image);
    return Guard<int32_t>(-1, [&] {
        bool ok = false;
        if (image->sampleType == 0) ok = lx::ApplyBlobParam8(*image, *blob, *param, s);
        else if (image->sampleType == 1) ok = lx::ApplyBlobParam16(*image, *blob, *param, s);
        return ok ? 0 : -1;
    });
}

int32_t ApplyImageBlobParamLocal(const ImageDesc* image, const ImageBlob* blob, ImageParam* param,
                                 int32_t mapOffsetX, int32_t mapOffsetY, float mapScale, int32_t regionLeft,
                                 int32_t regionTop, int32_t /*regionWidth*/, int32_t /*regionHeight*/,
                                 int32_t useVariant, int32_t tintMode, float variantStrength, int32_t useShadowClip,
                                 int32_t shadowClipIndex, int32_t useToneLevel, int32_t toneLevelRow,
                                 int32_t strengthLimit, int32_t* toneStrength, int32_t localContrast,
                                 float curveAmount, int32_t strongCurve, int32_t curveBlack, int32_t colorMode,
                                 float colorAmount, int32_t sharpen, float sharpenAmount, int32_t warmTone,
                                 int32_t /*unused29*/, float warmToneStrength, int32_t colorCube, int32_t cubeSelect,
                                 int32_t cubeAlsoC, int32_t denoise, int32_t noisePreset, int32_t noiseAdjustA,
                                 int32_t noiseAdjustB, int32_t noiseLevelOverride, int32_t noiseWord0,
                                 int64_t noiseQword, ProgressCallback progress, void* progressContext) noexcept {
    const lx::ApplySettings s = LX_APPLY_SETTINGS_FROM_ARGUMENTS(image);
    // The region's size is the destination's; its width and height
    // arguments (and so its bottom and right edges) change nothing.
    const lx::BlobRegion region{regionTop, regionLeft};
    return Guard<int32_t>(0, [&] {
        bool ok = false;
        if (image->sampleType == 0) ok = lx::ApplyBlobParamLocal8(*image, *blob, *param, s, region);
        else if (image->sampleType == 1) ok = lx::ApplyBlobParamLocal16(*image, *blob, *param, s, region);
        return ok ? 1 : 0;
    });
}

#undef LX_APPLY_SETTINGS_FROM_ARGUMENTS

int32_t NeedTintCorrection(const ImageParam* param, int32_t index) noexcept {
    if (param == nullptr) return 0;
    // Word `index` of the record; words 0..3 are the tint flags. An index
    // outside the record reads as 0 rather than past its end.
    constexpr int32_t kWords = static_cast<int32_t>(sizeof(ImageParam) / sizeof(int32_t));
    if (index < 0 || index >= kWords) return 0;
    int32_t word;
    std::memcpy(&word, reinterpret_cast<const unsigned char*>(param) + std::size_t(index) * 4, sizeof word);
    return word;
}

}  // extern "C"

extern "C" {

int32_t DetectNoise(const ImageDesc* image, int32_t noisePreset, int32_t noiseLevelOverride, int32_t noiseWord0,
                    int64_t noiseQword) noexcept {
    return Guard<int32_t>(0, [&] {
        return lx::noise::DetectNoise(image, noisePreset, noiseLevelOverride, noiseWord0, noiseQword);
    });
}

}  // extern "C"
