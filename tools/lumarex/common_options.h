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

// The lift strength: "auto" (measured) or a percentage.
Option BrightenOption(int* automatic, int* percent, int maxPercent);

// Appends `more` to `to`.
void Append(std::vector<Option>& to, std::vector<Option> more);

}  // namespace lumarex_cli
