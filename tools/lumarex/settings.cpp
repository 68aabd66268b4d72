// SPDX-License-Identifier: MIT
#include "settings.h"

#include <cerrno>
#include <cfloat>
#include <charconv>
#include <cmath>
#include <cstdlib>
#include <sstream>

namespace lumarex_cli {
namespace {

constexpr SettingWord kOnOff[] = {{"on", 1}, {"off", 0}};
constexpr SettingWord kOnOffAuto[] = {{"auto", kMeasured}, {"on", 1}, {"off", 0}};
constexpr SettingWord kAutoOff[] = {{"auto", kMeasured}, {"off", 0}};
constexpr SettingWord kCastMethods[] = {{"nearest", 0}, {"box", 1}, {"adaptive", 2}, {"average", 3}};
constexpr SettingWord kMeasuredWord[] = {{"auto", kMeasured}};
constexpr SettingWord kCurves[] = {{"gentle", 0}, {"strong", 1}};
constexpr SettingWord kColours[] = {{"off", 0}, {"rich", 1}, {"soft", 2}, {"bright", 3}};
constexpr SettingWord kLooks[] = {{"none", kNoLook}, {"natural", 0}, {"contrast", 1}};

// Words only: an empty number range.
constexpr double kNoLo = 1.0, kNoHi = 0.0;

// clang-format off
const SettingInfo kTable[] = {
    {"cast", "", &Settings::cast, kNoLo, kNoHi, 0, kOnOffAuto, kMeasured, kMeasured, kForBoth,
     "Neutralise a colour cast, such as the orange of tungsten light or the blue of shade and water. "
     "'auto' does so only when the analysis finds one with --cast-method; 'on' applies that method's "
     "gains whatever they are."},
    {"cast-method", "", &Settings::castMethod, kNoLo, kNoHi, 0, kCastMethods, 0, 0, kForBoth,
     "How the cast is measured: 'nearest' trusts the most common colour closest to neutral, so a scene's "
     "own colour (skin, a sunset, foliage) is not taken for the light's; 'average' balances the average "
     "colour of the scene (removes strong casts such as tungsten or underwater light fully, but also turns "
     "a portrait's skin green-cyan and a sunset yellow); "
     "'box' the edge of the most common colours nearest neutral (gentle, often leaves a cast); 'adaptive' "
     "widens its view on busy scenes and leaves scenes dominated by red alone."},
    {"cast-strength", "share", &Settings::castStrength, 0, 1, 0, {}, 1.0, 1.0, kForBoth,
     "How much of the measured cast is removed: 0 keeps the light's colour, 1 removes it fully. With "
     "--cast auto and --guard on, the colour guard may remove less."},
    {"black-clip", "percent", &Settings::blackClip, 0, 5, 0.1, kMeasuredWord, kMeasured, kMeasured, kForBoth,
     "Share of the darkest samples set to pure black, to give the picture a solid black; 0 keeps every "
     "shadow detail. 'auto' sets 0.1 %, or for a veiled photo (haze, a faded scan: its darkest 1 % of "
     "samples above level 16) moves the black point up to the veil's floor, at most 1 %."},
    {"shadow-floor", "level", &Settings::shadowFloor, 0, 254, 1, kMeasuredWord, kMeasured, kMeasured, kForBoth,
     "Levels below this (0..255, also for 16-bit photos) are left as they are by the lift, so deep blacks "
     "stay black. 'auto' starts the lift above the darkest 1 % of the photo (at least level 12), so that a "
     "night sky or dark water keeps its depth instead of turning grey; a photo whose blacks are lifted "
     "already (darkest 1 % above level 64) gets 12."},
    {"brighten", "percent", &Settings::brighten, 0, 300, 1, kMeasuredWord, kMeasured, kMeasured, kForBoth,
     "How strongly shadows and mid-tones are lifted: 'auto' measures the photo and picks the strength; a "
     "number sets it, 0 being no lift."},
    {"target", "percent grey", &Settings::target, 55, 65, 5, {}, 60, 60, kForBoth,
     "With --brighten auto: how bright the mid-tones aim to be: 55, 60 or 65 % grey."},
    {"max-brighten", "percent", &Settings::maxBrighten, 0, 300, 1, {}, 100, 100, kForBoth,
     "With --brighten auto: the strongest lift it may choose."},
    {"key", "", &Settings::key, kNoLo, kNoHi, 0, kAutoOff, kMeasured, kMeasured, kForBoth,
     "With --brighten auto: follow the photo's key. A low-key photo (40 % or more of it in deep shadow: a "
     "night scene, a dark ground; or 90 % of it darker than 40 % grey: a bird on dark water) is not lifted; one whose brightest 1 % reaches level 230 "
     "gets none, a quarter, half or three quarters of the measured lift, whichever leaves the most contrast, "
     "or only its levels when the photo as it is has more; a dull one (its highlights short of white) half "
     "to all of it, chosen alike. 'off' applies the lift as measured."},
    {"min-brighten", "percent", &Settings::minBrighten, -300, 300, 1, {}, 0, 0, kForAuto,
     "With --brighten auto: the weakest lift it may choose. Bright photos measure a negative lift (a "
     "darkening); 0 keeps them as bright as they are."},
    {"local-contrast", "", &Settings::localContrast, kNoLo, kNoHi, 0, kOnOff, 1, 1, kForBoth,
     "Lift areas that are darker than their surroundings less than bright ones, so that local contrast "
     "survives the brightening."},
    {"local-depth", "percent", &Settings::localDepth, 0, 100, 1, {}, 50, 50, kForBoth,
     "With --local-contrast: how much darker areas are held back against the plain lift."},
    {"curve", "", &Settings::curve, kNoLo, kNoHi, 0, kCurves, 0, 0, kForBoth,
     "The lift's shape: 'gentle' a logarithmic lift; 'strong' a lift that can go past it, with the "
     "shadow/highlight balance of an exponential curve (its lift stops growing at 150 %: a stronger "
     "--brighten gives the same)."},
    {"denoise", "preset", &Settings::denoise, -1, 4, 1, {}, kNoDenoise, kNoDenoise, kForCorrect,
     "Remove noise before correcting: -1 off, 0 gentlest to 4 strongest."},
    {"denoise-luma", "", &Settings::denoiseLuma, -100, 100, 1, {}, 0, 0, kForCorrect,
     "With --denoise: more (positive) or less (negative) smoothing of brightness noise."},
    {"denoise-colour", "", &Settings::denoiseColour, -20, 20, 1, {}, 0, 0, kForCorrect,
     "With --denoise: more (positive) or less (negative) smoothing of colour noise."},
    {"noise-level", "", &Settings::noiseLevel, -1, 10, 1, {}, -1, -1, kForCorrect,
     "With --denoise: how strongly to filter against the noise the photo shows, in thirds of it (3: as "
     "found, 6: twice): a photo that shows little noise is changed little at any level. -1 lets the preset "
     "decide."},
    {"colour", "", &Settings::colour, kNoLo, kNoHi, 0, kColours, 0, 0, kForBoth,
     "Colour restoration after brightening: 'rich' deepens shadows and lifts highlights, 'soft' is the "
     "same with gentler reds, 'bright' mostly lifts mid-tones."},
    {"colour-amount", "share", &Settings::colourAmount, 0, 1, 0, {}, 0.5, 0.5, kForBoth,
     "Strength of --colour."},
    {"sharpen", "amount", &Settings::sharpen, 0, 4, 0, {}, 0, 0, kForBoth,
     "Sharpen fine detail without shifting colours; 0 is off, 1 is a clear sharpening. From 2 up grain "
     "and JPEG noise turn into a fine pattern too: remove the noise as well (--denoise)."},
    {"warm-tone", "share", &Settings::warmTone, 0, 1, 0, {}, 0, 0, kForBoth,
     "Pull bright warm tones (skin, sunlit faces) toward one pleasant warm hue; 0 is off."},
    {"look", "", &Settings::look, kNoLo, kNoHi, 0, kLooks, kNoLook, kNoLook, kForBoth,
     "A final colour look: 'natural' shifts saturated colours slightly, 'contrast' adds an S-shaped "
     "contrast curve to the same."},
    {"flatten", "", &Settings::flatten, kNoLo, kNoHi, 0, kOnOff, 0, 0, kForBoth,
     "Finish with a look that lifts shadows, softens highlights and strengthens mid-level colours (after "
     "--look when both are given)."},
    {"guard", "", &Settings::guard, kNoLo, kNoHi, 0, kOnOff, 1, 1, kForBoth,
     "Keep the correction from burning out or blocking up: when it would newly clip more than 1 % of the "
     "pixels at white (beyond what the levels stretch alone turns white) or 1.5 % at black, the cast "
     "removal, the black clip and then the lift are reduced, step by step, until it does not."},
};
// clang-format on

// Whether v is a whole multiple of step, allowing for decimal fractions
// that binary cannot hold exactly (0.3 is not 3 x 0.1 in doubles), also
// once held as a float (the settings are floats: 4.3f is 4.3000002 as a
// double, 43.000002 steps of 0.1).
bool OnStep(double v, double step) {
    if (step <= 0.0) return true;
    const double k = v / step;
    return std::fabs(k - std::round(k)) < std::max(1e-6, std::fabs(k) * 4.0 * FLT_EPSILON);
}

void Store(const SettingInfo& info, Settings& s, double v) {
    if (const auto* f = std::get_if<int Settings::*>(&info.field)) s.*(*f) = int(std::lround(v));
    else s.*std::get<float Settings::*>(info.field) = float(v);
}

double Load(const SettingInfo& info, const Settings& s) {
    if (const auto* f = std::get_if<int Settings::*>(&info.field)) return s.*(*f);
    return double(s.*std::get<float Settings::*>(info.field));
}

bool TakesNumbers(const SettingInfo& info) { return info.lo <= info.hi; }

// Shortest text that reads back as the same double ("0.1", "60", "-1").
std::string Number(double v) {
    std::ostringstream s;
    s.precision(6);
    s << v;
    return s.str();
}

}  // namespace

bool ParseNumber(const std::string& text, double& out) {
    // Decimal only: strtod alone would also take "0x10", "inf", "nan" and
    // leading blanks, which no one means as a setting's value.
    if (text.empty() || text.find_first_not_of("0123456789.eE+-") != std::string::npos) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(text.c_str(), &end);
    return errno == 0 && end != nullptr && *end == '\0' && std::isfinite(out);
}

std::span<const SettingInfo> SettingsTable() { return kTable; }

const SettingInfo* FindSetting(const std::string& name) {
    for (const SettingInfo& i : kTable)
        if (name == i.name) return &i;
    return nullptr;
}

bool TakenBy(const SettingInfo& info, Command c) {
    return (info.commands & (c == Command::kAuto ? kForAuto : kForCorrect)) != 0;
}

Settings DefaultSettings(Command c) {
    Settings s;
    for (const SettingInfo& i : kTable) Store(i, s, c == Command::kAuto ? i.defaultAuto : i.defaultCorrect);
    return s;
}

std::string RangeText(const SettingInfo& info) {
    std::string r;
    for (const SettingWord& w : info.words) {
        if (!r.empty()) r += '|';
        r += w.word;
    }
    if (TakesNumbers(info)) {
        if (!r.empty()) r += '|';
        r += Number(info.lo) + ".." + Number(info.hi);
        if (info.step > 0.0 && info.step != 1.0) r += " in steps of " + Number(info.step);
    }
    return r;
}

std::string SetFromText(const SettingInfo& info, const std::string& text, Settings& s) {
    for (const SettingWord& w : info.words)
        if (text == w.word) {
            Store(info, s, w.value);
            return {};
        }
    double v = 0.0;
    if (!TakesNumbers(info) || !ParseNumber(text, v)) return "expects " + RangeText(info) + ", got '" + text + "'";
    if (v < info.lo || v > info.hi)
        return "must be between " + Number(info.lo) + " and " + Number(info.hi) + ", got '" + text + "'";
    const bool whole = std::holds_alternative<int Settings::*>(info.field);
    if (!OnStep(v, whole && info.step == 0.0 ? 1.0 : info.step))
        return "must be a multiple of " + Number(info.step > 0.0 ? info.step : 1.0) + ", got '" + text + "'";
    Store(info, s, v);
    return {};
}

std::string HelpText(const SettingInfo& info, const Settings& defaults) {
    std::string d = info.help;
    if (TakesNumbers(info)) {
        d += " Takes " + RangeText(info);
        if (*info.unit) d += std::string(" (") + info.unit + ")";
        d += ".";
    }
    return d + " Default: " + ValueText(info, defaults) + ".";
}

std::string ValueText(const SettingInfo& info, const Settings& s) {
    const double v = Load(info, s);
    for (const SettingWord& w : info.words)
        if (v == w.value) return w.word;
    // A float as the shortest text that reads back as the same float: six
    // digits would give 0.777778 for 0.77777777, another float, and a
    // command that corrects differently.
    if (const auto* f = std::get_if<float Settings::*>(&info.field)) {
        char text[32];
        const auto r = std::to_chars(text, text + sizeof text, s.*(*f));
        return std::string(text, r.ptr);
    }
    return Number(v);
}

}  // namespace lumarex_cli
