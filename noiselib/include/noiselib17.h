/* SPDX-License-Identifier: MIT
 * The noise-removal library's interface, as Lumarex binds it at load time.
 * NoiseLib17 is a separate shared library (NoiseLib17.dll on Windows,
 * libNoiseLib17.so elsewhere) that Lumarex loads by name; this header fixes
 * the three entry points and the parameter block they share.
 */
#ifndef NOISELIB17_H
#define NOISELIB17_H

#include <stdint.h>

#include "lumarex/host_sdk.h"

#if defined(_WIN32)
#  if defined(NOISELIB_BUILDING)
#    define NOISELIB_API __declspec(dllexport)
#  else
#    define NOISELIB_API __declspec(dllimport)
#  endif
#else
#  define NOISELIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Parameter block, on the caller's stack (32 bytes). Callers set word0 and
 * qword, let FillNoiseParamsFromPreset fill in a preset, then adjust:
 *   word0     (byte 0)   the caller's; this library does not read it
 *   level     (byte 4)   0..10: the noise assumed is the noise measured in
 *                        the image times level / 3 (3 = as measured,
 *                        0 = leave the image as it is)
 *   adjustA   (byte 8)   0..100: how different two patches may be and still
 *                        be averaged, i.e. the luma smoothing
 *   adjustB   (byte 12)  0..20: how far and how freely chroma is smoothed
 *   word16    (byte 16)  set to 0 by callers; not read
 *   reserved20(byte 20)  the library's own: RemoveNoiseBufPreset writes the
 *                        measured luma noise deviation of one pixel there,
 *                        in hundredths of an 8-bit level
 *   qword     (byte 24)  the caller's; not read
 * Values outside their ranges are clamped. */
typedef struct NoiseParamBlock {
    int32_t word0;
    int32_t level;
    int32_t adjustA;
    int32_t adjustB;
    int32_t word16;
    int32_t reserved20;
    int64_t qword;
} NoiseParamBlock;

/* Results of RemoveNoiseBufPreset. */
#define NOISELIB_OK 0
#define NOISELIB_FAILED 3

typedef int32_t (*NoiseSetFilterRecordFn)(FilterRecord* record);
typedef int32_t (*FillNoiseParamsFromPresetFn)(NoiseParamBlock* block, int32_t preset);
typedef int32_t (*RemoveNoiseBufPresetFn)(void* buffer, int32_t width, int32_t height,
                                          int32_t rowStride, int32_t reserved5,
                                          int32_t sixteenBit, uint8_t reserved7,
                                          uint8_t redFirst, NoiseParamBlock* block,
                                          int32_t preset, int32_t mode, int64_t reserved12);

/* Keeps `record` for the library's working memory: its buffer suite when
 * the record has one, the heap when it is null. Returns NOISELIB_OK. */
NOISELIB_API int32_t NoiseSetFilterRecord(FilterRecord* record);

/* Fills level, adjustA, adjustB (and clears reserved20) for `preset`, 0
 * gentlest .. 4 strongest; other words stay as they are. NOISELIB_FAILED for
 * a null block or a preset outside 0..4. */
NOISELIB_API int32_t FillNoiseParamsFromPreset(NoiseParamBlock* block, int32_t preset);

/* Removes noise in place from `buffer`: width x height pixels of three
 * interleaved samples, 8-bit (sixteenBit 0) or 16-bit (1), rows rowStride
 * bytes apart (any alignment). redFirst says whether sample 0 is red (1) or
 * blue (0). The noise is measured in the image (luma and chroma, at three
 * scales); the preset (0..4) picks how far the filter looks at each scale,
 * the block's words the strength. Mode 0 denoises; mode 1 only measures the
 * noise into block->reserved20 and leaves the pixels alone. reserved5,
 * reserved7 and reserved12 are not read. Images too small to measure noise
 * in (under 16 x 16) are left as they are.
 * Returns NOISELIB_OK, or NOISELIB_FAILED (pixels untouched) for a null
 * buffer or block, a non-positive size, rowStride < width x 3 samples, a
 * sample flag, preset or mode out of range, or no working memory. */
NOISELIB_API int32_t RemoveNoiseBufPreset(void* buffer, int32_t width, int32_t height,
                                          int32_t rowStride, int32_t reserved5,
                                          int32_t sixteenBit, uint8_t reserved7,
                                          uint8_t redFirst, NoiseParamBlock* block,
                                          int32_t preset, int32_t mode, int64_t reserved12);

#ifdef __cplusplus
}
#endif

#endif /* NOISELIB17_H */
