/* SPDX-License-Identifier: MIT
 * Lumarex: automatic photo correction. The exported C interface.
 *
 * Usable from C and C++. Every export is a plain function with a fixed
 * argument list; records cross as pointers; no exception ever leaves the
 * library. Settings are int32 switches (0 off, anything else on), int32 modes
 * and 32-bit float strengths.
 *
 * Calling order:
 *   1. SetFilterRecord(host record) before anything that takes host memory
 *      (AllocImageBlob, CalcImageBlobParam, the two Apply calls, and
 *      LumarexComprehensive with curveFamily 1). Without a record these fail
 *      with their failure result. The record must still be set when blobs and
 *      parameter records are freed.
 *   2. Either LumarexComprehensive on an 8-bit image, or
 *      AllocImageBlob -> CalcImageBlobParam -> any number of
 *      ApplyImageBlobParam / ApplyImageBlobParamLocal -> FreeImageParam ->
 *      FreeImageBlob.
 *
 * Symbol names: several exports carry a leading underscore in the library's
 * export table (_SetFilterRecord, _AllocImageBlob, ...). C and C++ callers
 * use the names without it, as declared here; the header binds them to the
 * exported symbols. Hosts that resolve the exports at run time look up the
 * underscored names.
 */
#ifndef LUMAREX_LUMAREX_H
#define LUMAREX_LUMAREX_H

#include <stdint.h>

#include "lumarex/host_sdk.h"

#if defined(_WIN32)
#  if defined(LUMAREX_BUILDING_LIBRARY)
     /* The export table comes from lumarex.def alone, under the interface's
        names; marking the functions dllexport would export them twice. */
#    define LX_API
#  elif defined(LUMAREX_STATIC)
#    define LX_API
#  else
#    define LX_API __declspec(dllimport)
#  endif
   /* The .def file maps the underscored export names onto these functions. */
#  define LX_SYMBOL(name)
#else
#  define LX_API __attribute__((visibility("default")))
#  define LX_SYMBOL(name) __asm__(name)
#endif

#ifdef __cplusplus
#  define LX_NOEXCEPT noexcept
#else
#  define LX_NOEXCEPT
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* The caller's image: three channel planes described alike whether planar
 * (pixelStride 1 or 2) or interleaved (three pointers one sample apart,
 * pixelStride 3 or 6). Strides are in bytes; for 16-bit images they are used
 * rounded down to an even number. The library only reads the descriptor; it
 * writes the samples where an operation says so. */
typedef struct ImageDesc {
    int32_t sampleType;  /* 0 = 8-bit, 1 = 16-bit unsigned */
    int32_t width;       /* pixels per row */
    int32_t height;      /* rows */
    int32_t rowStride;   /* bytes between rows of one channel */
    int32_t pixelStride; /* bytes between pixels of one channel */
    void* channel1;      /* red, row 0 pixel 0 */
    void* channel2;      /* green */
    void* channel3;      /* blue */
} ImageDesc;

/* Progress and stop: called with step 1..total; a non-zero result asks the
 * operation to stop, which then fails. A null callback is never called. */
typedef int32_t (*ProgressCallback)(int32_t step, int32_t total, void* context);

/* The interleaved working copy of an image (AllocImageBlob). Opaque. */
typedef struct ImageBlob ImageBlob;
/* The analysis record of a blob (CalcImageBlobParam). Opaque, except that
 * NeedTintCorrection reads its flags. */
typedef struct ImageParam ImageParam;

/* Version of the interface: 0x05010000. */
#define LUMAREX_VERSION 0x05010000u

/* Marks the start and end of a host's use of the library. Neither is needed
 * by any other call; `text` is accepted and ignored. */
LX_API void InitLXLibComprehensive(const char* text) LX_NOEXCEPT;
LX_API void ReleaseLXLibComprehensive(void) LX_NOEXCEPT;

/* Returns LUMAREX_VERSION. */
LX_API uint32_t GetLibraryVersion(void) LX_NOEXCEPT;

/* Keeps `record` process-wide (null included) as the source of host memory
 * and forwards it to the noise library when that is bound. */
LX_API void SetFilterRecord(FilterRecord* record) LX_NOEXCEPT LX_SYMBOL("_SetFilterRecord");

/* One-shot correction of an 8-bit image in place. Always returns 0.
 * `toneStrength` is read, and written when `autoTone` is on. */
LX_API int32_t LumarexComprehensive(const ImageDesc* image,
                                    int32_t tintCorrection, int32_t tintMode,
                                    int32_t unused4, float tintStrength,
                                    int32_t curveBlack, int32_t shadowClip,
                                    int32_t shadowClipPermille,
                                    int32_t* toneStrength, int32_t localContrast,
                                    int32_t curveFamily, int32_t curveReduction,
                                    int32_t colorMode, float colorAmount,
                                    int32_t sharpen, float sharpenAmount,
                                    int32_t autoTone, int32_t toneTarget,
                                    int32_t strengthLimit, int32_t warmTone,
                                    float warmToneStrength, int32_t cubeAlsoC,
                                    int32_t colorCube, int32_t cubeSelect)
    LX_NOEXCEPT LX_SYMBOL("_LumarexComprehensive");

/* Copies `image` (8-bit or 16-bit, planar or interleaved) into a new blob in
 * host memory. Null when host memory is short or no host record is set. A
 * sample type other than 0 or 1 gives a blob without pixels. */
LX_API ImageBlob* AllocImageBlob(const ImageDesc* image) LX_NOEXCEPT LX_SYMBOL("_AllocImageBlob");
/* Releases the blob and its pixels through the current host record. */
LX_API void FreeImageBlob(ImageBlob* blob) LX_NOEXCEPT LX_SYMBOL("_FreeImageBlob");

/* Analyses `blob` into a new record (and caches its base map). Null on
 * failure or when the callback asks to stop; nothing is then left allocated. */
LX_API ImageParam* CalcImageBlobParam(const ImageBlob* blob, ProgressCallback progress,
                                      void* progressContext)
    LX_NOEXCEPT LX_SYMBOL("_CalcImageBlobParam");
/* Releases the record and its cached base map. */
LX_API void FreeImageParam(ImageParam* param) LX_NOEXCEPT LX_SYMBOL("_FreeImageParam");

/* Corrects the whole blob into `image` (8-bit or 16-bit by image->sampleType).
 * Returns 0 on success, -1 on failure or stop. */
LX_API int32_t ApplyImageBlobParam(
    const ImageDesc* image, const ImageBlob* blob, ImageParam* param,
    int32_t mapOffsetX, int32_t mapOffsetY, float mapScale,
    int32_t useVariant, int32_t tintMode, float variantStrength,
    int32_t useShadowClip, int32_t shadowClipIndex,
    int32_t useToneLevel, int32_t toneLevelRow, int32_t strengthLimit,
    int32_t* toneStrength, int32_t localContrast, float curveAmount,
    int32_t strongCurve, int32_t curveBlack, int32_t colorMode, float colorAmount,
    int32_t sharpen, float sharpenAmount, int32_t warmTone, int32_t unused25,
    float warmToneStrength, int32_t colorCube, int32_t cubeSelect, int32_t cubeAlsoC,
    int32_t denoise, int32_t noisePreset, int32_t noiseAdjustA, int32_t noiseAdjustB,
    int32_t noiseLevelOverride, int32_t noiseWord0, int64_t noiseQword,
    ProgressCallback progress, void* progressContext)
    LX_NOEXCEPT LX_SYMBOL("_ApplyImageBlobParam");

/* Corrects the region (regionLeft, regionTop) of the blob, of the size of
 * `image`, into `image`. Returns 1 on success, 0 on failure or stop. */
LX_API int32_t ApplyImageBlobParamLocal(
    const ImageDesc* image, const ImageBlob* blob, ImageParam* param,
    int32_t mapOffsetX, int32_t mapOffsetY, float mapScale,
    int32_t regionLeft, int32_t regionTop, int32_t regionWidth, int32_t regionHeight,
    int32_t useVariant, int32_t tintMode, float variantStrength,
    int32_t useShadowClip, int32_t shadowClipIndex,
    int32_t useToneLevel, int32_t toneLevelRow, int32_t strengthLimit,
    int32_t* toneStrength, int32_t localContrast, float curveAmount,
    int32_t strongCurve, int32_t curveBlack, int32_t colorMode, float colorAmount,
    int32_t sharpen, float sharpenAmount, int32_t warmTone, int32_t unused29,
    float warmToneStrength, int32_t colorCube, int32_t cubeSelect, int32_t cubeAlsoC,
    int32_t denoise, int32_t noisePreset, int32_t noiseAdjustA, int32_t noiseAdjustB,
    int32_t noiseLevelOverride, int32_t noiseWord0, int64_t noiseQword,
    ProgressCallback progress, void* progressContext)
    LX_NOEXCEPT LX_SYMBOL("_ApplyImageBlobParamLocal");

/* Word `index` of the record: for 0..3, whether tint mode `index` changes the
 * image (1) or not (0). 0 for a null record. */
LX_API int32_t NeedTintCorrection(const ImageParam* param, int32_t index) LX_NOEXCEPT;

/* Asks the noise library to estimate the noise of an interleaved image.
 * 1 on success, 0 on failure (also when the noise library is missing). */
LX_API int32_t DetectNoise(const ImageDesc* image, int32_t noisePreset,
                           int32_t noiseLevelOverride, int32_t noiseWord0,
                           int64_t noiseQword) LX_NOEXCEPT LX_SYMBOL("_DetectNoise");

#ifdef __cplusplus
}
#endif

#endif /* LUMAREX_LUMAREX_H */
