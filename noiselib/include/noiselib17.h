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
#  define NOISELIB_API __declspec(dllexport)
#else
#  define NOISELIB_API __attribute__((visibility("default")))
#endif

#ifdef __cplusplus
extern "C" {
#endif

/* Parameter block, on the caller's stack. Words the caller sets or reads:
 *   word0   (byte 0)   -1 for "automatic", otherwise passed through
 *   level   (byte 4)   noise level 0..10 that steers the strength
 *   adjustA (byte 8)   luminance smoothing adjustment, 0..100
 *   adjustB (byte 12)  colour smoothing adjustment, 0..20
 *   word16  (byte 16)  set to 0 by the caller
 *   reserved(byte 20)  the library's own
 *   qword   (byte 24)  64-bit field passed through
 * The library may use the remaining words of a larger block as it likes;
 * callers provide at least these 32 bytes. */
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

/* Host memory for the library's working buffers; null returns it to the heap. */
NOISELIB_API int32_t NoiseSetFilterRecord(FilterRecord* record);
/* Fills `block` with the settings of `preset` (0 gentlest .. 4 strongest). */
NOISELIB_API int32_t FillNoiseParamsFromPreset(NoiseParamBlock* block, int32_t preset);
/* Removes noise in place from an interleaved three-sample buffer (mode 0), or
 * only estimates it (mode 1). Returns NOISELIB_OK or NOISELIB_FAILED. */
NOISELIB_API int32_t RemoveNoiseBufPreset(void* buffer, int32_t width, int32_t height,
                                          int32_t rowStride, int32_t reserved5,
                                          int32_t sixteenBit, uint8_t reserved7,
                                          uint8_t redFirst, NoiseParamBlock* block,
                                          int32_t preset, int32_t mode, int64_t reserved12);

#ifdef __cplusplus
}
#endif

#endif /* NOISELIB17_H */
