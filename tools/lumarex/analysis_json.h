// SPDX-License-Identifier: MIT
// The analysis record as `lumarex analyse` prints it, for other front ends.
#pragma once

#include <string>

#include "choice.h"
#include "lumarex/analysis_record.h"

namespace lumarex_cli {

// One JSON object, compact: "bits", "width", "height", "blackLevel",
// "needTint", "tintGains", "whitePoint", "toneLevels", "shadowPercentiles",
// "baseMap", each as `lumarex analyse` prints it (no "file"), and "choice"
// when `choice` is given.
std::string AnalysisRecordJson(int bits, const LxAnalysisRecord& record, const Choice* choice);

}  // namespace lumarex_cli
