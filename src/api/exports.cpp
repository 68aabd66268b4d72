// SPDX-License-Identifier: MIT
// The exported functions. Each is a thin shell: it maps its arguments onto
// the library's own operations and makes sure no exception leaves it.
#include <cstring>
#include <new>

#include "analysis/image_param.h"
#include "api/image_blob.h"
#include "api/param_records.h"
#include "host/host_buffers.h"
#include "lumarex/lumarex.h"
#include "noise/detect_noise.h"
#include "noise/noise_library.h"
#include "oneshot/lumarex_comprehensive.h"

namespace lx {
ImageBlob* AllocImageBlobImpl(const ImageDesc& image);
void FreeImageBlobImpl(ImageBlob* blob);
}  // namespace lx

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
    const lx::OneShotSettings s{tintCorrection, tintMode,      tintStrength,  curveBlack,     shadowClip,
                                shadowClipPermille, toneStrength, localContrast, curveFamily, curveReduction,
                                colorMode,      colorAmount,   sharpen,       sharpenAmount,  autoTone,
                                toneTarget,     strengthLimit, warmTone,      warmToneStrength, cubeAlsoC,
                                colorCube,      cubeSelect};
    return Guard<int32_t>(0, [&] { return lx::LumarexComprehensive8(*image, s); });
}

ImageParam* CalcImageBlobParam(const ImageBlob* blob, ProgressCallback progress,
                               void* progressContext) noexcept {
    return Guard<ImageParam*>(nullptr, [&] { return lx::CalcImageBlobParamImpl(*blob, progress, progressContext); });
}

void FreeImageParam(ImageParam* param) noexcept { lx::FreeImageParamImpl(param); }

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

// Operations whose pipelines are not built yet. Each returns its failure
// result; none pretends to have corrected anything.
extern "C" {

int32_t ApplyImageBlobParam(const ImageDesc*, const ImageBlob*, ImageParam*, int32_t, int32_t, float, int32_t,
                            int32_t, float, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t*, int32_t, float,
                            int32_t, int32_t, int32_t, float, int32_t, float, int32_t, int32_t, float, int32_t,
                            int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int64_t,
                            ProgressCallback, void*) noexcept {
    return -1;
}

int32_t ApplyImageBlobParamLocal(const ImageDesc*, const ImageBlob*, ImageParam*, int32_t, int32_t, float,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, float, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t*, int32_t, float, int32_t, int32_t, int32_t,
                                 float, int32_t, float, int32_t, int32_t, float, int32_t, int32_t, int32_t,
                                 int32_t, int32_t, int32_t, int32_t, int32_t, int32_t, int64_t, ProgressCallback,
                                 void*) noexcept {
    return 0;
}

int32_t DetectNoise(const ImageDesc* image, int32_t noisePreset, int32_t noiseLevelOverride, int32_t noiseWord0,
                    int64_t noiseQword) noexcept {
    return Guard<int32_t>(0, [&] {
        return lx::noise::DetectNoise(image, noisePreset, noiseLevelOverride, noiseWord0, noiseQword);
    });
}

}  // extern "C"
