// SPDX-License-Identifier: MIT
// `lumarex correct`: analyse once, then correct the whole photo or a region
// of it, in 8 or 16 bits.
#include <cstdio>
#include <string>

#include "cli.h"
#include "photo_correction.h"

namespace lumarex_cli {
namespace {

bool ParseRegion(const std::string& text, Region& r) {
    char tail;
    return std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &r.x, &r.y, &r.w, &r.h, &tail) == 4 && r.x >= 0 &&
           r.y >= 0 && r.w >= 1 && r.h >= 1;
}

}  // namespace

CLI::App* CorrectCommand::Register(CLI::App& app) {
    CLI::App* sub = AddCorrectingCommand(
        app, "correct",
        "Analyses each photo once, then corrects it: black offset and a colour cast the analysis finds removed, "
        "levels stretched, "
        "shadows and mid-tones brightened with local contrast kept, and on request noise removed, sharpened "
        "and finished. 16-bit PNG and TIFF stay 16-bit; metadata is kept. With --region only a crop is "
        "corrected and written. Ctrl-C stops without leaving partial files.",
        options);
    sub->add_option("--region", region,
                    "Correct only this rectangle of the photo (left, top, width, height in pixels of the photo "
                    "as displayed) and write it as the output, with the whole photo's analysis: the crop looks "
                    "as it would in the corrected whole.")
        ->option_text("X,Y,W,H")
        ->check(CLI::Validator(
            [](std::string& v) {
                Region r;
                return ParseRegion(v, r) ? std::string()
                                         : "expects X,Y,W,H with X, Y >= 0 and W, H >= 1, got '" + v + "'";
            },
            "", ""));
    return sub;
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
