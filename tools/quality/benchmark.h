// SPDX-License-Identifier: MIT
// The quality benchmark of `lumarex auto` and `lumarex correct`: each photo
// or synthetic scene is corrected as the command would, at a small size, and
// measured (metrics.h).
#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

#include "image_file.h"
#include "metrics.h"
#include "scenes.h"
#include "settings.h"

namespace lumarex_quality {

// One input of the benchmark.
struct Case {
    std::string name;
    lumarex_cli::Picture picture;  // 8 or 16-bit, at benchmark size
    CastGoal goal = CastGoal::kNone;
    Rect area;
};

// Reads a photo and shrinks it by a whole factor (block means) to at most
// `megapixels`. False with `error` when it cannot be read.
bool LoadPhoto(const std::string& path, double megapixels, Case& out, std::string& error);

// A synthetic scene as a case.
Case FromScene(const Scene& s);

// A picture's samples at 8 bits (16-bit ones rounded).
Rgb8 ToRgb8(const lumarex_cli::Picture& p);

struct Result {
    std::string name;
    std::string command;         // "auto" or "correct"
    double highlights = 0.0;     // percentage points of pixels newly clipped at the top
    double shadows = 0.0;        // ... at the bottom
    Shift neutral;               // near-neutral areas
    Shift skin;                  // skin-toned areas
    Shift saturated;             // saturated colours (chroma 20 and above)
    double darkBefore = 0.0;     // L* of the darkest 1 % of the pixels, before
    double darkAfter = 0.0;      // ... and after: higher reads as haze
    CastGoal goal = CastGoal::kNone;
    double castRemoved = 0.0;    // percent of the marked area's colour taken away
    std::string summary;         // the command's own line ("brightened 40 %")
    std::string error;           // empty when the correction ran
};

// Corrects a copy of `c` with `command` and `settings` as the command does
// and measures the result; `after`, when given, gets the corrected picture.
Result Run(lumarex_cli::Command command, const lumarex_cli::Settings& settings, const Case& c,
           lumarex_cli::Picture* after = nullptr);

// The same for the command's first defaults, kept for comparison: `auto` as
// the one-shot correction, both commands removing the cast the average
// method measures (strength 0.7) whatever the analysis says, black clip 0.1
// (auto) and 0.3 % (correct), no guard against clipping.
Result RunFirstDefaults(lumarex_cli::Command command, const Case& c, lumarex_cli::Picture* after = nullptr);

// The results as a table, one line per case and command.
std::string Table(const std::vector<Result>& results);
nlohmann::json ToJson(const std::vector<Result>& results);

}  // namespace lumarex_quality
