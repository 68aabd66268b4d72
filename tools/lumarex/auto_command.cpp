// SPDX-License-Identifier: MIT
// `lumarex auto`: the automatic correction of 8-bit photographs.
#include <string>

#include "cli.h"
#include "photo_correction.h"

namespace lumarex_cli {

int AutoCommand::Run() {
    const Settings& s = options.settings;
    CorrectionJob job{Work::kAnalyseAndApply, /*want16=*/false,
                      [&s](Picture& pic, Picture* before, std::string& summary, std::string& error,
                           const FileProgress& progress) {
                          return AutoCorrectPicture(s, pic, before, summary, error, progress);
                      }};
    return RunCorrectingCommand("auto", options, job);
}

}  // namespace lumarex_cli
