// SPDX-License-Identifier: MIT
#include "photo_correction.h"

#include <algorithm>
#include <cmath>
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

// How far sharpening reads beyond a pixel: its three-tap kernel runs twice
// along each axis.
constexpr int kSharpenReach = 2;

// The sharpening strength the library derives from the size of a whole
// picture (its amount is a multiple of it); a region is sharpened with the
// amount as given.
float SharpenStrengthOfWhole(int width, int height) {
    return std::clamp(std::sqrt(float(width) * float(height) / 1000000.0f / 7.0f), 0.1f, 1.0f);
}

// A region as it looks in the whole `sourceWidth` x `sourceHeight` picture.
// With sharpening, the region is corrected with the whole picture's strength
// and a margin of the pixels the kernel reads, then cropped: at the region's
// edges the library would otherwise sharpen against the edge itself. With
// noise removal, whose strength follows the noise it measures in what it is
// given and whose filters reach far beyond a pixel, the whole picture is
// corrected and the region cropped from it: exact, at the cost of the whole.
// The region is written into `pic` from its pixel (dx, dy).
bool ApplyRegion(const Choice& choice, const ImageBlob* blob, ImageParam* param, const Region& r, int sourceWidth,
                 int sourceHeight, const MapPlacement& map, Picture& pic, int dx, int dy,
                 const ProgressContext& correction) {
    void* context = const_cast<ProgressContext*>(&correction);
    int32_t strength = 0;
    Settings s = choice.settings;
    const bool denoise = s.denoise != kNoDenoise;
    if (s.sharpen <= 0.0f && !denoise)
        return ApplyCorrection(DescribePart(pic, Region{dx, dy, r.w, r.h}), blob, param, s, &r, OnProgress, context,
                               strength, map);
    Region wide{0, 0, sourceWidth, sourceHeight};
    if (!denoise) {
        s.sharpen = SharpenStrengthOfWhole(sourceWidth, sourceHeight) * s.sharpen;
        wide.x = std::max(0, r.x - kSharpenReach);
        wide.y = std::max(0, r.y - kSharpenReach);
        wide.w = std::min(sourceWidth, r.x + r.w + kSharpenReach) - wide.x;
        wide.h = std::min(sourceHeight, r.y + r.h + kSharpenReach) - wide.y;
    }
    Picture out;
    out.width = wide.w, out.height = wide.h, out.bits = pic.bits;
    const size_t samples = size_t(wide.w) * size_t(wide.h) * 3;
    if (pic.bits == 16) out.rgb16.resize(samples);
    else out.rgb8.resize(samples);
    if (!ApplyCorrection(DescribeRgb(out), blob, param, s, denoise ? nullptr : &wide, OnProgress, context, strength,
                         map))
        return false;
    const size_t row = size_t(r.w) * 3;
    for (int y = 0; y < r.h; ++y) {
        const size_t from = (size_t(r.y - wide.y + y) * size_t(wide.w) + size_t(r.x - wide.x)) * 3;
        const size_t to = (size_t(dy + y) * size_t(pic.width) + size_t(dx)) * 3;
        if (pic.bits == 16) std::copy_n(out.rgb16.begin() + from, row, pic.rgb16.begin() + to);
        else std::copy_n(out.rgb8.begin() + from, row, pic.rgb8.begin() + to);
    }
    return true;
}

// `pic` holds the pixels of `region` of the source (all of it without
// one); the correction is written over those that lie inside the photo's
// frame, and the frame's are left as they are. The analysis being of the
// photo it reaches (Frame::Analysed), the map is read from that corner. In
// a scaled copy the frame is scaled with it, to the nearest pixel.
bool Apply(const Choice& choice, const ImageBlob* blob, ImageParam* param, const Region* region, int sourceWidth,
           int sourceHeight, const MapPlacement& map, Picture& pic, const ProgressContext& correction) {
    if (!choice.frame.Empty()) {
        const Frame& f = choice.frame;
        const auto scaled = [&map](int v) { return int(std::lround(double(v) * double(map.scale))); };
        const int x0 = scaled(f.left), y0 = scaled(f.top);
        const int x1 = sourceWidth - scaled(f.right), y1 = sourceHeight - scaled(f.bottom);
        const Region whole{0, 0, sourceWidth, sourceHeight};
        const Region& target = region ? *region : whole;
        const int left = std::max(target.x, x0), top = std::max(target.y, y0);
        const int right = std::min(target.x + target.w, x1), bottom = std::min(target.y + target.h, y1);
        if (right <= left || bottom <= top) return true;
        MapPlacement inside = map;
        inside.offsetX -= scaled(f.reachLeft), inside.offsetY -= scaled(f.reachTop);
        return ApplyRegion(choice, blob, param, Region{left, top, right - left, bottom - top}, sourceWidth,
                           sourceHeight, inside, pic, left - target.x, top - target.y, correction);
    }
    if (region)
        return ApplyRegion(choice, blob, param, *region, sourceWidth, sourceHeight, map, pic, 0, 0, correction);
    int32_t strength = 0;
    return ApplyCorrection(DescribeRgb(pic), blob, param, choice.settings, nullptr, OnProgress,
                           const_cast<ProgressContext*>(&correction), strength, map);
}

// Applies `choice` to `pic` (the whole photo, or already just its region)
// with the command's failure texts and summary line.
bool ApplyWithSummary(const Choice& choice, const Region* region, int sourceWidth, int sourceHeight,
                      const ImageBlob* blob, ImageParam* param, const ProgressContext& correction, Picture& pic,
                      std::string& summary, std::string& error) {
    if (!Apply(choice, blob, param, region, sourceWidth, sourceHeight, MapPlacement{}, pic, correction)) {
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

// The copy a choice is judged on: of the photo inside its frame.
Picture CopyInsideFrame(const Picture& pic, const Frame& frame) {
    if (frame.Empty()) return ChoiceCopy(pic);
    const Region in = frame.Analysed(pic.width, pic.height);
    return ChoiceCopy(CropPicture(pic, in.x, in.y, in.w, in.h, false));
}

// The frame kept with the choice, and its reason first.
void NoteFrame(Choice& choice, const Frame& frame) {
    choice.frame = frame;
    if (!frame.Empty()) choice.reasons.insert(choice.reasons.begin(), FrameReason(frame));
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
    const Frame frame = FrameOf(pic);
    const Picture copy = CopyInsideFrame(pic, frame);
    const int width = pic.width;
    // A whole photo is read again only from the blob: the picture's samples
    // are let go while the analysis runs (its working planes are the peak of
    // the command's memory) and come back as room for the result, whose
    // every sample the correction writes. A frame, which it does not write,
    // keeps them.
    const bool release = region == nullptr && frame.Empty();
    if (release) {
        if (before) *before = pic;
        std::vector<uint8_t>().swap(pic.rgb8);
        std::vector<uint16_t>().swap(pic.rgb16);
    }
    const ProgressContext analysis{&progress, 0.0f, 0.5f};
    const ParamOwner param(
        AnalyseInsideFrame(blob.get(), pic, frame, OnProgress, const_cast<ProgressContext*>(&analysis)));
    if (!param) {
        error = StopRequested() ? "stopped" : "the analysis ran out of memory";
        return false;
    }
    Choice choice;
    const FileProgress choosing = [&progress](float) { return progress(0.5f); };
    if (!Choose(given, copy, frame.Analysed(pic.width, pic.height).w, param.get(), choice, error, choosing))
        return false;
    NoteFrame(choice, frame);
    const ProgressContext correction{&progress, 0.5f, 0.5f};
    if (region) {
        const int height = pic.height;
        pic = Crop(pic, *region);
        if (before) *before = pic;
        return ApplyWithSummary(choice, region, width, height, blob.get(), param.get(), correction, pic, summary,
                                error);
    }
    if (release) {
        const size_t samples = size_t(pic.width) * size_t(pic.height) * 3;
        if (pic.bits == 16) ResizeOnLargePages(pic.rgb16, samples);
        else ResizeOnLargePages(pic.rgb8, samples);
    } else if (before) {
        *before = pic;
    }
    return ApplyWithSummary(choice, nullptr, pic.width, pic.height, blob.get(), param.get(), correction, pic, summary,
                            error);
}

// `correct` applies a measured lift as measured, a darkening included.
Settings WithoutLiftFloor(const Settings& s) {
    Settings any = s;
    any.minBrighten = std::numeric_limits<int>::min();
    return any;
}

}  // namespace

bool RegionInside(const Region* region, const Picture& pic, std::string& error) {
    if (region && (int64_t{region->x} + region->w > pic.width || int64_t{region->y} + region->h > pic.height)) {
        error = "the region " + std::to_string(region->x) + "," + std::to_string(region->y) + "," +
                std::to_string(region->w) + "," + std::to_string(region->h) + " leaves the " +
                std::to_string(pic.width) + "x" + std::to_string(pic.height) + " photo (as displayed)";
        return false;
    }
    return true;
}

bool AutoCorrectPicture(const Settings& s, Picture& pic, Picture* before, std::string& summary, std::string& error,
                        const FileProgress& progress) {
    // The analysed correction at 8 bits: unlike the one-shot correction, its
    // levels stretch keeps the highlights (the one-shot one newly clips 5 to
    // 17 % of the pixels of every photo tried, whatever its settings), and the
    // analysis tells whether there is a cast at all.
    return AnalyseAndApply(s, nullptr, pic, before, summary, error, progress);
}

bool AutoCorrectRegion(const Settings& s, const Region* region, Picture& pic, std::string& summary,
                       std::string& error, const FileProgress& progress) {
    return AnalyseAndApply(s, region, pic, nullptr, summary, error, progress);
}

bool CorrectPicture(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
                    std::string& error, const FileProgress& progress) {
    return AnalyseAndApply(WithoutLiftFloor(s), region, pic, before, summary, error, progress);
}

PhotoChoices::PhotoChoices(const Picture& photo)
    : frame_(FrameOf(photo)), copy_(CopyInsideFrame(photo, frame_)),
      width_(frame_.Analysed(photo.width, photo.height).w) {}

const Choice* PhotoChoices::For(const Settings& given, ImageParam* param, std::string& error,
                                const FileProgress& progress) {
    if (given_ && *given_ == given) return &choice_;
    given_.reset();
    if (!Choose(WithoutLiftFloor(given), copy_, width_, param, choice_, error, progress)) return nullptr;
    NoteFrame(choice_, frame_);
    given_ = given;
    return &choice_;
}

bool ApplyChoice(const Choice& choice, const ImageBlob* blob, const Picture& source, ImageParam* param,
                 const Region* region, const MapPlacement& map, Picture& pic, const FileProgress& progress) {
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return Apply(choice, blob, param, region, source.width, source.height, map, pic, correction);
}

bool ApplyChoiceToPicture(const Choice& choice, const Region* region, const ImageBlob* blob, ImageParam* param,
                          Picture& pic, std::string& summary, std::string& error, const FileProgress& progress) {
    if (!RegionInside(region, pic, error)) return false;
    const int width = pic.width, height = pic.height;
    if (region) pic = Crop(pic, *region);
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyWithSummary(choice, region, width, height, blob, param, correction, pic, summary, error);
}

bool ApplyChoiceToRegion(const Choice& choice, const Region& region, const ImageBlob* blob, ImageParam* param,
                         const Picture& whole, Picture& out, std::string& summary, std::string& error,
                         const FileProgress& progress) {
    if (!RegionInside(&region, whole, error)) return false;
    out = Crop(whole, region);
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyWithSummary(choice, &region, whole.width, whole.height, blob, param, correction, out, summary,
                            error);
}

}  // namespace lumarex_cli
