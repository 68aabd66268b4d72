// SPDX-License-Identifier: MIT
// `lumarex correct`: analyse once, then correct the whole photo or a region
// of it, in 8 or 16 bits.
#include <cstdio>
#include <string>

#include "cli.h"
#include "photo_correction.h"

namespace lumarex_cli {

bool ParseRegion(const std::string& text, Region& r) {
    char tail;
    return std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &r.x, &r.y, &r.w, &r.h, &tail) == 4 && r.x >= 0 &&
           r.y >= 0 && r.w >= 1 && r.h >= 1;
}

int CorrectCommand::Run() {
    Region r;
    const bool hasRegion = !region.empty() && ParseRegion(region, r);
    const Settings& s = options.settings;
    CorrectionJob job{Work::kAnalyseAndApply, /*want16=*/true,
                      [&s, hasRegion, r](Picture& pic, Picture* before, std::string& summary, std::string& error,
                                         const FileProgress& progress) {
                          return CorrectPicture(s, hasRegion ? &r : nullptr, pic, before, summary, error, progress);
                      }};
    return RunCorrectingCommand("correct", options, job);
}

}  // namespace lumarex_cli
