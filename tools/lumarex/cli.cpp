// SPDX-License-Identifier: MIT
#include "cli.h"

#include <cctype>
#include <cstdio>
#include <sstream>

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
    for (const SettingWord& w : info.words) words += (words.empty() ? "" : "|") + std::string(w.word);
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
    sub.add_option("--quality", c.quality, "Quality of the lossy formats written: JPEG, WebP, AVIF, HEIC. Takes 1..100. Default: 95.")
        ->option_text("1..100")
        ->check(CLI::Range(1, 100));
    sub.add_option("-j,--jobs", c.jobs,
                   "How many photos of a batch are corrected at the same time; together they stay within "
                   "--max-memory. Takes 1..64. Default: 1.")
        ->option_text("N")
        ->check(CLI::Range(1, 64));
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

}  // namespace

std::shared_ptr<CLI::Formatter> HelpFormatter() { return std::make_shared<Formatter>(); }

void AddLimitOptions(CLI::App& sub, SizeLimits& limits, bool jobs) {
    char mp[80];
    std::snprintf(mp, sizeof mp, " Takes 1..268 (megapixels). Default: %g.", kDefaultMaxMegapixels);
    // 268 megapixels: 2^31 / 8, the largest picture the library's 32-bit
    // sizes serve.
    sub.add_option("--max-megapixels", limits.maxMegapixels,
                   std::string("Refuse photos with more pixels than this, checked from the file's header before "
                               "anything is read.") + mp)
        ->option_text("MP")
        ->check(CLI::Range(1.0, 268.0));
    char gb[120];
    std::snprintf(gb, sizeof gb, " Takes 0.1 or more (GB). Default: half of this machine's memory, %.1f.",
                  DefaultMaxMemoryGB());
    sub.add_option("--max-memory", limits.maxMemoryGB,
                   std::string("Memory the photos being worked on may take together, estimated from each "
                               "file's header: a photo that needs more alone is refused") +
                       (jobs ? ", and -j waits rather than pass it." : ".") + gb)
        ->option_text("GB")
        ->check(CLI::Range(0.1, 1e6));
}

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

}  // namespace lumarex_cli
