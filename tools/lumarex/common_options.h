// SPDX-License-Identifier: MIT
// Options that several subcommands share, with one wording each.
#pragma once

#include <vector>

#include "batch.h"
#include "options.h"

namespace lumarex_cli {

// -o/--output, -d/--dir, --overwrite, --compare, --quality, --jobs, --quiet.
std::vector<Option> OutputOptions(OutputChoice& choice);

// The finishing stages both corrections end with.
struct Finishing {
    int colour = 0;            // colour restoration mode, 0 = off
    float colourAmount = 0.5f;
    float sharpen = 0.0f;      // 0 = off
    float warmTone = 0.0f;     // 0 = off
    int look = -1;             // -1 none, 0 natural, 1 contrast
    int flatten = 0;           // the flattening table, after the look
};
std::vector<Option> FinishingOptions(Finishing& f);

// The cast removal and the lift, which both corrections have.
struct CastAndLift {
    int cast = 1;                // remove a colour cast
    int castMethod = 3;          // tint mode: the average colour
    float castStrength = 0.7f;   // share of the measured cast removed
    int autoBrighten = 1;        // measure the lift strength
    int brighten = 60;           // the strength when not measured, percent
    int maxBrighten = 100;       // upper bound of a measured strength
    int shadowFloor = 12;        // levels below it are not lifted (8-bit scale)
    int localContrast = 1;
    int localDepth = 50;         // the gain tables' amount is (100 - this) / 100
    int curve = 0;               // 0 log lift, 1 log/exp
};
std::vector<Option> CastOptions(CastAndLift& c);
std::vector<Option> LiftOptions(CastAndLift& c);

// Appends `more` to `to`.
void Append(std::vector<Option>& to, std::vector<Option> more);

}  // namespace lumarex_cli
