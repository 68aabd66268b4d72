// SPDX-License-Identifier: MIT
// The one-shot correction: measures an 8-bit image and corrects it in place
// in a single call, without blob or analysis record.
#pragma once

#include <cstdint>

#include "lumarex/lumarex.h"
#include "stages/count_as_float.h"
#include "stages/finishing_settings.h"

namespace lx {

// The settings of the one-shot correction: the exported function's
// arguments 2..24 (argument 4 is unused and not kept), the finishing ones
// gathered in `finish`.
struct OneShotSettings {
    int32_t tintCorrection = 0;     // measure and remove a colour cast
    int32_t tintMode = 0;           // cast estimation method, 0..3
    float tintStrength = 1.0f;      // share of the measured gains applied
    int32_t curveBlack = 12;        // levels below it are not lifted
    int32_t shadowClip = 0;         // clip the darkest samples to black ...
    int32_t shadowClipPermille = 0; // ... this share of all samples, per mille
    int32_t* toneStrength = nullptr;// in/out lift strength, percent
    int32_t localContrast = 0;      // blend the gain tables by local contrast
    int32_t curveFamily = 0;        // 1: log/exp tables, else log lift tables
    int32_t curveReduction = 0;     // gain tables' amount = (100 - this) / 100
    int32_t autoTone = 0;           // measure the lift strength, write it back
    int32_t toneTarget = 0;         // target brightness step for autoTone
    int32_t strengthLimit = 100;    // upper bound of the measured strength
    FinishingSettings finish;       // sharpening on the brightest channel
};

// Corrects `image` (8-bit samples; sampleType is not looked at) in place.
// Steps: black offset removed; value plane and centre-weighted histogram of
// the pixels' largest channel; optional cast removal with highlight
// compression; low clip and white level; optional automatic lift strength;
// level stretch; local-contrast map; brightening through a gain table pair
// at each pixel's largest channel; then sharpening, colour restoration, warm
// tone and colour tables when enabled.
//
// The image is read and written a row at a time; the passes over it are
// merged where they read the same samples (the cast analysis counts the
// pixels while the black offset goes). Working memory comes from the
// process heap (and from the host only for the log/exp gain tables): with
// local contrast 9 bytes per pixel (V as a byte, two float planes for the
// smoothing), otherwise a few rows. Always returns 0. Degenerate inputs return 0 with the
// image left valid: no pixels (untouched), heap exhaustion (untouched), a
// white level at or below the low clip (no stretch), hi == lo of the detail
// histogram (a hard switch between the two gain tables).
int32_t LumarexComprehensive8(const ImageDesc& image, const OneShotSettings& settings);

// Centre weight of pixel (x, y) in the brightest-channel histogram: 4.0 at
// the centre 64-pixel blocks, falling linearly toward the borders (slightly
// below 0 in the last block column or row); 1.0 everywhere for images under
// 384 pixels in either direction.
float CentreWeight(int32_t x, int32_t y, int32_t width, int32_t height);

// The low-clip threshold: permille x 3N / 1000 samples (float), the product
// formed exactly whatever the share and the pixel count N.
float ShadowClipThreshold(int32_t permille, int64_t pixels);

}  // namespace lx
