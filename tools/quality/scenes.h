// SPDX-License-Identifier: MIT
// Synthetic scenes with known content, drawn in code at any size: each holds
// a situation where an automatic correction can do harm, and says what a
// good correction does with its marked area.
#pragma once

#include <string>
#include <vector>

#include "metrics.h"

namespace lumarex_quality {

// What should become of the colour of a scene's marked area.
enum class CastGoal {
    kNone,    // no marked area
    kRemove,  // a cast of the light: should mostly go (grey card under tungsten)
    kKeep,    // the scene's own colour: should mostly stay (a sunset sky)
};

struct Scene {
    std::string name;
    Rgb8 image;
    CastGoal goal = CastGoal::kNone;
    Rect area;  // the marked area, for CastGoal other than kNone
};

// All scenes at `width` x `height` (at least 64 x 48):
// - "grey-card-tungsten": a room of neutral and coloured patches round an 18 %
//   grey card, lit orange (light 1.0/0.72/0.42); the card's colour is the cast.
// - "grey-card-shade": the same in blue shade light (0.74/0.88/1.0).
// - "skin-patch": a face-sized skin area, shaded, before a neutral wall,
//   with dark hair and a white shirt, in neutral light.
// - "sunset-gradient": a sky from deep blue to orange over a dark shore, the
//   sun at the top of the range; the warm band is the scene's own colour.
// - "well-exposed": 24 colour patches on neutral grey, from near black to
//   near white, in neutral light: a good correction leaves it nearly alone.
// - "high-key": light greys and pastels up to near white.
// - "night": a dark street with a few bright lamps.
// - "clear-sky": a blue sky filling the frame, with a small red kite.
// - "evening-sky": an orange sky turning yellow over a black hill and tree.
std::vector<Scene> MakeScenes(int width, int height);

}  // namespace lumarex_quality
