// SPDX-License-Identifier: MIT
#include "benchmark.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <functional>
#include <memory>
#include <optional>

#include "colour_profile.h"
#include "photo_correction.h"

namespace lumarex_quality {
namespace {

using lumarex_cli::Picture;

// Block means of `factor` x `factor` pixels; the last partial row and
// column of blocks are dropped.
template <typename T>
std::vector<T> Shrink(const std::vector<T>& in, int w, int h, int factor, int channels) {
    const int ow = w / factor, oh = h / factor, n = factor * factor;
    std::vector<T> out(size_t(ow) * oh * channels);
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x)
            for (int c = 0; c < channels; ++c) {
                uint64_t sum = 0;
                for (int j = 0; j < factor; ++j)
                    for (int i = 0; i < factor; ++i)
                        sum += in[(size_t(y * factor + j) * w + size_t(x * factor + i)) * channels + c];
                out[(size_t(y) * ow + x) * channels + c] = T((sum + n / 2) / n);
            }
    return out;
}

const char* GoalText(CastGoal g) {
    return g == CastGoal::kRemove ? "remove" : g == CastGoal::kKeep ? "keep" : "";
}

}  // namespace

bool LoadPhoto(const std::string& path, double megapixels, Case& out, std::string& error) {
    lumarex_cli::PhotoReader reader;
    if (!reader.Open(path, error)) return false;
    Picture pic;
    std::string notes;
    if (!reader.Read(/*want16=*/true, pic, notes, error, [](float) { return false; })) return false;
    const double mp = double(pic.width) * pic.height / 1e6;
    const int factor = std::max(1, int(std::ceil(std::sqrt(mp / megapixels))));
    if (factor > 1) {
        if (pic.bits == 16) pic.rgb16 = Shrink(pic.rgb16, pic.width, pic.height, factor, 3);
        else pic.rgb8 = Shrink(pic.rgb8, pic.width, pic.height, factor, 3);
        if (pic.hasAlpha) pic.alpha = Shrink(pic.alpha, pic.width, pic.height, factor, 1);
        pic.width /= factor, pic.height /= factor;
        pic.spec.width = pic.width, pic.spec.height = pic.height;
    }
    const size_t slash = path.find_last_of('/');
    std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    out = Case{name.substr(0, name.find_last_of('.')), std::move(pic), CastGoal::kNone, {}};
    return true;
}

Case FromScene(const Scene& s) {
    Case c{s.name, {}, s.goal, s.area};
    c.picture.width = s.image.width, c.picture.height = s.image.height, c.picture.bits = 8;
    c.picture.rgb8 = s.image.rgb;
    c.picture.spec = OIIO::ImageSpec(s.image.width, s.image.height, 3, OIIO::TypeDesc::UINT8);
    return c;
}

Rgb8 ToRgb8(const Picture& p) {
    Rgb8 r{p.width, p.height, p.bits == 8 ? p.rgb8 : std::vector<uint8_t>(p.rgb16.size()), nullptr};
    if (p.bits == 16)
        for (size_t i = 0; i < p.rgb16.size(); ++i)
            r.rgb[i] = uint8_t((uint32_t(p.rgb16[i]) * 255u + 32767u) / 65535u);
    // Colours measured in the photo's own space, as the choice measures them.
    if (std::optional<lumarex_cli::RgbSpace> own = lumarex_cli::OwnSpaceOf(p.spec))
        r.space = std::make_shared<const lumarex_cli::RgbSpace>(std::move(*own));
    return r;
}

namespace {

// `lumarex auto` as it was first: the one-shot correction, corrected again at
// the floor when the measured lift is below it.
bool FirstAuto(const lumarex_cli::Settings& s, Picture& pic, std::string& summary) {
    const std::vector<uint8_t> original = pic.rgb8;
    int32_t strength = lumarex_cli::CorrectInOnePass(lumarex_cli::DescribeRgb(pic), s, true, 0);
    if (strength < s.minBrighten) {
        pic.rgb8 = original;
        strength = lumarex_cli::CorrectInOnePass(lumarex_cli::DescribeRgb(pic), s, false, s.minBrighten);
    }
    summary = lumarex_cli::SummaryOf(lumarex_cli::CorrectionOutcome{strength});
    return true;
}

lumarex_cli::Settings FirstDefaults(lumarex_cli::Command command) {
    lumarex_cli::Settings s = lumarex_cli::DefaultSettings(command);
    s.cast = 1, s.castMethod = 3, s.castStrength = 0.7f, s.guard = 0,
      s.shadowFloor = lumarex_cli::kDefaultShadowFloor, s.key = 0;
    s.blackClip = command == lumarex_cli::Command::kAuto ? 0.1f : 0.3f;
    return s;
}

Result Measure(lumarex_cli::Command command, const Case& c, Picture* after,
               const std::function<bool(Picture&, std::string&, std::string&)>& correct) {
    const bool isAuto = command == lumarex_cli::Command::kAuto;
    Result r;
    r.name = c.name, r.command = isAuto ? "auto" : "correct", r.goal = c.goal;
    Picture pic = c.picture;
    if (isAuto && pic.bits == 16) {
        // `auto` reads deep files at 8 bits.
        const Rgb8 eight = ToRgb8(pic);
        pic.rgb8 = eight.rgb, pic.rgb16.clear(), pic.bits = 8;
    }
    const Rgb8 before = ToRgb8(pic);
    if (!correct(pic, r.summary, r.error)) {
        if (r.error.empty()) r.error = "the correction failed";
        return r;
    }
    const Rgb8 now = ToRgb8(pic);
    r.highlights = HighlightClippingAdded(before, now);
    r.shadows = ShadowClippingAdded(before, now);
    r.neutral = ColourShift(before, now, IsNearNeutral);
    r.skin = ColourShift(before, now, IsSkinTone);
    r.saturated = ColourShift(before, now, IsSaturated);
    r.darkBefore = DarkestLightness(before, 1.0);
    r.darkAfter = DarkestLightness(now, 1.0);
    if (c.goal != CastGoal::kNone) r.castRemoved = CastRemoved(before, now, c.area);
    if (after) *after = std::move(pic);
    return r;
}

}  // namespace

Result Run(lumarex_cli::Command command, const lumarex_cli::Settings& settings, const Case& c, Picture* after) {
    const auto never = [](float) { return false; };
    return Measure(command, c, after, [&](Picture& pic, std::string& summary, std::string& error) {
        return command == lumarex_cli::Command::kAuto
                   ? lumarex_cli::AutoCorrectPicture(settings, pic, nullptr, summary, error, never)
                   : lumarex_cli::CorrectPicture(settings, nullptr, pic, nullptr, summary, error, never);
    });
}

Result RunFirstDefaults(lumarex_cli::Command command, const Case& c, Picture* after) {
    const lumarex_cli::Settings s = FirstDefaults(command);
    const auto never = [](float) { return false; };
    return Measure(command, c, after, [&](Picture& pic, std::string& summary, std::string& error) {
        return command == lumarex_cli::Command::kAuto
                   ? FirstAuto(s, pic, summary)
                   : lumarex_cli::CorrectPicture(s, nullptr, pic, nullptr, summary, error, never);
    });
}

std::string Table(const std::vector<Result>& results) {
    std::string t = "case                              command  highl+  shadow+  neutral dE (cover)  skin dE (cover)  "
                    "saturated dE (cover)  dark 1 %  cast removed  lift\n";
    char line[320];
    for (const Result& r : results) {
        if (!r.error.empty()) {
            std::snprintf(line, sizeof line, "%-33s %-7s  failed: %s\n", r.name.c_str(), r.command.c_str(),
                          r.error.c_str());
        } else {
            char cast[32] = "";
            if (r.goal != CastGoal::kNone) std::snprintf(cast, sizeof cast, "%5.0f %% (%s)", r.castRemoved, GoalText(r.goal));
            std::snprintf(line, sizeof line,
                          "%-33s %-7s %6.2f  %7.2f  %6.2f (%5.1f %%)     %6.2f (%5.1f %%)  %6.2f (%5.1f %%)      "
                          "%4.1f>%4.1f  %-13s %s\n",
                          r.name.c_str(), r.command.c_str(), r.highlights, r.shadows, r.neutral.meanDeltaE,
                          r.neutral.coverPercent, r.skin.meanDeltaE, r.skin.coverPercent, r.saturated.meanDeltaE,
                          r.saturated.coverPercent, r.darkBefore, r.darkAfter, cast, r.summary.c_str());
        }
        t += line;
    }
    return t;
}

nlohmann::json ToJson(const std::vector<Result>& results) {
    nlohmann::json all = nlohmann::json::array();
    for (const Result& r : results) {
        nlohmann::json j{{"case", r.name}, {"command", r.command}};
        if (!r.error.empty()) {
            j["error"] = r.error;
        } else {
            j["highlightClippingAdded"] = r.highlights;
            j["shadowClippingAdded"] = r.shadows;
            j["neutralShift"] = {{"meanDeltaE2000", r.neutral.meanDeltaE}, {"coverPercent", r.neutral.coverPercent}};
            j["skinShift"] = {{"meanDeltaE2000", r.skin.meanDeltaE}, {"coverPercent", r.skin.coverPercent}};
            j["saturatedShift"] = {{"meanDeltaE2000", r.saturated.meanDeltaE},
                                   {"coverPercent", r.saturated.coverPercent}};
            j["darkestPercentLightness"] = {{"before", r.darkBefore}, {"after", r.darkAfter}};
            if (r.goal != CastGoal::kNone) j["cast"] = {{"goal", GoalText(r.goal)}, {"removedPercent", r.castRemoved}};
            j["summary"] = r.summary;
        }
        all.push_back(std::move(j));
    }
    return all;
}

}  // namespace lumarex_quality
