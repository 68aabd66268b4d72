// SPDX-License-Identifier: MIT
// The corrections of `lumarex auto` and `lumarex correct` on one picture in
// memory, exactly as the commands run them, for the commands and for tools
// that measure what they do (tools/quality): analyse, choose (choice.h),
// apply the choice.
#pragma once

#include <optional>
#include <string>

#include "batch.h"
#include "choice.h"
#include "correction.h"
#include "image_file.h"
#include "settings.h"

namespace lumarex_cli {

// False, with the refusal in `error`, when `region` (if any) leaves `pic`.
bool RegionInside(const Region* region, const Picture& pic, std::string& error);

// `lumarex auto` on an 8-bit picture, in place. `before`, when given, gets
// the picture as it came. `summary` tells the lift applied ("brightened 40 %").
bool AutoCorrectPicture(const Settings& s, Picture& pic, Picture* before, std::string& summary,
                        std::string& error, const FileProgress& progress);

// `lumarex auto`'s decisions on an 8 or 16-bit picture, whole or only
// `region` (the picture then becomes the crop, corrected as it looks in the
// whole): for an image editor, which corrects a selection of a layer and
// keeps a 16-bit layer at 16 bits.
bool AutoCorrectRegion(const Settings& s, const Region* region, Picture& pic, std::string& summary,
                       std::string& error, const FileProgress& progress);

// `lumarex correct` on an 8 or 16-bit picture, whole or only `region` (the
// picture then becomes the crop).
bool CorrectPicture(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
                    std::string& error, const FileProgress& progress);

// The choices of one analysed photo for `lumarex correct`, for front ends
// that correct it many times (the preview, the Python module): the copy the
// choices are judged on is made once, and the choice for the settings last
// asked for is kept.
class PhotoChoices {
public:
    explicit PhotoChoices(const Picture& photo);

    // The photo's frame (frame.h): the front end analyses the photo inside
    // it (AnalyseInsideFrame), and every choice keeps it.
    const Frame& frame() const { return frame_; }

    // The choice for `given`, made when the settings differ from the last
    // ones. Null with `error` when the library failed or `progress` asked to
    // stop.
    const Choice* For(const Settings& given, ImageParam* param, std::string& error, const FileProgress& progress);

private:
    Frame frame_;
    Picture copy_;
    int width_;
    std::optional<Settings> given_;
    Choice choice_;
};

// Applies `choice` to an analysed photo or a scaled-down copy of it:
// `blob` holds the pixels of `source`; `pic`, the size of all of them or of
// `region`, receives them corrected, a region as it looks in the whole
// source (sharpened as the whole is). `map` places a scaled-down copy in the
// analysed photo. False on failure or when `progress` asked to stop.
bool ApplyChoice(const Choice& choice, const ImageBlob* blob, const Picture& source, ImageParam* param,
                 const Region* region, const MapPlacement& map, Picture& pic, const FileProgress& progress);

// The same with the command's failure texts and summary: `pic` becomes the
// corrected photo, or its `region` when it holds the whole photo.
bool ApplyChoiceToPicture(const Choice& choice, const Region* region, const ImageBlob* blob, ImageParam* param,
                          Picture& pic, std::string& summary, std::string& error, const FileProgress& progress);

// The same for a region, leaving the analysed picture `whole` as it is:
// `out` becomes the corrected region (only the region's samples are
// copied, which matters for a preview that corrects a small part of a large
// photo many times).
bool ApplyChoiceToRegion(const Choice& choice, const Region& region, const ImageBlob* blob, ImageParam* param,
                         const Picture& whole, Picture& out, std::string& summary, std::string& error,
                         const FileProgress& progress);

}  // namespace lumarex_cli
