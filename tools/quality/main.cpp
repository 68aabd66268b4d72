// SPDX-License-Identifier: MIT
// lumarex_quality: measures what `lumarex auto` and `lumarex correct` do to
// photos and to synthetic scenes (benchmark.h) and prints a table, or JSON.
//
//   lumarex_quality photos/*.jpg                      # both commands, their defaults
//   lumarex_quality --set auto:cast=off photo.jpg     # a setting changed
//   lumarex_quality --json out.json --save gallery/ samples/*
#include <CLI/CLI.hpp>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>

#include "benchmark.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"

namespace {

using lumarex_cli::Command;
using lumarex_cli::Settings;

// "auto:name=value" or "name=value" (both commands) applied to the settings.
bool Apply(const std::string& text, Settings& autoSettings, Settings& correctSettings, std::string& error) {
    std::string rest = text;
    bool forAuto = true, forCorrect = true;
    if (rest.rfind("auto:", 0) == 0) forCorrect = false, rest = rest.substr(5);
    else if (rest.rfind("correct:", 0) == 0) forAuto = false, rest = rest.substr(8);
    const size_t eq = rest.find('=');
    const lumarex_cli::SettingInfo* info = eq == std::string::npos ? nullptr : lumarex_cli::FindSetting(rest.substr(0, eq));
    if (!info) {
        error = "--set " + text + ": expects [auto:|correct:]NAME=VALUE with a setting's name";
        return false;
    }
    const std::string value = rest.substr(eq + 1);
    for (auto [on, s] : {std::pair{forAuto, &autoSettings}, std::pair{forCorrect, &correctSettings}}) {
        if (!on) continue;
        const std::string e = lumarex_cli::SetFromText(*info, value, *s);
        if (!e.empty()) {
            error = "--set " + text + ": " + e;
            return false;
        }
    }
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    CLI::App app{"Measures what lumarex auto and lumarex correct do: highlight and shadow clipping added "
                 "(percentage points of pixels), mean CIEDE2000 colour shift of near-neutral and of skin-toned "
                 "areas at equal lightness, and on synthetic scenes how much of a known cast was removed."};
    std::vector<std::string> photos, sets, commands{"auto", "correct"};
    double megapixels = 1.0;
    int sceneWidth = 1200, sceneHeight = 800, saveWidth = 640;
    bool noScenes = false, first = false;
    std::string jsonPath, saveDir, scenesDir;
    app.add_option("photos", photos, "Photos to measure (shrunk to --megapixels first).");
    app.add_option("--megapixels", megapixels, "Size the photos are shrunk to.")->check(CLI::Range(0.01, 1000.0));
    app.add_option("--scene-width", sceneWidth, "Width of the synthetic scenes.")->check(CLI::Range(64, 8000));
    app.add_option("--scene-height", sceneHeight, "Height of the synthetic scenes.")->check(CLI::Range(48, 8000));
    app.add_flag("--no-scenes", noScenes, "Measure the photos only.");
    app.add_flag("--first-defaults", first,
                 "Measure the commands' first defaults instead (one-shot auto, average cast removal always, no "
                 "guard), for comparison; --set is then ignored.");
    app.add_option("--set", sets, "[auto:|correct:]NAME=VALUE: a setting of the commands, as on their command line.");
    app.add_option("--commands", commands, "Which commands to measure.")->check(CLI::IsMember({"auto", "correct"}));
    app.add_option("--json", jsonPath, "Also write the results as JSON to this file.");
    app.add_option("--save", saveDir, "Write each case's before | after picture as CASE-COMMAND.jpg here.");
    app.add_option("--save-width", saveWidth, "Width of the saved pictures.")->check(CLI::Range(64, 4000));
    app.add_option("--write-scenes", scenesDir, "Write the synthetic scenes as NAME.png here.");
    CLI11_PARSE(app, argc, argv);

    Settings autoSettings = lumarex_cli::DefaultSettings(Command::kAuto);
    Settings correctSettings = lumarex_cli::DefaultSettings(Command::kCorrect);
    for (const std::string& s : sets) {
        std::string error;
        if (!Apply(s, autoSettings, correctSettings, error)) {
            std::fprintf(stderr, "lumarex_quality: %s\n", error.c_str());
            return 2;
        }
    }
    SetFilterRecord(LxHeapHostRecord());

    std::vector<lumarex_quality::Case> cases;
    for (const std::string& p : photos) {
        lumarex_quality::Case c;
        std::string error;
        if (!lumarex_quality::LoadPhoto(p, megapixels, c, error)) {
            std::fprintf(stderr, "lumarex_quality: %s: %s\n", p.c_str(), error.c_str());
            return 1;
        }
        cases.push_back(std::move(c));
    }
    if (!noScenes)
        for (const auto& s : lumarex_quality::MakeScenes(sceneWidth, sceneHeight))
            cases.push_back(lumarex_quality::FromScene(s));
    if (!saveDir.empty()) std::filesystem::create_directories(saveDir);
    if (!scenesDir.empty()) {
        std::filesystem::create_directories(scenesDir);
        for (const auto& c : cases) {
            if (c.name.find('_') != std::string::npos) continue;  // photos are named NN_what
            std::string notes, error;
            if (!lumarex_cli::WritePicture(scenesDir + "/" + c.name + ".png", c.picture, 95, notes, error,
                                           [](float) { return false; })) {
                std::fprintf(stderr, "lumarex_quality: %s: %s\n", c.name.c_str(), error.c_str());
                return 1;
            }
        }
    }

    std::vector<lumarex_quality::Result> results;
    bool failed = false;
    for (const auto& c : cases)
        for (const std::string& name : commands) {
            const bool isAuto = name == "auto";
            lumarex_cli::Picture after;
            const Command command = isAuto ? Command::kAuto : Command::kCorrect;
            results.push_back(first ? lumarex_quality::RunFirstDefaults(command, c, &after)
                                    : lumarex_quality::Run(command, isAuto ? autoSettings : correctSettings, c, &after));
            failed |= !results.back().error.empty();
            if (!saveDir.empty() && results.back().error.empty()) {
                lumarex_cli::Picture before = c.picture;
                if (after.bits == 8 && before.bits == 16) {
                    const auto eight = lumarex_quality::ToRgb8(before);
                    before.rgb8 = eight.rgb, before.rgb16.clear(), before.bits = 8;
                }
                std::string error;
                const std::string path = saveDir + "/" + c.name + "-" + name + ".jpg";
                if (!lumarex_cli::WriteSideBySide(path, before, after, saveWidth, error)) {
                    std::fprintf(stderr, "lumarex_quality: %s: %s\n", path.c_str(), error.c_str());
                    failed = true;
                }
            }
        }
    std::fputs(lumarex_quality::Table(results).c_str(), stdout);
    if (!jsonPath.empty()) {
        std::ofstream(jsonPath) << lumarex_quality::ToJson(results).dump(2) << "\n";
    }
    return failed ? 1 : 0;
}
