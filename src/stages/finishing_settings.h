// SPDX-License-Identifier: MIT
// The finishing steps both corrections run after the brightening, each off
// at 0: sharpening, colour restoration, warm tone and the colour tables.
#pragma once

#include <cstdint>

namespace lx {

struct FinishingSettings {
    // Colour restoration mode, 0 for none. Without it the apply pipeline
    // scales the channels in proportion to the brightened value; the
    // one-shot has brightened each pixel's channels already and leaves them.
    int32_t colorMode = 0;
    float colorAmount = 0.0f;
    int32_t sharpen = 0;
    float sharpenAmount = 0.0f;
    int32_t warmTone = 0;
    float warmToneStrength = 0.0f;
    int32_t colorCube = 0;  // colour table A or B ...
    int32_t cubeSelect = 0; // ... 0: A, 1: B
    int32_t cubeAlsoC = 0;  // also table C, or C alone
};

}  // namespace lx
