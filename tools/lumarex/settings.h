// SPDX-License-Identifier: MIT
// The correction settings of the lumarex command as one table: each setting's
// name, unit, range, default, help text and the subcommands that take it.
// The option parser, the --help text and the typed correction calls all read
// this table, and so can any other front end (a scripting module, a preview):
// it depends on nothing but the standard library.
//
// Units are the photographer's, one per meaning in every subcommand: percent
// of all samples for --black-clip, percent grey for --target, 8-bit levels
// for --shadow-floor. correction.h turns them into the library's arguments.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <variant>

namespace lumarex_cli {

enum class Command { kAuto, kCorrect };
inline constexpr unsigned kForAuto = 1u;
inline constexpr unsigned kForCorrect = 2u;
inline constexpr unsigned kForBoth = kForAuto | kForCorrect;

// A value of the settings below: brighten = kMeasured lets the correction
// measure the photo and choose the strength itself; cast = kMeasured removes
// a cast only when the analysis finds one.
inline constexpr int kMeasured = -1;
// look = kNoLook applies no colour table.
inline constexpr int kNoLook = -1;
// The shadow floor where none is measured, 8-bit level.
inline constexpr int kDefaultShadowFloor = 12;
// The black clip where none is measured, percent of the samples.
inline constexpr float kDefaultBlackClip = 0.1f;
// denoise = kNoDenoise skips noise removal.
inline constexpr int kNoDenoise = -1;

// Every correction setting, typed, in the table's units.
struct Settings {
    // Colour cast.
    int cast = kMeasured;       // on/off, or kMeasured: on when the analysis finds a cast
    int castMethod = 0;         // tint mode 0..3: nearest, box, adaptive, average
    float castStrength = 1.0f;  // share of the measured cast that is removed
    // Levels and lift.
    float blackClip = kMeasured;  // percent of all samples set to black; 0 off; kMeasured: by the photo
    int shadowFloor = kMeasured;  // 8-bit level below which nothing is lifted, or kMeasured
    int brighten = kMeasured;   // lift strength in percent, or kMeasured
    int maxBrighten = 100;      // upper bound of a measured strength, percent
    int minBrighten = 0;        // lower bound of a measured strength (auto)
    int target = 60;            // mid-tone target of a measured strength, % grey
    int key = kMeasured;        // kMeasured: a measured strength follows the photo's key; 0 as measured
    int localContrast = 1;      // on/off
    int localDepth = 50;        // percent: darker areas held back
    int curve = 0;              // 0 gentle (log lift), 1 strong (log/exp)
    // Noise (correct).
    int denoise = kNoDenoise;   // preset 0..4
    int denoiseLuma = 0;
    int denoiseColour = 0;
    int noiseLevel = -1;        // -1: the preset decides
    // Finishing.
    int colour = 0;             // colour restoration mode, 0 off
    float colourAmount = 0.5f;
    float sharpen = 0.0f;       // 0 off
    float warmTone = 0.0f;      // 0 off
    int look = kNoLook;         // colour table: 0 natural, 1 contrast
    int flatten = 0;            // the flattening table, after the look
    // Safety.
    int guard = 1;              // on/off: hold back what newly clips or moves the scene's colours (choice.h)

    bool operator==(const Settings&) const = default;
};

// A word that stands for a value: "on" for 1, "average" for 3, "auto" for
// kMeasured.
struct SettingWord {
    const char* word;
    int value;
};

struct SettingInfo {
    const char* name;     // the option without dashes: "cast-strength"
    const char* unit;     // what a number means, for help: "percent", "" for words only
    std::variant<int Settings::*, float Settings::*> field;
    double lo, hi;        // inclusive range of numbers; lo > hi when only words are taken
    double step;          // numbers are whole multiples of it; 0 takes any number
    std::span<const SettingWord> words;
    double defaultAuto;   // default value in `lumarex auto`
    double defaultCorrect;  // default value in `lumarex correct`
    unsigned commands;    // kForAuto, kForCorrect or both
    const char* help;     // one or more sentences, without the range or default
};

// The table, in the order --help lists it.
std::span<const SettingInfo> SettingsTable();

// The entry named `name` (without dashes), or null.
const SettingInfo* FindSetting(const std::string& name);

// The defaults of a subcommand.
Settings DefaultSettings(Command c);

// Sets the field of `info` in `s` from the text a user gave. Returns an error
// text without the option's name ("must be between 0 and 1, got '2'"), empty
// when the value was taken.
std::string SetFromText(const SettingInfo& info, const std::string& text, Settings& s);

// The value the field holds, as a user would write it ("auto", "0.7", "on").
std::string ValueText(const SettingInfo& info, const Settings& s);

// What may be given, for help and error texts: "0..1", "auto|0..300",
// "0..5 in steps of 0.1", "nearest|box|adaptive|average".
std::string RangeText(const SettingInfo& info);

// The help text of a setting with its unit, range and default, as --help
// gives it ("... Takes 0..1 (share). Default: 0.7.").
std::string HelpText(const SettingInfo& info, const Settings& defaults);

// A number as a user writes it: decimal, whole or not, with an exponent if
// need be, and finite. Octal and hexadecimal forms, "inf", "nan", blanks and
// anything after the number are refused.
bool ParseNumber(const std::string& text, double& out);

// Whether the setting belongs to `c`.
bool TakenBy(const SettingInfo& info, Command c);

}  // namespace lumarex_cli
