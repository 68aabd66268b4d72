// SPDX-License-Identifier: MIT
#include "common_options.h"

#include <string>

namespace lumarex_cli {

std::vector<Option> OutputOptions(OutputChoice& c) {
    return {
        Option{"--output", "FILE",
               "Write the corrected photo here (one input only). The format follows the extension: .jpg, .png "
               "or .tif.",
               [&c](const std::string& v) {
                   c.output = v;
                   return std::string();
               },
               ""},
        Option{"--dir", "FOLDER", "Write each corrected photo into this folder under its own name.",
               [&c](const std::string& v) {
                   c.directory = v;
                   return std::string();
               },
               ""},
        FlagOption("--overwrite", &c.overwrite, "Allow an output to replace its input file."),
        FlagOption("--compare", &c.compare,
                   "Also write NAME-compare.jpg beside each output: the photo before and after, side by side."),
        IntOption("--quality", "1..100", &c.quality, 1, 100, "JPEG quality of the written files."),
        IntOption("--jobs", "N", &c.jobs, 1, 64, "How many photos of a batch are corrected at the same time."),
        FlagOption("--quiet", &c.quiet, "Print only errors."),
    };
}

std::vector<Option> FinishingOptions(Finishing& f) {
    return {
        ChoiceOption("--colour", &f.colour, {{"off", 0}, {"rich", 1}, {"soft", 2}, {"bright", 3}},
                     "Colour restoration after brightening: 'rich' deepens shadows and lifts highlights, "
                     "'soft' is the same with gentler reds, 'bright' mostly lifts mid-tones."),
        FloatOption("--colour-amount", "0..1", &f.colourAmount, 0.0f, 1.0f, "Strength of --colour."),
        FloatOption("--sharpen", "AMOUNT", &f.sharpen, 0.0f, 4.0f,
                    "Sharpen fine detail without shifting colours; 0 is off, 1 is a clear sharpening."),
        FloatOption("--warm-tone", "0..1", &f.warmTone, 0.0f, 1.0f,
                    "Pull bright warm tones (skin, sunlit faces) toward one pleasant warm hue; 0 is off."),
        ChoiceOption("--look", &f.look, {{"none", -1}, {"natural", 0}, {"contrast", 1}},
                     "A final colour look: 'natural' shifts saturated colours slightly, 'contrast' adds an "
                     "S-shaped contrast curve to the same."),
        OnOffOption("--flatten", &f.flatten,
                    "Finish with a look that lifts shadows, softens highlights and strengthens mid-level "
                    "colours (after --look when both are given)."),
    };
}

namespace {

// The lift strength: "auto" (measured) or a percentage.
Option BrightenOption(int* automatic, int* percent, int maxPercent) {
    Option o{"--brighten", "auto|PERCENT",
             "How strongly shadows and mid-tones are lifted. 'auto' measures the photo and picks the strength; a "
             "number from 0 (no lift) to " + std::to_string(maxPercent) + " sets it.",
             nullptr, *automatic ? "auto" : std::to_string(*percent)};
    o.set = [automatic, percent, maxPercent](const std::string& v) -> std::string {
        if (v == "auto") {
            *automatic = 1;
            return {};
        }
        int value = 0;
        if (!IntOption("", "", &value, 0, maxPercent, "").set(v).empty())
            return "expects 'auto' or 0.." + std::to_string(maxPercent);
        *automatic = 0;
        *percent = value;
        return {};
    };
    return o;
}

}  // namespace

std::vector<Option> CastOptions(CastAndLift& c) {
    return {
        OnOffOption("--cast", &c.cast,
                    "Neutralise a colour cast, such as the orange of tungsten light or the blue of shade and "
                    "water."),
        ChoiceOption("--cast-method", &c.castMethod, {{"nearest", 0}, {"box", 1}, {"adaptive", 2}, {"average", 3}},
                     "How the cast is measured: 'average' balances the average colour of the scene (removes "
                     "strong casts such as tungsten or underwater light); 'nearest' trusts the most common "
                     "colour closest to neutral; 'box' the edge of the most common colours nearest neutral "
                     "(gentle, often leaves a cast); 'adaptive' widens its view on busy scenes and leaves "
                     "scenes dominated by red alone."),
        FloatOption("--cast-strength", "0..1", &c.castStrength, 0.0f, 1.0f,
                    "How much of the measured cast is removed: 0 keeps the light's colour, 1 removes it fully."),
    };
}

std::vector<Option> LiftOptions(CastAndLift& c) {
    return {
        BrightenOption(&c.autoBrighten, &c.brighten, 300),
        IntOption("--max-brighten", "PERCENT", &c.maxBrighten, 0, 300,
                  "With --brighten auto: the strongest lift it may choose."),
        IntOption("--shadow-floor", "LEVEL", &c.shadowFloor, 0, 254,
                  "Levels (0..255, also for 16-bit photos) below this are left as they are by the lift, so "
                  "deep blacks stay black."),
        OnOffOption("--local-contrast", &c.localContrast,
                    "Lift areas that are darker than their surroundings less than bright ones, so that local "
                    "contrast survives the brightening."),
        IntOption("--local-depth", "PERCENT", &c.localDepth, 0, 100,
                  "With --local-contrast: how much darker areas are held back against the plain lift."),
        ChoiceOption("--curve", &c.curve, {{"gentle", 0}, {"strong", 1}},
                     "The lift's shape: 'gentle' a logarithmic lift; 'strong' a lift that can go past it, with "
                     "the shadow/highlight balance of an exponential curve."),
    };
}

void Append(std::vector<Option>& to, std::vector<Option> more) {
    for (auto& o : more) to.push_back(std::move(o));
}

}  // namespace lumarex_cli
