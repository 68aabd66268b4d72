// SPDX-License-Identifier: MIT
// `lumarex correct`: analyse once, then correct the whole photo or a region
// of it, in 8 or 16 bits.
#include <charconv>
#include <string>
#include <system_error>

#include "cli.h"
#include "photo_correction.h"

namespace lumarex_cli {

bool ParseRegion(const std::string& text, Region& r) {
    // Four whole numbers of digits only, each within int (a longer one is
    // refused, not wrapped), separated by single commas.
    int* const fields[4] = {&r.x, &r.y, &r.w, &r.h};
    const char* p = text.data();
    const char* const end = text.data() + text.size();
    for (int i = 0; i < 4; ++i) {
        if (i > 0 && (p == end || *p++ != ',')) return false;
        if (p == end || *p < '0' || *p > '9') return false;
        const auto [next, ec] = std::from_chars(p, end, *fields[i]);
        if (ec != std::errc()) return false;
        p = next;
    }
    return p == end && r.w >= 1 && r.h >= 1;
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
