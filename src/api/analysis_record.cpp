// SPDX-License-Identifier: MIT
// LxReadAnalysisRecord: the analysis record's fields, copied out for tools.
// Built into the static library lumarex_inspect, never into the shared
// library, so the export table keeps exactly the interface's names.
#include "lumarex/analysis_record.h"

#include <algorithm>
#include <iterator>

#include "analysis/image_param.h"

static_assert(LX_RECORD_TINT_MODES == kTintModes);
static_assert(LX_RECORD_STAT_VARIANTS == kStatVariants);
static_assert(LX_RECORD_SHADOW_PERCENTILES == kShadowPercentiles);
static_assert(LX_RECORD_TONE_ROWS == kToneRows);

namespace {

template <class T, std::size_t N>
void CopyArray(const T (&from)[N], T (&to)[N]) {
    std::copy(std::begin(from), std::end(from), std::begin(to));
}

template <class T, std::size_t N, std::size_t M>
void CopyArray(const T (&from)[N][M], T (&to)[N][M]) {
    for (std::size_t i = 0; i < N; ++i) CopyArray(from[i], to[i]);
}

}  // namespace

int32_t LxReadAnalysisRecord(const ImageParam* param, LxAnalysisRecord* out) {
    if (param == nullptr || out == nullptr) return 0;
    LxAnalysisRecord r{};
    r.width = param->width;
    r.height = param->height;
    r.blackLevel = param->blackLevel;
    CopyArray(param->needTint, r.needTint);
    CopyArray(param->tintGains, r.tintGains);
    CopyArray(param->shadowPercentiles, r.shadowPercentiles);
    CopyArray(param->whitePoint, r.whitePoint);
    CopyArray(param->toneLevels, r.toneLevels);
    r.baseMapValid = param->baseMapValid;
    r.baseMapLow = param->baseMapLow;
    r.baseMapHigh = param->baseMapHigh;
    *out = r;
    return 1;
}
