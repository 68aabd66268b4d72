// SPDX-License-Identifier: MIT
// The corrections of `lumarex auto` and `lumarex correct` on one picture in
// memory, exactly as the commands run them, for the commands and for tools
// that measure what they do (tools/quality).
#pragma once

#include <string>

#include "batch.h"
#include "correction.h"
#include "image_file.h"
#include "settings.h"

namespace lumarex_cli {

// `lumarex auto` on an 8-bit picture, in place. `before`, when given, gets
// the picture as it came. `summary` tells the lift applied ("brightened 40 %").
bool AutoCorrectPicture(const Settings& s, Picture& pic, Picture* before, std::string& summary,
                        std::string& error, const FileProgress& progress);

// `lumarex correct` on an 8 or 16-bit picture, whole or only `region` (the
// picture then becomes the crop).
bool CorrectPicture(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
                    std::string& error, const FileProgress& progress);

// What a correction did.
struct CorrectionOutcome {
    int32_t strength = 0;     // the lift applied, percent
    bool castRemoved = false;
    bool heldBack = false;    // the guard reduced the settings
};

// What a correction did, as the commands print it: "brightened 40 %", then
// ", cast removed" and ", held back from clipping" where they apply.
std::string SummaryOf(const CorrectionOutcome& outcome);

// `lumarex correct` on a photo analysed already (a preview corrects many
// times from one analysis): `pic` holds the pixels of `blob`, all of it or
// `region` of it, and receives them corrected. The settings' words are
// resolved from the analysis and the guard judges `pic`. `map` places a
// scaled-down copy of the photo in the analysed one. False on failure or
// when `progress` asked to stop.
bool CorrectAnalysed(const Settings& s, const ImageBlob* blob, ImageParam* param, const Region* region,
                     const MapPlacement& map, Picture& pic, const FileProgress& progress,
                     CorrectionOutcome& outcome);

// The second half of `lumarex correct`: `blob` holds the pixels of `pic`
// (AllocImageBlob) and `param` their analysis (CalcImageBlobParam); `pic`
// becomes the corrected picture, or its `region`. For front ends that
// analyse once and correct as often as they like.
bool CorrectAnalysedPicture(const Settings& s, const Region* region, const ImageBlob* blob, ImageParam* param,
                            Picture& pic, std::string& summary, std::string& error, const FileProgress& progress);

// The same for a region, leaving the analysed picture `whole` as it is:
// `out` becomes the corrected region (only the region's samples are
// copied, which matters for a preview that corrects a small part of a large
// photo many times).
bool CorrectAnalysedRegion(const Settings& s, const Region& region, const ImageBlob* blob, ImageParam* param,
                           const Picture& whole, Picture& out, std::string& summary, std::string& error,
                           const FileProgress& progress);

}  // namespace lumarex_cli
