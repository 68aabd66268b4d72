// SPDX-License-Identifier: MIT
#include "cli.h"

#include <CLI/CLI.hpp>

#include <cctype>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <new>
#include <sstream>
#include <type_traits>

#include "console.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"

namespace lumarex_cli {
namespace {

constexpr int kColumn = 30;  // where descriptions start
constexpr int kWidth = 80;

// Words of `text` in lines of at most `width` characters, joined by '\n'
// (CLI11 indents each new line to the description column).
std::string Wrap(const std::string& text, size_t width) {
    std::istringstream words(text);
    std::string word, line, out;
    while (words >> word) {
        if (!line.empty() && line.size() + 1 + word.size() > width) {
            out += line + "\n";
            line.clear();
        }
        line += (line.empty() ? "" : " ") + word;
    }
    return out + line;
}

class Formatter : public CLI::Formatter {
public:
    Formatter() { column_width(kColumn); }
    std::string make_option_desc(const CLI::Option* opt) const override {
        return Wrap(opt->get_description(), kWidth - kColumn);
    }
    std::string make_description(const CLI::App* app) const override {
        const std::string d = app->get_description();
        return d.empty() ? std::string() : Wrap(d, kWidth) + "\n\n";
    }
};

std::string Upper(std::string s) {
    for (char& c : s) c = char(std::toupper(static_cast<unsigned char>(c)));
    for (char& c : s)
        if (c == ' ') c = '-';
    return s;
}

// "--black-clip PERCENT": the value's name in the option's line.
std::string Metavar(const SettingInfo& info) {
    std::string words;
    for (const SettingWord& w : info.words) {
        if (!words.empty()) words += '|';
        words += w.word;
    }
    if (info.lo > info.hi) return words;
    const std::string number = *info.unit ? Upper(info.unit) : std::string("N");
    return words.empty() ? number : words + "|" + number;
}

void AddSettingOptions(CLI::App& sub, Command c, Settings& s) {
    const Settings defaults = DefaultSettings(c);
    for (const SettingInfo& info : SettingsTable()) {
        if (!TakenBy(info, c)) continue;
        const SettingInfo* entry = &info;
        CLI::Option* opt = sub.add_option_function<std::string>(
            std::string("--") + info.name, [entry, &s](const std::string& v) { SetFromText(*entry, v, s); },
            HelpText(info, defaults));
        opt->option_text(Metavar(info));
        // The table checks the value; CLI11 prefixes its text with the option.
        opt->check(CLI::Validator(
            [entry](std::string& v) {
                Settings scratch;
                return SetFromText(*entry, v, scratch);
            },
            "", ""));
    }
}

// An option that takes a decimal number from `lo` to `hi`, a whole one when
// `T` is whole, read as the settings are: CLI11's own reading takes "010"
// as octal 8 and lets "nan" through every range.
template <class T>
CLI::Option* AddNumberOption(CLI::App& sub, const std::string& name, T& value, double lo, double hi,
                             const std::string& help) {
    const auto check = [lo, hi](const std::string& v, double& n) -> std::string {
        constexpr bool whole = std::is_integral_v<T>;
        const auto text = [](double x) {
            char t[32];
            std::snprintf(t, sizeof t, "%.10g", x);
            return std::string(t);
        };
        if (!ParseNumber(v, n) || (whole && n != std::floor(n)))
            return std::string("expects ") + (whole ? "a whole number " : "a number ") + text(lo) + ".." + text(hi) +
                   ", got '" + v + "'";
        if (n < lo || n > hi) return "must be between " + text(lo) + " and " + text(hi) + ", got '" + v + "'";
        return {};
    };
    CLI::Option* opt = sub.add_option_function<std::string>(
        name,
        [&value, check](const std::string& v) {
            double n = 0.0;
            if (check(v, n).empty()) value = static_cast<T>(n);
        },
        help);
    opt->check(CLI::Validator(
        [check](std::string& v) {
            double n = 0.0;
            return check(v, n);
        },
        "", ""));
    return opt;
}

void AddOutputOptions(CLI::App& sub, OutputChoice& c) {
    sub.add_option("-o,--output", c.output,
                   "Write the corrected photo here (one input only). The format follows the extension: .jpg, "
                   ".png, .tif, .webp, .avif or .heic (the last three where the image library can write them; "
                   "a format it cannot write is refused before any work, naming those it can).")
        ->option_text("FILE");
    sub.add_option("-d,--dir", c.directory,
                   "Write each corrected photo into this folder under its own name (created when missing); a "
                   "format that cannot be written, such as .bmp, becomes .tif. Two photos that would get the "
                   "same name are refused before any work.")
        ->option_text("FOLDER");
    sub.add_flag("--overwrite", c.overwrite, "Allow an output to replace its own input file, or an existing read-only file.");
    sub.add_flag("--compare", c.compare,
                 "Also write NAME-compare.jpg beside each output: the photo before and after, side by side.");
    AddNumberOption(sub, "--quality", c.quality, 1, 100,
                    "Quality of the lossy formats written: JPEG, WebP, AVIF, HEIC. Takes 1..100. Default: 95.")
        ->option_text("1..100");
    AddNumberOption(sub, "-j,--jobs", c.jobs, 1, 64,
                    "How many photos of a batch are corrected at the same time; together they stay within "
                    "--max-memory. Takes 1..64. Default: 1.")
        ->option_text("N");
    sub.add_flag("--quiet", c.quiet, "Print only errors.");
}

// An option that takes one of `words`, stored as the matching value; a
// word outside them is refused naming the words, as the settings are.
template <class T>
void AddWordOption(CLI::App& sub, const std::string& name, T& value, const std::vector<std::pair<std::string, T>>& words,
                   const std::string& help) {
    std::string list;
    for (const auto& w : words) list += (list.empty() ? "" : "|") + w.first;
    sub.add_option_function<std::string>(
           name,
           [&value, words](const std::string& v) {
               for (const auto& w : words)
                   if (w.first == v) value = w.second;
           },
           help + " Takes " + list + ". Default: " + words.front().first + ".")
        ->option_text(list)
        ->check(CLI::Validator(
            [words, list](std::string& v) {
                for (const auto& w : words)
                    if (w.first == v) return std::string();
                return "expects " + list + ", got '" + v + "'";
            },
            "", ""));
}

void AddRawOptions(CLI::App& sub, RawDevelopment& raw) {
    using WB = RawDevelopment::WhiteBalance;
    using HL = RawDevelopment::Highlights;
    AddWordOption<WB>(sub, "--raw-white-balance", raw.whiteBalance,
                      {{"camera", WB::kCamera}, {"auto", WB::kAuto}, {"none", WB::kNone}},
                      "White balance of camera raw files, before the correction: the camera's as shot, one "
                      "measured from the picture, or none (the sensor's daylight balance).");
    AddWordOption<HL>(sub, "--raw-highlights", raw.highlights,
                      {{"clip", HL::kClip}, {"unclip", HL::kUnclip}, {"blend", HL::kBlend}, {"rebuild", HL::kRebuild}},
                      "Blown highlights of camera raw files: clipped to white, unclipped (their detail kept, "
                      "tinted), blended, or rebuilt from the channels that did not clip.");
    sub.add_flag("--raw-half-size", raw.halfSize,
                 "Develop camera raw files at half their width and height, without demosaicing: about four times "
                 "as fast. Default: off.");
}

// Adds --max-megapixels and --max-memory (`jobs`: the subcommand has -j).
void AddLimitOptions(CLI::App& sub, SizeLimits& limits, bool jobs) {
    char mp[80];
    std::snprintf(mp, sizeof mp, " Takes %g..%g (megapixels). Default: %g.", kLeastMegapixels, kMostMegapixels,
                  kDefaultMaxMegapixels);
    AddNumberOption(sub, "--max-megapixels", limits.maxMegapixels, kLeastMegapixels, kMostMegapixels,
                    std::string("Refuse photos with more pixels than this, checked from the file's header before "
                                "anything is read.") + mp)
        ->option_text("MP");
    char gb[120];
    std::snprintf(gb, sizeof gb, " Takes %g..%.10g (GB). Default: half of this machine's memory, %.1f.",
                  kLeastMemoryGB, kMostMemoryGB, DefaultMaxMemoryGB());
    AddNumberOption(sub, "--max-memory", limits.maxMemoryGB, kLeastMemoryGB, kMostMemoryGB,
                    std::string("Memory the photos being worked on may take together, estimated from each "
                                "file's header: a photo that needs more alone is refused") +
                        (jobs ? ", and -j waits rather than pass it." : ".") + gb)
        ->option_text("GB");
}

// Adds the subcommand `name` with the photos, the file options and every
// setting of the table that `o.command` takes.
CLI::App* AddCorrectingCommand(CLI::App& app, const std::string& name, const std::string& description,
                               CorrectingOptions& o) {
    CLI::App* sub = app.add_subcommand(name, description);
    sub->add_option("PHOTO", o.inputs,
                    "The photos to correct: JPEG, PNG, TIFF, WebP, HEIC, AVIF, camera raw (DNG, CR2, CR3, NEF, ARW, "
                    "RAF, ORF, RW2, ...) or any other format the image library reads.")
        ->option_text("...");
    AddOutputOptions(*sub, o.choice);
    AddRawOptions(*sub, o.choice.raw);
    AddLimitOptions(*sub, o.choice.limits, /*jobs=*/true);
    AddSettingOptions(*sub, o.command, o.settings);
    return sub;
}

CLI::App* AddAutoCommand(CLI::App& app, AutoCommand& c) {
    return AddCorrectingCommand(
        app, "auto",
        "Corrects 8-bit photographs automatically: analyses each, then removes the black offset and a colour "
        "cast the analysis finds, stretches the levels and brightens shadows and mid-tones, without newly "
        "clipping more than 1 % of the pixels at white or 1.5 % at black (--guard). JPEG, PNG and TIFF are read and written; "
        "metadata (EXIF, colour profile) is kept. 16-bit files are reduced to 8 bits (lumarex correct keeps "
        "them); grey photos stay grey; an alpha channel is kept as it is. Ctrl-C stops without leaving partial "
        "files.",
        c.options);
}

CLI::App* AddCorrectCommand(CLI::App& app, CorrectCommand& c) {
    CLI::App* sub = AddCorrectingCommand(
        app, "correct",
        "Analyses each photo once, then corrects it: black offset and a colour cast the analysis finds removed, "
        "levels stretched, "
        "shadows and mid-tones brightened with local contrast kept, and on request noise removed, sharpened "
        "and finished. 16-bit PNG and TIFF stay 16-bit; metadata is kept. With --region only a crop is "
        "corrected and written. Ctrl-C stops without leaving partial files.",
        c.options);
    sub->add_option("--region", c.region,
                    "Correct only this rectangle of the photo (left, top, width, height in pixels of the photo "
                    "as displayed) and write it as the output, with the whole photo's analysis: the crop looks "
                    "as it would in the corrected whole.")
        ->option_text("X,Y,W,H")
        ->check(CLI::Validator(
            [](std::string& v) {
                Region r;
                return ParseRegion(v, r) ? std::string()
                                         : "expects X,Y,W,H: whole numbers up to 2147483647, X, Y >= 0 and W, H "
                                           ">= 1, got '" + v + "'";
            },
            "", ""));
    return sub;
}

CLI::App* AddAnalyseCommand(CLI::App& app, AnalyseCommand& c) {
    CLI::App* sub = app.add_subcommand(
        "analyse",
        "Measures each photo as `lumarex correct` does and prints what it found as a JSON array, one object per "
        "photo: the black level; for the four cast methods (nearest, box, adaptive, average) whether the photo "
        "needs correcting and the channel gains; and for the photo as it is (index 0) and after each method's "
        "cast removal (1..4): the white point, the lift strengths for the three brightness targets and the dark "
        "percentiles 0.1 % .. 5 %. Levels are in the file's own bits (0..255 or 0..65535). Last, the choice "
        "`lumarex correct` makes with its defaults: the settings it calls the library with, its summary line "
        "and the reason for each decision.");
    sub->alias("analyze");
    sub->add_option("PHOTO", c.inputs, "The photos to measure: any format auto and correct read.")->option_text("...");
    AddLimitOptions(*sub, c.limits, /*jobs=*/false);
    return sub;
}

CLI::App* AddServeCommand(CLI::App& app, ServeCommand& c) {
    CLI::App* sub = app.add_subcommand(
        "serve",
        "Analyses the photo once and serves a preview page at http://127.0.0.1:PORT/ for a browser on this "
        "machine: the photo fitted to the window, before and after (a toggle or a split), zoom and pan, and a "
        "control with its help text for every setting of `lumarex correct`. Each change corrects the area in "
        "view at the screen's resolution (at 1:1 exactly as `lumarex correct --region` does). 'Copy command' "
        "gives the `lumarex correct` command for the settings; 'Save' writes the corrected photo beside the "
        "original as NAME-corrected.EXT (never over the original or an earlier save). The page works without "
        "network access. Ctrl-C stops the server (exit status 130).");
    sub->add_option("PHOTO", c.photo, "The photo to preview, 8 or 16-bit: any format auto and correct read.")
        ->required();
    AddNumberOption(*sub, "--port", c.port, 0, 65535,
                    "The port to listen on; 0 takes a free one (the address is printed). Takes 0..65535. "
                    "Default: 8080.")
        ->option_text("N");
    sub->add_option("--listen", c.listen,
                    "The address to listen on. The default serves this machine only; another address (such as "
                    "0.0.0.0, every address, where the printed address names this machine) lets other "
                    "machines that have the printed address, with its random token, see the photo and save "
                    "beside it. Default: 127.0.0.1.")
        ->option_text("ADDR");
    sub->add_flag("--token", c.token,
                  "Require the random token of the printed address also on a loopback address: on a machine "
                  "shared with other users, any of them can reach 127.0.0.1. Any other address always requires "
                  "it.");
    AddLimitOptions(*sub, c.limits, /*jobs=*/false);
    return sub;
}

// One subcommand: its line in the usage, how the command line fills it in
// and what runs when it is chosen.
struct Subcommand {
    const char* name;
    const char* alias;  // or ""
    const char* usage;
    const char* summary;
    CLI::App* sub;
    std::function<int()> run;
};

constexpr const char* kUsageTail =
    "\n"
    "  lumarex COMMAND --help    explains every option of a command\n"
    "  lumarex --version         prints the library version\n";

std::string Usage(const std::vector<Subcommand>& commands) {
    std::string text = "usage: lumarex COMMAND [options]\n\nCommands:\n";
    for (const Subcommand& c : commands) {
        char line[200];
        std::snprintf(line, sizeof line, "  %-38s%s\n", (std::string(c.name) + " " + c.usage).c_str(), c.summary);
        text += line;
    }
    return text + kUsageTail;
}

const Subcommand* Named(const std::vector<Subcommand>& commands, const std::string& word) {
    for (const Subcommand& c : commands)
        if (word == c.name || (*c.alias && word == c.alias)) return &c;
    return nullptr;
}

}  // namespace

int RunCorrectingCommand(const std::string& name, CorrectingOptions& o, const CorrectionJob& job) {
    OutputPlan plan;
    std::string error;
    if (!PlanOutputs(o.inputs, o.choice, plan, error)) {
        std::fprintf(UserErr(), "lumarex %s: %s\n", name.c_str(), error.c_str());
        return 2;
    }
    SetFilterRecord(LxHeapHostRecord());
    RouteDecoderMessages();
    return RunBatch(o.inputs, plan, o.choice, job);
}


int RunCommandLine(int argc, char** argv) {
    CLI::App app{"", "lumarex"};
    app.formatter(std::make_shared<Formatter>());
    app.require_subcommand(1, 1);
    AutoCommand autoCommand;
    CorrectCommand correctCommand;
    AnalyseCommand analyseCommand;
    ServeCommand serveCommand;
    const std::vector<Subcommand> commands = {
        {"auto", "", "PHOTO... -o OUT | -d FOLDER", "correct 8-bit photos automatically",
         AddAutoCommand(app, autoCommand), [&] { return autoCommand.Run(); }},
        {"correct", "", "PHOTO... -o OUT | -d FOLDER", "analyse, then correct 8 or 16-bit photos (or a region)",
         AddCorrectCommand(app, correctCommand), [&] { return correctCommand.Run(); }},
        {"analyse", "analyze", "PHOTO...", "print what the analysis measures, as JSON",
         AddAnalyseCommand(app, analyseCommand), [&] { return analyseCommand.Run(); }},
        {"serve", "", "PHOTO [--port N]", "preview the correction in a browser, with a control per setting",
         AddServeCommand(app, serveCommand), [&] { return serveCommand.Run(); }},
    };

    const std::string first = argc >= 2 ? argv[1] : "";
    if (argc < 2) {
        std::fputs(Usage(commands).c_str(), stderr);
        return 2;
    }
    if (first == "-h" || first == "--help" || first == "help") {
        std::fputs(Usage(commands).c_str(), stdout);
        return 0;
    }
    if (first == "--version") {
        const unsigned v = GetLibraryVersion();
        std::printf("lumarex %u.%u (interface 0x%08X)\n", v >> 24, (v >> 16) & 0xff, v);
        return 0;
    }
    const Subcommand* chosen = Named(commands, first);
    if (!chosen) {
        std::fprintf(stderr, "lumarex: unknown command '%s'\n\n%s", first.c_str(), Usage(commands).c_str());
        return 2;
    }
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        std::fprintf(stderr, "lumarex %s: %s (see --help)\n", chosen->name, e.what());
        return 2;
    }
    // A refused allocation outside a batch's photos (a batch fails the photo
    // instead) ends the command with a message, not an abort.
    try {
        return chosen->run();
    } catch (const std::bad_alloc&) {
        std::fprintf(stderr, "lumarex %s: not enough memory: the system refused it\n", chosen->name);
        return 1;
    }
}

}  // namespace lumarex_cli
