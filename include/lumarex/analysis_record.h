/* SPDX-License-Identifier: MIT
 * A read-only look into the analysis record (ImageParam) for tools that show
 * what CalcImageBlobParam measured, such as `lumarex analyse`. The record
 * itself stays opaque: LxReadAnalysisRecord copies its fields into a plain
 * struct. It lives in its own static library (lumarex_inspect), not in the
 * shared library's export table, and it reads a record made by the library
 * it was built with.
 *
 * Levels are sample values after the black level was removed: 0..255 for an
 * 8-bit analysed image, 0..65535 for a 16-bit one.
 */
#ifndef LUMAREX_ANALYSIS_RECORD_H
#define LUMAREX_ANALYSIS_RECORD_H

#include <stdint.h>

#include "lumarex/lumarex.h"

#ifdef __cplusplus
extern "C" {
#endif

/* Tint modes 0..3 (nearest, box, adaptive, average). Statistics variant v:
 * 0 for the image as analysed, 1..4 for the image after the gains of tint
 * mode v - 1. Shadow percentiles are 0.1 %, 0.2 %, ... 5.0 % of all samples.
 * Tone rows are the brightness targets 140, 153 and 165 of 255. */
enum {
    LX_RECORD_TINT_MODES = 4,
    LX_RECORD_STAT_VARIANTS = 5,
    LX_RECORD_SHADOW_PERCENTILES = 50,
    LX_RECORD_TONE_ROWS = 3
};

typedef struct LxAnalysisRecord {
    int32_t width;  /* of the analysed image and of the cached base map */
    int32_t height;
    int32_t blackLevel;                            /* smallest sample */
    int32_t needTint[LX_RECORD_TINT_MODES];        /* 1 when the mode's gains change the image */
    float tintGains[LX_RECORD_TINT_MODES][3];      /* red, green, blue; red is 1.0 */
    int32_t shadowPercentiles[LX_RECORD_STAT_VARIANTS][LX_RECORD_SHADOW_PERCENTILES];
    int32_t whitePoint[LX_RECORD_STAT_VARIANTS];   /* brightest 0.1 % of pixel maxima lie at or above */
    int32_t toneLevels[LX_RECORD_TONE_ROWS][LX_RECORD_STAT_VARIANTS];  /* tone strengths, percent */
    int32_t baseMapValid;                          /* 1 once the local-contrast map is cached */
    int32_t baseMapLow;                            /* value range of that map */
    int32_t baseMapHigh;
} LxAnalysisRecord;

/* Copies the fields of `param` into `out`. Returns 1, or 0 (and leaves `out`
 * untouched) when either pointer is null. */
int32_t LxReadAnalysisRecord(const ImageParam* param, LxAnalysisRecord* out);

#ifdef __cplusplus
}
#endif

#endif /* LUMAREX_ANALYSIS_RECORD_H */
