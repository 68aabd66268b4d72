// SPDX-License-Identifier: MIT
#include "photo_correction.h"

#include <cstdint>
#include <limits>
#include <vector>

#include "large_pages.h"
#include "lumarex/lumarex.h"
#include "stop.h"

namespace lumarex_cli {
namespace {

// The library's progress, steps 1..total of one call, as a part of the
// file's correction: the analysis the first half, the correction the second
// (or the whole, when an analysis is applied on its own).
struct ProgressContext {
    const FileProgress* file;
    float first, share;
};
int32_t OnProgress(int32_t step, int32_t total, void* context) {
    const auto* c = static_cast<const ProgressContext*>(context);
    return (*c->file)(c->first + c->share * float(step) / float(total)) ? 1 : 0;
}

// The region as a picture of its own, with the source's metadata and alpha.
Picture Crop(const Picture& p, const Region& r) { return CropPicture(p, r.x, r.y, r.w, r.h, true); }

bool RegionInside(const Region* region, const Picture& pic, std::string& error) {
    if (region && (int64_t{region->x} + region->w > pic.width || int64_t{region->y} + region->h > pic.height)) {
        error = "the region " + std::to_string(region->x) + "," + std::to_string(region->y) + "," +
                std::to_string(region->w) + "," + std::to_string(region->h) + " leaves the " +
                std::to_string(pic.width) + "x" + std::to_string(pic.height) + " photo (as displayed)";
        return false;
    }
    return true;
}

bool Apply(const Choice& choice, const ImageBlob* blob, ImageParam* param, const Region* region,
           const MapPlacement& map, Picture& pic, const ProgressContext& correction) {
    const ImageDesc out = DescribeRgb(pic);
    int32_t strength = 0;
    return ApplyCorrection(out, blob, param, choice.settings, region, OnProgress,
                           const_cast<ProgressContext*>(&correction), strength, map);
}

// Applies `choice` to `pic` (the whole photo, or already just its region)
// with the command's failure texts and summary line.
bool ApplyWithSummary(const Choice& choice, const Region* region, const ImageBlob* blob, ImageParam* param,
                      const ProgressContext& correction, Picture& pic, std::string& summary, std::string& error) {
    if (!Apply(choice, blob, param, region, MapPlacement{}, pic, correction)) {
        error = StopRequested() || (*correction.file)(correction.first)
                    ? "stopped"
                    : (choice.settings.denoise != kNoDenoise ? "the correction failed (out of memory, or the noise "
                                                               "library is missing or refused the photo)"
                                                             : "the correction ran out of memory");
        return false;
    }
    summary = SummaryOf(choice.outcome);
    if (pic.bits == 16) summary += ", 16-bit";
    return true;
}

bool AnalyseAndApply(const Settings& given, const Region* region, Picture& pic, Picture* before,
                     std::string& summary, std::string& error, const FileProgress& progress) {
    if (!RegionInside(region, pic, error)) return false;
    const ImageDesc source = DescribeRgb(pic);
    const BlobOwner blob(AllocImageBlob(&source));
    if (!blob) {
        error = "not enough memory for the working copy";
        return false;
    }
    const Picture copy = ChoiceCopy(pic);
    const int width = pic.width;
    // A whole photo is read again only from the blob: the picture's samples
    // are let go while the analysis runs (its working planes are the peak of
    // the command's memory) and come back as room for the result, whose
    // every sample the correction writes.
    const bool release = region == nullptr;
    if (release) {
        if (before) *before = pic;
        std::vector<uint8_t>().swap(pic.rgb8);
        std::vector<uint16_t>().swap(pic.rgb16);
    }
    const ProgressContext analysis{&progress, 0.0f, 0.5f};
    const ParamOwner param(CalcImageBlobParam(blob.get(), OnProgress, const_cast<ProgressContext*>(&analysis)));
    if (!param) {
        error = StopRequested() ? "stopped" : "the analysis ran out of memory";
        return false;
    }
    Choice choice;
    const FileProgress choosing = [&progress](float) { return progress(0.5f); };
    if (!Choose(given, copy, width, param.get(), choice, error, choosing)) return false;
    const ProgressContext correction{&progress, 0.5f, 0.5f};
    if (!release) {
        pic = Crop(pic, *region);
        if (before) *before = pic;
        return ApplyWithSummary(choice, region, blob.get(), param.get(), correction, pic, summary, error);
    }
    const size_t samples = size_t(pic.width) * size_t(pic.height) * 3;
    if (pic.bits == 16) ResizeOnLargePages(pic.rgb16, samples);
    else ResizeOnLargePages(pic.rgb8, samples);
    return ApplyWithSummary(choice, nullptr, blob.get(), param.get(), correction, pic, summary, error);
}

// `correct` applies a measured lift as measured, a darkening included.
Settings WithoutLiftFloor(const Settings& s) {
    Settings any = s;
    any.minBrighten = std::numeric_limits<int>::min();
    return any;
}

}  // namespace

bool AutoCorrectPicture(const Settings& s, Picture& pic, Picture* before, std::string& summary, std::string& error,
                        const FileProgress& progress) {
    // The analysed correction at 8 bits: unlike the one-shot correction, its
    // levels stretch keeps the highlights (the one-shot one newly clips 6 to
    // 17 % of the pixels of every photo tried, whatever its settings), and the
    // analysis tells whether there is a cast at all.
    return AnalyseAndApply(s, nullptr, pic, before, summary, error, progress);
}

bool CorrectPicture(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
                    std::string& error, const FileProgress& progress) {
    return AnalyseAndApply(WithoutLiftFloor(s), region, pic, before, summary, error, progress);
}

const Choice* PhotoChoices::For(const Settings& given, ImageParam* param, std::string& error,
                                const FileProgress& progress) {
    if (given_ && *given_ == given) return &choice_;
    given_.reset();
    if (!Choose(WithoutLiftFloor(given), copy_, width_, param, choice_, error, progress)) return nullptr;
    given_ = given;
    return &choice_;
}

bool ApplyChoice(const Choice& choice, const ImageBlob* blob, ImageParam* param, const Region* region,
                 const MapPlacement& map, Picture& pic, const FileProgress& progress) {
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return Apply(choice, blob, param, region, map, pic, correction);
}

bool ApplyChoiceToPicture(const Choice& choice, const Region* region, const ImageBlob* blob, ImageParam* param,
                          Picture& pic, std::string& summary, std::string& error, const FileProgress& progress) {
    if (!RegionInside(region, pic, error)) return false;
    if (region) pic = Crop(pic, *region);
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyWithSummary(choice, region, blob, param, correction, pic, summary, error);
}

bool ApplyChoiceToRegion(const Choice& choice, const Region& region, const ImageBlob* blob, ImageParam* param,
                         const Picture& whole, Picture& out, std::string& summary, std::string& error,
                         const FileProgress& progress) {
    if (!RegionInside(&region, whole, error)) return false;
    out = Crop(whole, region);
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyWithSummary(choice, &region, blob, param, correction, out, summary, error);
}

}  // namespace lumarex_cli
