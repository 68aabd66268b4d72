// SPDX-License-Identifier: MIT
// `lumarex auto`: the automatic correction of 8-bit photographs.
#include <string>

#include "cli.h"
#include "photo_correction.h"

namespace lumarex_cli {

CLI::App* AutoCommand::Register(CLI::App& app) {
    return AddCorrectingCommand(
        app, "auto",
        "Corrects 8-bit photographs automatically: analyses each, then removes the black offset and a colour "
        "cast the analysis finds, stretches the levels and brightens shadows and mid-tones, without newly "
        "clipping more than 1 % of the pixels at white or 1.5 % at black (--guard). JPEG, PNG and TIFF are read and written; "
        "metadata (EXIF, colour profile) is kept. 16-bit files are reduced to 8 bits (lumarex correct keeps "
        "them); grey photos stay grey; an alpha channel is kept as it is. Ctrl-C stops without leaving partial "
        "files.",
        options);
}

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
