// SPDX-License-Identifier: MIT
// `lumarex auto`: the one-shot correction of 8-bit photographs.
#include <cstdio>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "common_options.h"
#include "image_file.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "options.h"

namespace lumarex_cli {
namespace {

// The one-shot correction's settings, with the defaults that suit most
// photographs (chosen on the bundled samples: a tungsten interior, a hazy
// landscape, a backlit room and a sunset).
struct AutoSettings : CastAndLift {
    int blackClip = 1;        // shadowClipPermille; 0 turns shadowClip off
    int target = 1;           // toneTarget
    int minBrighten = 0;      // a measured strength below it is replaced by it
    Finishing finish;
};

bool CorrectOne(const AutoSettings& s, const OutputChoice& choice, const std::string& in, const std::string& out,
                std::string& error, std::string& summary) {
    Picture pic;
    std::string note;
    if (!ReadPicture(in, /*want16=*/false, pic, error, note)) return false;
    const Picture before = choice.compare ? pic : Picture();
    const std::vector<uint8_t> original = s.autoBrighten ? pic.rgb8 : std::vector<uint8_t>();
    ImageDesc d = DescribeRgb(pic);
    const Finishing& f = s.finish;
    int32_t strength = s.brighten;
    auto correct = [&](int32_t autoTone) {
        LumarexComprehensive(&d, s.cast, s.castMethod, 0, s.castStrength, s.shadowFloor, s.blackClip != 0,
                             s.blackClip, &strength, s.localContrast, s.curve, s.localDepth, f.colour,
                             f.colourAmount, f.sharpen > 0.0f, f.sharpen, autoTone, s.target, s.maxBrighten,
                             f.warmTone > 0.0f, f.warmTone, f.flatten, f.look >= 0, f.look >= 0 ? f.look : 0);
    };
    correct(s.autoBrighten);
    if (s.autoBrighten && strength < s.minBrighten) {
        // A bright, high-key photo asks for a negative lift, which would
        // darken it; it is corrected again at the floor instead.
        pic.rgb8 = original;
        strength = s.minBrighten;
        correct(0);
    }
    if (!WriteResult(out, before, pic, choice, error)) return false;
    summary = "brightened " + std::to_string(strength) + " %";
    if (!note.empty()) summary += " (" + note + ")";
    return true;
}

}  // namespace

int RunAuto(int argc, char** argv, int first) {
    AutoSettings s;
    OutputChoice choice;
    std::vector<Option> options = OutputOptions(choice);
    Append(options, CastOptions(s));
    Append(options, LiftOptions(s));
    Append(options, {
        IntOption("--black-clip", "PERMILLE", &s.blackClip, 0, 999,
                  "Share of the darkest samples, in tenths of a percent, set to pure black to give the picture "
                  "a solid black. 0 keeps every shadow detail."),
        IntOption("--target", "0..9", &s.target, 0, 9,
                  "With --brighten auto: how bright the picture aims to be, from 0 (mid-tones around 55 % "
                  "grey) to 9 (very bright); each step is 5 % brighter."),
        IntOption("--min-brighten", "PERCENT", &s.minBrighten, -300, 300,
                  "With --brighten auto: the weakest lift it may choose. Bright photos measure a negative lift "
                  "(a darkening); 0 keeps them as bright as they are."),
    });
    Append(options, FinishingOptions(s.finish));
    ParsedArgs args = ParseArgs(argc, argv, first, options, {{"-o", "--output"}, {"-d", "--dir"}, {"-j", "--jobs"}});
    if (args.help) {
        PrintHelp("usage: lumarex auto PHOTO... (-o OUT | -d FOLDER) [options]",
                  "Corrects 8-bit photographs automatically in one step: removes the black offset and the "
                  "colour cast, stretches the levels and brightens shadows and mid-tones. JPEG, PNG and TIFF "
                  "are read and written; metadata (EXIF, colour profile) is kept. 16-bit files are reduced "
                  "to 8 bits (lumarex correct keeps them); grey photos stay grey; an alpha channel is kept "
                  "as it is.",
                  options);
        return 0;
    }
    std::string error = args.error;
    if (error.empty()) CheckOutputs(args.positional, choice, error);
    if (!error.empty()) {
        std::fprintf(stderr, "lumarex auto: %s\n", error.c_str());
        return 2;
    }
    SetFilterRecord(LxHeapHostRecord());
    InstallStopHandler();
    return RunBatch(args.positional, choice,
                    [&](const std::string& in, const std::string& out, std::string& err, std::string& summary,
                        const FileProgress&) { return CorrectOne(s, choice, in, out, err, summary); });
}

}  // namespace lumarex_cli
