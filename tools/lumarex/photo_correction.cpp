// SPDX-License-Identifier: MIT
#include "photo_correction.h"

#include <algorithm>
#include <cstdint>
#include <limits>
#include <vector>

#include "large_pages.h"
#include "lumarex/analysis_record.h"
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

// Clipping the guard allows, percent of the pixels newly at the top or the
// bottom. A careful levels stretch clips a fraction of a percent; beyond
// these, a bright subject visibly burns out or shadow detail blocks up.
constexpr double kGuardHighlights = 1.0;
constexpr double kGuardShadows = 1.5;
// Reductions the guard tries before it gives up: enough for the cast (three),
// the black clip (one) and the lift (from 300 % in seven halvings to none).
constexpr int kGuardSteps = 12;

// Percent of the pixels of `after` with a channel at the top (bottom) that
// was not there before. 254 and above (1 and below) count: a JPEG round
// trip turns a clipped 255 into 254 often enough.
struct Clipping {
    double highlights = 0.0, shadows = 0.0;
};

// What the guard needs of the picture before the correction: per pixel,
// which channels were below the top (bit c) and above the bottom (bit
// 3 + c). One byte a pixel instead of a copy of the picture (3 or 6).
class ClipReference {
public:
    ClipReference() = default;
    explicit ClipReference(const Picture& before) {
        if (before.bits == 16) Fill(before.rgb16, Limits(16));
        else Fill(before.rgb8, Limits(8));
    }

    Clipping Added(const Picture& after) const {
        if (after.bits == 16) return Added(after.rgb16, Limits(16));
        return Added(after.rgb8, Limits(8));
    }

private:
    // The top and the bottom that count as clipped, by sample depth.
    struct Bounds {
        uint32_t top, bottom;
    };
    static Bounds Limits(int bits) { return bits == 16 ? Bounds{254u * 257u, 257u} : Bounds{254u, 1u}; }

    template <typename T>
    void Fill(const std::vector<T>& px, Bounds b) {
        ResizeOnLargePages(flags_, px.size() / 3);
        for (size_t i = 0; i < flags_.size(); ++i) {
            uint8_t f = 0;
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = px[i * 3 + size_t(c)];
                f |= uint8_t((v < b.top ? 1u : 0u) << c) | uint8_t((v > b.bottom ? 8u : 0u) << c);
            }
            flags_[i] = f;
        }
    }

    template <typename T>
    Clipping Added(const std::vector<T>& px, Bounds b) const {
        uint64_t high = 0, low = 0;
        const size_t n = std::min(flags_.size(), px.size() / 3);
        for (size_t i = 0; i < n; ++i) {
            bool h = false, l = false;
            for (int c = 0; c < 3; ++c) {
                const uint32_t v = px[i * 3 + size_t(c)];
                h |= v >= b.top && (flags_[i] & (1u << c)) != 0;
                l |= v <= b.bottom && (flags_[i] & (8u << c)) != 0;
            }
            high += h, low += l;
        }
        if (n == 0) return {};
        return {100.0 * double(high) / double(n), 100.0 * double(low) / double(n)};
    }

    std::vector<uint8_t> flags_;
};

// The settings' words that leave a choice to the photo, resolved from what
// the analysis measured: --cast auto removes a cast only when the method's
// gains change the photo (its NeedTintCorrection flag).
Settings Resolve(const Settings& s, const ImageParam* param) {
    Settings r = s;
    if (r.cast == kMeasured) {
        LxAnalysisRecord record{};
        r.cast = LxReadAnalysisRecord(param, &record) == 1 && s.castMethod >= 0 &&
                         s.castMethod < LX_RECORD_TINT_MODES && record.needTint[s.castMethod] != 0
                     ? 1
                     : 0;
    }
    return r;
}

// One reduction of `s` against what clipped, or false when nothing is left
// to reduce. For the shadows the black clip, which alone of the settings sets
// samples to black (a weaker lift only darkens them further). For the
// highlights the cast removal (its gains push a channel over the top),
// halved, then off; then the lift, halved down to none.
bool HoldBack(Settings& s, const Clipping& c, int32_t strength) {
    if (c.shadows > kGuardShadows && s.blackClip > 0.0f) {
        s.blackClip = 0.0f;
        return true;
    }
    if (c.highlights > kGuardHighlights && s.cast != 0 && s.castStrength > 0.0f) {
        if (s.castStrength > 0.2f) s.castStrength = float(int(s.castStrength * 10.0f) / 2) / 10.0f;
        else s.cast = 0;
        return true;
    }
    if (c.highlights > kGuardHighlights && strength > 0) {
        s.brighten = strength > 8 ? strength / 2 : 0;
        s.minBrighten = std::min(s.minBrighten, s.brighten);
        return true;
    }
    return false;
}

// Applies `s` to `pic` from the analysed blob. A measured lift below
// minBrighten (a bright photo asks for a darkening) is applied again at that
// floor. With the guard on, the result is compared with `original` and
// corrected again with reduced settings while it clips more than allowed.
bool ApplyGuarded(Settings s, const ClipReference& original, Picture& pic, const ImageBlob* blob, ImageParam* param,
                  const Region* region, const MapPlacement& map, const ProgressContext& correction,
                  int32_t& strength, bool& heldBack) {
    heldBack = false;
    void* context = const_cast<ProgressContext*>(&correction);
    for (int step = 0;; ++step) {
        const ImageDesc out = DescribeRgb(pic);
        if (!ApplyCorrection(out, blob, param, s, region, OnProgress, context, strength, map)) return false;
        if (s.brighten == kMeasured && strength < s.minBrighten) {
            s.brighten = s.minBrighten;
            if (!ApplyCorrection(out, blob, param, s, region, OnProgress, context, strength, map)) return false;
        }
        if (s.guard == 0 || step == kGuardSteps) return true;
        const Clipping c = original.Added(pic);
        if (c.highlights <= kGuardHighlights && c.shadows <= kGuardShadows) return true;
        if (!HoldBack(s, c, strength)) return true;
        heldBack = true;
    }
}

// The settings resolved from the analysis, applied to `pic` (the blob's
// pixels, or the region's) under the guard, which judges against `original`
// (taken from `pic` when null).
bool ApplyResolved(const Settings& given, const ImageBlob* blob, ImageParam* param, const Region* region,
                   const MapPlacement& map, Picture& pic, const ProgressContext& correction,
                   CorrectionOutcome& outcome, const ClipReference* original = nullptr) {
    const Settings s = Resolve(given, param);
    const ClipReference own = s.guard != 0 && original == nullptr ? ClipReference(pic) : ClipReference();
    outcome.castRemoved = s.cast != 0;
    return ApplyGuarded(s, original ? *original : own, pic, blob, param, region, map, correction, outcome.strength,
                        outcome.heldBack);
}

bool RegionInside(const Region* region, const Picture& pic, std::string& error) {
    if (region && (int64_t{region->x} + region->w > pic.width || int64_t{region->y} + region->h > pic.height)) {
        error = "the region " + std::to_string(region->x) + "," + std::to_string(region->y) + "," +
                std::to_string(region->w) + "," + std::to_string(region->h) + " leaves the " +
                std::to_string(pic.width) + "x" + std::to_string(pic.height) + " photo (as displayed)";
        return false;
    }
    return true;
}

// The correction of an analysed photo: `pic`, the whole photo or already
// just its `region`, becomes the corrected photo or region, with `before`
// the uncorrected one.
bool ApplyToPicture(const Settings& given, const Region* region, const ImageBlob* blob, ImageParam* param,
                    const ProgressContext& correction, Picture& pic, Picture* before, std::string& summary,
                    std::string& error, const ClipReference* original = nullptr) {
    if (before) *before = pic;
    CorrectionOutcome outcome;
    if (!ApplyResolved(given, blob, param, region, MapPlacement{}, pic, correction, outcome, original)) {
        error = StopRequested() ? "stopped"
                                : (given.denoise != kNoDenoise ? "the correction failed (out of memory, or the noise "
                                                                 "library is missing or refused the photo)"
                                                               : "the correction ran out of memory");
        return false;
    }
    summary = SummaryOf(outcome);
    if (pic.bits == 16) summary += ", 16-bit";
    return true;
}

// The same from the whole photo, cropped to `region` first.
bool ApplyAnalysis(const Settings& given, const Region* region, const ImageBlob* blob, ImageParam* param,
                   const ProgressContext& correction, Picture& pic, Picture* before, std::string& summary,
                   std::string& error, const ClipReference* original = nullptr) {
    if (!RegionInside(region, pic, error)) return false;
    if (region) pic = Crop(pic, *region);
    return ApplyToPicture(given, region, blob, param, correction, pic, before, summary, error, original);
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
    // A whole photo is read again only from the blob: the picture's samples
    // are let go while the analysis runs (its working planes are the peak of
    // the command's memory) and come back as room for the result, whose
    // every sample the correction writes. The guard keeps what it needs of
    // them, and `before` its copy.
    const bool release = region == nullptr;
    ClipReference original;
    if (release) {
        if (before) *before = pic;
        if (given.guard != 0) original = ClipReference(pic);
        std::vector<uint8_t>().swap(pic.rgb8);
        std::vector<uint16_t>().swap(pic.rgb16);
    }
    const ProgressContext analysis{&progress, 0.0f, 0.5f};
    const ParamOwner param(CalcImageBlobParam(blob.get(), OnProgress, const_cast<ProgressContext*>(&analysis)));
    if (!param) {
        error = StopRequested() ? "stopped" : "the analysis ran out of memory";
        return false;
    }
    const ProgressContext correction{&progress, 0.5f, 0.5f};
    if (!release) return ApplyAnalysis(given, region, blob.get(), param.get(), correction, pic, before, summary, error);
    const size_t samples = size_t(pic.width) * size_t(pic.height) * 3;
    if (pic.bits == 16) ResizeOnLargePages(pic.rgb16, samples);
    else ResizeOnLargePages(pic.rgb8, samples);
    return ApplyAnalysis(given, nullptr, blob.get(), param.get(), correction, pic, nullptr, summary, error, &original);
}

// `correct` applies a measured lift as measured, a darkening included.
Settings WithoutLiftFloor(const Settings& s) {
    Settings any = s;
    any.minBrighten = std::numeric_limits<int>::min();
    return any;
}

}  // namespace

std::string SummaryOf(const CorrectionOutcome& outcome) {
    std::string summary = "brightened " + std::to_string(outcome.strength) + " %";
    if (outcome.castRemoved) summary += ", cast removed";
    if (outcome.heldBack) summary += ", held back from clipping";
    return summary;
}

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

bool CorrectAnalysedPicture(const Settings& s, const Region* region, const ImageBlob* blob, ImageParam* param,
                            Picture& pic, std::string& summary, std::string& error, const FileProgress& progress) {
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyAnalysis(WithoutLiftFloor(s), region, blob, param, correction, pic, nullptr, summary, error);
}

bool CorrectAnalysedRegion(const Settings& s, const Region& region, const ImageBlob* blob, ImageParam* param,
                           const Picture& whole, Picture& out, std::string& summary, std::string& error,
                           const FileProgress& progress) {
    if (!RegionInside(&region, whole, error)) return false;
    out = Crop(whole, region);
    const ProgressContext correction{&progress, 0.0f, 1.0f};
    return ApplyToPicture(WithoutLiftFloor(s), &region, blob, param, correction, out, nullptr, summary, error);
}

bool CorrectAnalysed(const Settings& s, const ImageBlob* blob, ImageParam* param, const Region* region,
                     const MapPlacement& map, Picture& pic, const FileProgress& progress,
                     CorrectionOutcome& outcome) {
    const ProgressContext correction{&progress, 0.5f, 0.5f};
    return ApplyResolved(WithoutLiftFloor(s), blob, param, region, map, pic, correction, outcome);
}

}  // namespace lumarex_cli
