// SPDX-License-Identifier: MIT
// The commands' defaults on the bundled samples and the synthetic scenes, at
// a small size, held to the limits the quality benchmark was tuned to: no
// more than 1 % of pixels newly clipped at white, 1.5 % at black; skin and
// neutral areas keep their colour; a tungsten cast goes, a sunset's warmth
// and a scene's own dominant colour stay; blacks do not turn to haze.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <stdexcept>

#include "benchmark.h"
#include "choice.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "support/icc_profile.h"

namespace lumarex_quality {
namespace {

using lumarex_cli::Command;

class QualityThresholds : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        SetFilterRecord(LxHeapHostRecord());
        // 0.08 megapixels (about 340 x 230): seconds under the sanitizers.
        for (const char* dir : {LUMAREX_SAMPLES_DIR, LUMAREX_QUALITY_SAMPLES_DIR})
            for (const auto& entry : std::filesystem::directory_iterator(dir)) {
                const std::string ext = entry.path().extension().string();
                if (ext != ".jpg" && ext != ".png") continue;
                Case c;
                std::string error;
                ASSERT_TRUE(LoadPhoto(entry.path().string(), 0.08, c, error)) << error;
                cases_->push_back(std::move(c));
            }
        for (const Scene& s : MakeScenes(240, 160)) cases_->push_back(FromScene(s));
    }
    static void TearDownTestSuite() { cases_->clear(); }

    static const Case& Named(const std::string& name) {
        for (const Case& c : *cases_)
            if (c.name == name) return c;
        throw std::runtime_error("no case " + name);
    }

    static inline std::vector<Case>* cases_ = new std::vector<Case>;
};

TEST_F(QualityThresholds, DefaultsClipAlmostNothingAndKeepColours) {
    ASSERT_EQ(cases_->size(), 4u + 5u + 9u) << "four bundled samples, five of the quality test's, nine scenes";
    std::map<std::string, Result> byName;
    for (const Case& c : *cases_)
        for (Command command : {Command::kAuto, Command::kCorrect}) {
            const Result r = lumarex_quality::Run(command, lumarex_cli::DefaultSettings(command), c);
            const std::string id = r.name + " " + r.command;
            ASSERT_EQ(r.error, "") << id;
            EXPECT_LE(r.highlights, 1.0) << id;
            EXPECT_LE(r.shadows, 1.5) << id;
            // No added haze: the darkest 1 % gets no lighter (a lightness unit
            // allowed for the shrunken copy), unless the blacks were lifted.
            if (r.darkBefore < 25.0) {
                EXPECT_LE(r.darkAfter, r.darkBefore + 1.0) << id;
            }
            byName[id] = r;
        }
    for (const char* command : {" auto", " correct"}) {
        const std::string c = command;
        // Skin keeps its hue (the average cast removal turned faces green-cyan).
        EXPECT_LT(byName["skin-patch" + c].skin.meanDeltaE, 3.0) << c;
        EXPECT_LT(byName["well-exposed" + c].neutral.meanDeltaE, 1.0) << c;
        // Golden light stays golden: the sky (skin-toned) keeps its colour and hue.
        const Result& sunset = byName["sunset-gradient" + c];
        EXPECT_LT(sunset.castRemoved, 25.0) << c;
        EXPECT_LT(sunset.skin.meanDeltaE, 5.0) << c;
        // A sky that fills the frame, blue or an evening's orange, stays its
        // colour: taking it for a cast once turned both grey.
        for (const char* sky : {"clear-sky", "evening-sky"}) {
            EXPECT_LT(byName[sky + c].castRemoved, 25.0) << sky << c;
            EXPECT_LT(byName[sky + c].saturated.meanDeltaE, 2.5) << sky << c;
        }
        // Tungsten light on a grey card: most of the cast goes; shade: no worse.
        EXPECT_GT(byName["grey-card-tungsten" + c].castRemoved, 40.0) << c;
        EXPECT_GT(byName["grey-card-shade" + c].castRemoved, -10.0) << c;
        // The tungsten room's near-neutral areas move as its cast goes, as
        // the grey card's do, but short of the first defaults' average
        // removal at 0.7 (18 to 20 units).
        EXPECT_LT(byName["s01_tungsten_indoor_wine" + c].neutral.meanDeltaE, 16.0) << c;
        // A night sky keeps its depth rather than turning to grey haze.
        const Result& night = byName["u12_ferris_wheel_night" + c];
        EXPECT_LE(night.darkAfter, night.darkBefore + 0.5) << c;
    }
}

TEST_F(QualityThresholds, OneColourSceneIsNotACast) {
    // Brown pinecones and red raspberries look like a cast to the analysis;
    // the colour guard keeps the cast removal's own move (not the lift's)
    // within 2.5 units of CIEDE2000, where it once moved them by 7 to 10.
    for (const char* name : {"u06_pinecones_brown", "u14_raspberries_red"})
        for (Command command : {Command::kAuto, Command::kCorrect}) {
            lumarex_cli::Settings s = lumarex_cli::DefaultSettings(command);
            lumarex_cli::Picture guarded, plain;
            const Result r = lumarex_quality::Run(command, s, Named(name), &guarded);
            s.cast = 0;
            lumarex_quality::Run(command, s, Named(name), &plain);
            const Shift move = ColourShift(ToRgb8(plain), ToRgb8(guarded), IsSaturated);
            EXPECT_LE(move.meanDeltaE, 2.5) << name << " " << r.command << ": " << r.summary;
            EXPECT_GT(move.coverPercent, 30.0) << name;
        }
}

TEST_F(QualityThresholds, ATonedPrintKeepsItsToning) {
    // Sepia-toned copies of photos whose toning the cast removal once took
    // out on about half of them, leaving black and white: the toning stays,
    // its chroma at least two thirds of what it was (the levels stretch and
    // the lift may lighten or deepen it, and a hazy photo's stretch of each
    // channel shifts its hue from the shadows to the highlights).
    const lumarex_cli::RgbSpace& srgb = lumarex_cli::RgbSpace::Srgb();
    for (const char* name : {"s03_hazy_lifted_blacks_bridge", "s08_sunset_warm", "u05_ladybug_blue_flowers",
                             "u12_ferris_wheel_night", "k02_hats_colourful"}) {
        Case sepia = Named(name);
        std::vector<uint8_t>& v = sepia.picture.rgb8;
        ASSERT_EQ(sepia.picture.bits, 8) << name;
        for (size_t i = 0; i < v.size(); i += 3) {
            const double l = (0.299 * v[i] + 0.587 * v[i + 1] + 0.114 * v[i + 2]) / 255.0;
            const double tone = std::sin(3.14159265 * l);
            const double rgb[3] = {l + 0.08 * tone, 0.86 * l + 0.03 * tone, 0.67 * l};
            for (int c = 0; c < 3; ++c) v[i + c] = uint8_t(std::lround(std::clamp(rgb[c], 0.0, 1.0) * 255.0));
        }
        const double before = lumarex_cli::ToningOf(sepia.picture, srgb).chroma;
        for (Command command : {Command::kAuto, Command::kCorrect}) {
            lumarex_cli::Picture after;
            const Result r = lumarex_quality::Run(command, lumarex_cli::DefaultSettings(command), sepia, &after);
            EXPECT_EQ(r.summary.find("cast removed"), std::string::npos) << name << " " << r.command << ": " << r.summary;
            EXPECT_GT(lumarex_cli::ToningOf(after, srgb).chroma, before * 2.0 / 3.0) << name << " " << r.command;
        }
    }
}

TEST_F(QualityThresholds, ACastIsRemovedUntilThePhotosGreysTurnNeutral) {
    // Every cast method finds a cast in the tungsten room and in the
    // pinecones. The room's greys (its linen bag, the drum's skin) turn
    // neutral at half the average method's removal and leave neutral past
    // it: the cast is removed to there, and its neutrals move. The
    // pinecones only fade towards grey as the removal grows: their colour
    // stays the scene's, held back by the colour guard.
    for (Command command : {Command::kAuto, Command::kCorrect}) {
        const lumarex_cli::Settings s = lumarex_cli::DefaultSettings(command);
        const Result room = lumarex_quality::Run(command, s, Named("s01_tungsten_indoor_wine"));
        EXPECT_NE(room.summary.find("cast removed until its greys turned neutral"), std::string::npos)
            << room.command << ": " << room.summary;
        EXPECT_GT(room.neutral.meanDeltaE, 8.0) << room.command;
        const Result cones = lumarex_quality::Run(command, s, Named("u06_pinecones_brown"));
        EXPECT_EQ(cones.summary.find("greys"), std::string::npos) << cones.command << ": " << cones.summary;
        EXPECT_NE(cones.summary.find("cast held back for the scene's colours"), std::string::npos) << cones.summary;
    }
    // At the benchmark's size the grey card under tungsten turns neutral at
    // three quarters, and goes; the golden sky's gradient passes near grey at
    // a quarter, but all of the removal leaves less of it grey than it was:
    // its colour is the scene's, and stays.
    for (const Scene& scene : MakeScenes(1200, 800)) {
        if (scene.name != "grey-card-tungsten" && scene.name != "sunset-gradient") continue;
        const Result r = lumarex_quality::Run(Command::kAuto, lumarex_cli::DefaultSettings(Command::kAuto),
                                              FromScene(scene));
        const bool card = scene.name == "grey-card-tungsten";
        EXPECT_EQ(r.summary.find("until its greys turned neutral") != std::string::npos, card)
            << r.name << ": " << r.summary;
        if (card) EXPECT_GT(r.castRemoved, 60.0) << r.summary;
        else EXPECT_LT(r.skin.meanDeltaE, 2.5) << r.summary;
    }
}

TEST_F(QualityThresholds, AWideGamutCopyIsChosenForAsThePhotoIs) {
    // The raspberries as a phone would keep them: the same colours in
    // Display P3's numbers, with the profile that says so. The choice judges
    // their colours and key as they are, not as sRGB would read the numbers
    // (more deep shadow, less saturated reds): no lift for the low key, no
    // cast removal, as for the photo itself. Read as sRGB the copy was lifted
    // fully.
    Case p3 = Named("u14_raspberries_red");
    lumarex_cli::Picture& pic = p3.picture;
    ASSERT_EQ(pic.bits, 8);
    for (size_t i = 0; i < pic.rgb8.size(); i += 3) {
        uint8_t rgb[3] = {pic.rgb8[i], pic.rgb8[i + 1], pic.rgb8[i + 2]};
        lumarex_test::SrgbToDisplayP3(rgb);
        std::copy(rgb, rgb + 3, pic.rgb8.begin() + std::ptrdiff_t(i));
    }
    const std::vector<uint8_t> profile = lumarex_test::DisplayP3();
    pic.spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
    // The benchmark measures it in its own space as well: the same darkest
    // 1 % and the same share of saturated colours as the photo's.
    const Rgb8 photo = ToRgb8(Named("u14_raspberries_red").picture), copy = ToRgb8(pic);
    EXPECT_NEAR(DarkestLightness(copy, 1.0), DarkestLightness(photo, 1.0), 0.5);
    EXPECT_NEAR(ColourShift(copy, copy, IsSaturated).coverPercent, ColourShift(photo, photo, IsSaturated).coverPercent,
                1.0);
    for (Command command : {Command::kAuto, Command::kCorrect}) {
        const lumarex_cli::Settings s = lumarex_cli::DefaultSettings(command);
        const Result own = lumarex_quality::Run(command, s, Named("u14_raspberries_red"));
        const Result wide = lumarex_quality::Run(command, s, p3);
        EXPECT_EQ(wide.summary.rfind("brightened 0 %", 0), 0u) << wide.command << ": " << wide.summary;
        EXPECT_EQ(wide.summary.find("cast removed"), std::string::npos) << wide.command << ": " << wide.summary;
        EXPECT_EQ(own.summary.rfind("brightened 0 %", 0), 0u) << own.command << ": " << own.summary;
    }
}

TEST_F(QualityThresholds, ASetExposureIsLiftedOnlyWhereThatAddsContrast) {
    // These photos reach white, so their lift is chosen by contrast: the
    // sunset's dark foreground and the tungsten-lit room open up with one; the
    // ladybug's bright flowers before dark bokeh only flatten; the hats lose
    // contrast to any correction, the cast removal included, and get their
    // levels only. (Taken whole: a lift's contrast depends on the scale.)
    const auto whole = [](const char* name) {
        Case c;
        std::string error;
        EXPECT_TRUE(LoadPhoto(std::string(LUMAREX_QUALITY_SAMPLES_DIR) + "/" + name, 0.17, c, error)) << error;
        return c;
    };
    const Case ladybug = whole("u05_ladybug_blue_flowers.jpg"), hats = whole("k02_hats_colourful.jpg");
    const auto lift = [](const Result& r) { return std::atoi(r.summary.c_str() + std::string("brightened ").size()); };
    for (Command command : {Command::kAuto, Command::kCorrect}) {
        const lumarex_cli::Settings s = lumarex_cli::DefaultSettings(command);
        const Result sunset = lumarex_quality::Run(command, s, Named("s08_sunset_warm"));
        EXPECT_TRUE(lift(sunset) >= 25 && lift(sunset) <= 75) << sunset.command << ": " << sunset.summary;
        const Result room = lumarex_quality::Run(command, s, Named("s01_tungsten_indoor_wine"));
        EXPECT_GT(lift(room), 25) << room.command << ": " << room.summary;
        lumarex_cli::Picture after;
        const Result r = lumarex_quality::Run(command, s, ladybug, &after);
        EXPECT_EQ(lift(r), 0) << r.command << ": " << r.summary;
        EXPECT_LT(ColourShift(ToRgb8(ladybug.picture), ToRgb8(after), IsSaturated).meanDeltaE, 0.5) << r.command;
        EXPECT_NEAR(r.darkAfter, r.darkBefore, 0.5) << r.command;
        const Result h = lumarex_quality::Run(command, s, hats, &after);
        EXPECT_NE(h.summary.find("levels only"), std::string::npos) << h.command << ": " << h.summary;
        EXPECT_EQ(h.summary.find("cast removed"), std::string::npos) << h.command << ": " << h.summary;
        EXPECT_LT(ColourShift(ToRgb8(hats.picture), ToRgb8(after), IsSaturated).meanDeltaE, 0.5) << h.command;
    }
}

TEST_F(QualityThresholds, GuardHoldsBackSettingsThatClip) {
    // A lift of 300 % with 5 % of the samples clipped to black would newly
    // clip far more than the limits; the guard reduces it until it does not,
    // and says so.
    lumarex_cli::Settings harsh = lumarex_cli::DefaultSettings(Command::kCorrect);
    harsh.brighten = 300, harsh.blackClip = 5.0f, harsh.cast = 1, harsh.castMethod = 3, harsh.castStrength = 1.0f;
    const Case& photo = Named("skin-patch");
    const Result guarded = lumarex_quality::Run(Command::kCorrect, harsh, photo);
    EXPECT_LE(guarded.highlights, 1.0);
    EXPECT_LE(guarded.shadows, 1.5);
    EXPECT_NE(guarded.summary.find("held back from clipping"), std::string::npos) << guarded.summary;
    harsh.guard = 0;
    const Result unguarded = lumarex_quality::Run(Command::kCorrect, harsh, photo);
    EXPECT_GT(unguarded.shadows, 1.5) << "the settings clip without the guard";
    EXPECT_EQ(unguarded.summary.find("held back"), std::string::npos);
}

}  // namespace
}  // namespace lumarex_quality
