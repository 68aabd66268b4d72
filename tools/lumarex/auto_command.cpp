// SPDX-License-Identifier: MIT
// `lumarex auto`: the one-shot correction of 8-bit photographs.
#include <string>

#include "cli.h"
#include "correction.h"

namespace lumarex_cli {

CLI::App* AutoCommand::Register(CLI::App& app) {
    return AddCorrectingCommand(
        app, "auto",
        "Corrects 8-bit photographs automatically in one step: removes the black offset and the colour cast, "
        "stretches the levels and brightens shadows and mid-tones. JPEG, PNG and TIFF are read and written; "
        "metadata (EXIF, colour profile) is kept. 16-bit files are reduced to 8 bits (lumarex correct keeps "
        "them); grey photos stay grey; an alpha channel is kept as it is. Ctrl-C stops without leaving partial "
        "files.",
        options);
}

int AutoCommand::Run() {
    const Settings& s = options.settings;
    CorrectionJob job{Work::kOnePass, /*want16=*/false,
                      [&s](Picture& pic, Picture* before, std::string& summary, std::string&,
                           const FileProgress& progress) {
                          if (before) *before = pic;
                          const bool measure = s.brighten == kMeasured;
                          const std::vector<uint8_t> original = measure ? pic.rgb8 : std::vector<uint8_t>();
                          const ImageDesc d = DescribeRgb(pic);
                          progress(0.0f);
                          int32_t strength = CorrectInOnePass(d, s, measure, measure ? 0 : s.brighten);
                          if (measure && strength < s.minBrighten) {
                              // A bright, high-key photo asks for a negative lift,
                              // which would darken it; it is corrected again at the
                              // floor instead.
                              pic.rgb8 = original;
                              strength = CorrectInOnePass(DescribeRgb(pic), s, false, s.minBrighten);
                          }
                          progress(1.0f);
                          summary = "brightened " + std::to_string(strength) + " %";
                          return true;
                      }};
    return RunCorrectingCommand("auto", options, job);
}

}  // namespace lumarex_cli
