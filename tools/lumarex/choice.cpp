// SPDX-License-Identifier: MIT
#include "choice.h"

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <optional>

#include "colour_measure.h"
#include "colour_profile.h"
#include "large_pages.h"
#include "lumarex/analysis_record.h"
#include "lumarex/lumarex.h"

namespace lumarex_cli {
namespace {

// The cast methods by number (--cast-method).
constexpr int kNearestCast = 0;
constexpr int kAverageCast = 3;

// Reductions the clipping guard makes before it gives up: enough for the
// cast (three), the lift (from 300 % in seven halvings to none) and a search
// of the black clip before and after each.
constexpr int kGuardSteps = 24;

// The colour guard measures at most this many pixels of the copy, on a
// regular grid: CIEDE2000 is some two hundred operations a pixel.
constexpr int64_t kColourSamples = 128 * 1024;

// Calls f(i) with the index of the first sample of every pixel of a
// regular grid over `p` of at most kColourSamples pixels; returns how many.
template <class F>
int64_t ForGridPixels(const Picture& p, F&& f) {
    const int64_t n = int64_t{p.width} * p.height;
    const int step = std::max<int>(1, int(std::ceil(std::sqrt(double(n) / double(kColourSamples)))));
    int64_t seen = 0;
    for (int y = 0; y < p.height; y += step)
        for (int x = 0; x < p.width; x += step, ++seen) f((size_t(y) * size_t(p.width) + size_t(x)) * 3);
    return seen;
}

// The level at which `counts` (256 levels, `n` in all) reaches `percent`
// of n, from the bottom up or from the top down.
int LevelAtShare(const uint64_t (&counts)[256], size_t n, double percent, bool fromTop) {
    const double wanted = percent / 100.0 * double(n);
    uint64_t seen = 0;
    for (int k = 0; k < 256; ++k) {
        const int level = fromTop ? 255 - k : k;
        seen += counts[level];
        if (double(seen) >= wanted && seen > 0) return level;
    }
    return fromTop ? 0 : 255;
}

// An 8-bit sample of a picture of either depth.
uint8_t Sample8(const Picture& p, size_t i) {
    return p.bits == 16 ? uint8_t((uint32_t{p.rgb16[i]} * 255u + 32767u) / 65535u) : p.rgb8[i];
}

// The CIELAB colour of the pixel whose first sample is i.
Lab LabAt(const Picture& p, size_t i, const RgbSpace& space) {
    return space.LabOf(Sample8(p, i), Sample8(p, i + 1), Sample8(p, i + 2));
}

// Whether that pixel's colour counts as saturated (kSaturatedChroma).
bool IsSaturated(const Picture& p, size_t i, const RgbSpace& space) {
    return Chroma(LabAt(p, i, space)) >= kSaturatedChroma;
}

// Percent of the pixels of `after` with a channel at the top (bottom) that
// was not there before. 254 and above (1 and below) count: a JPEG round
// trip turns a clipped 255 into 254 often enough.
struct Clipping {
    double highlights = 0.0, shadows = 0.0;
};

// What the clipping guard needs of the picture before the correction: per
// pixel, which channels were below the top (bit c) and above the bottom (bit
// 3 + c).
class ClipReference {
public:
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
        flags_.resize(px.size() / 3);
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

// One step down of the cast removal: its strength halved (in tenths), or
// off once it is 0.2 or less. True when some removal is left.
bool HalveCast(Settings& s) {
    if (s.castStrength > 0.2f) {
        s.castStrength = float(int(s.castStrength * 10.0f) / 2) / 10.0f;
        return true;
    }
    s.cast = 0;
    return false;
}

// One reduction of `s` against what clipped in the highlights, or false when
// nothing is left to reduce: the cast removal (its gains push a channel over
// the top), halved, then off; then the lift, halved down to none.
// `levels` is the share the levels alone turn white (LevelsWhite), named
// in the reason when there is one.
bool HoldBackHighlights(Settings& s, const Clipping& c, double levels, std::vector<std::string>& reasons) {
    char white[96], text[200];
    if (levels >= 0.05)
        std::snprintf(white, sizeof white, "%.1f %% of the pixels newly white, %.1f %% by the levels alone",
                      c.highlights, levels);
    else
        std::snprintf(white, sizeof white, "%.1f %% of the pixels newly white", c.highlights);
    if (s.cast != 0 && s.castStrength > 0.0f) {
        const bool some = HalveCast(s);
        std::snprintf(text, sizeof text, "guard: %s; cast removal %s", white, some ? "halved" : "off");
    } else if (s.brighten > 0) {
        s.brighten = s.brighten > 8 ? s.brighten / 2 : 0;
        std::snprintf(text, sizeof text, "guard: %s; lift lowered to %d %%", white, s.brighten);
    } else {
        return false;
    }
    reasons.emplace_back(text);
    return true;
}

// The corrections tried on the copy. Noise removal and sharpening are left
// out: they change detail, not what clips or the colour of an area, and on
// a shrunken copy they would judge detail that is not the photo's.
class Trials {
public:
    Trials(const Picture& copy, int photoWidth, ImageParam* param, const FileProgress& progress)
        : copy_(copy), param_(param), progress_(progress),
          map_{0, 0, copy.width == photoWidth ? 1.0f : float(copy.width) / float(photoWidth)} {
        // The blob takes a copy of the samples; nothing writes through `d`.
        const ImageDesc d = DescribeRgb(const_cast<Picture&>(copy));
        blob_.reset(AllocImageBlob(&d));
    }

    bool Ready() const { return blob_ != nullptr; }

    // `s` applied to the copy; `strength` gets the lift applied.
    bool Apply(const Settings& s, Picture& out, int32_t& strength) {
        Settings t = s;
        t.denoise = kNoDenoise;
        t.sharpen = 0.0f;
        out.width = copy_.width, out.height = copy_.height, out.bits = copy_.bits;
        if (out.bits == 16) out.rgb16.resize(copy_.rgb16.size());
        else out.rgb8.resize(copy_.rgb8.size());
        const ImageDesc d = DescribeRgb(out);
        return ApplyCorrection(d, blob_.get(), param_, t, nullptr, &Trials::Poll, this, strength, map_);
    }

private:
    static int32_t Poll(int32_t /*step*/, int32_t /*total*/, void* context) {
        return static_cast<Trials*>(context)->progress_(0.0f) ? 1 : 0;
    }

    const Picture& copy_;
    ImageParam* param_;
    const FileProgress& progress_;
    MapPlacement map_;
    BlobOwner blob_;
};

// The black clip, which alone of the settings sets samples to black (a
// weaker lift only darkens them further), lowered to the largest tenth of a
// percent below it at which no more than kGuardShadows percent of the pixels
// turn newly black, or to none. The share of newly black pixels grows with
// the clip, so the largest such tenth is found by halving the range; a
// larger clip asked for never ends lower than a smaller one. `trial` becomes
// the copy corrected with the clip chosen.
bool LowerBlackClip(Trials& trials, const ClipReference& original, const Clipping& c, Settings& s,
                    Picture& trial, int32_t& strength, std::vector<std::string>& reasons) {
    int passes = 0, fails = int(std::lround(double(s.blackClip) * 10.0));
    bool trialIsPass = false;
    while (fails - passes > 1) {
        const int mid = passes + (fails - passes) / 2;
        s.blackClip = float(mid) / 10.0f;
        if (!trials.Apply(s, trial, strength)) return false;
        trialIsPass = original.Added(trial).shadows <= kGuardShadows;
        (trialIsPass ? passes : fails) = mid;
    }
    s.blackClip = float(passes) / 10.0f;
    if (!trialIsPass && !trials.Apply(s, trial, strength)) return false;
    char text[160];
    std::snprintf(text, sizeof text, "guard: %.1f %% of the pixels newly black; black clip %.1f %%", c.shadows,
                  double(s.blackClip));
    reasons.emplace_back(text);
    return true;
}

// Percent of the pixels newly white with `s` but neither lift nor cast
// removal: what the levels alone clip, which nothing the guard reduces takes
// back. The levels stretch the analysis' white point to the top, and where
// the photo's highlights were a flat plateau short of it (a blown sky in a
// photo darkened afterwards, a video frame's white at 235) that plateau
// turns white whatever the lift. A darkening asked for stays, as the guard
// leaves it. Negative when the library fails.
double LevelsWhite(Trials& trials, const ClipReference& original, const Settings& s) {
    Settings t = s;
    t.cast = 0;
    t.brighten = std::min(t.brighten, int32_t{0});
    Picture pic;
    int32_t applied = 0;
    if (!trials.Apply(t, pic, applied)) return -1.0;
    return original.Added(pic).highlights;
}

// --cast auto: the analysis' verdict for the method.
bool AnalysisFindsCast(ImageParam* param, int method) {
    LxAnalysisRecord record{};
    return LxReadAnalysisRecord(param, &record) == 1 && method >= 0 && method < LX_RECORD_TINT_MODES &&
           record.needTint[method] != 0;
}

// True when every cast method of the analysis finds a cast.
bool EveryMethodFindsCast(ImageParam* param) {
    LxAnalysisRecord record{};
    if (LxReadAnalysisRecord(param, &record) != 1) return false;
    for (int method = 0; method < LX_RECORD_TINT_MODES; ++method)
        if (record.needTint[method] == 0) return false;
    return true;
}

// The average method's removal at a quarter, a half, three quarters and all
// of it, on the copy corrected as `s` says otherwise: the share of the photo
// each turns newly grey, and the strength at which that share peaks, when
// below all of it and large enough (kNeutralPointGrey), and all of it still
// leaves more of the photo grey than before.
bool FindNeutralPoint(Trials& trials, const Picture& photo, const RgbSpace& space, const Settings& s,
                      NeutralPoint& out) {
    Settings t = s;
    t.cast = 0;
    Picture without, with;
    int32_t strength = 0;
    if (!trials.Apply(t, without, strength)) return false;
    const GreyPixels before(photo, without, space);
    t.cast = 1, t.castMethod = kAverageCast;
    int peak = 0;
    for (int q = 0; q < 4; ++q) {
        t.castStrength = float(q + 1) / 4.0f;
        if (!trials.Apply(t, with, strength)) return false;
        out.grey[q] = before.NewlyGreyIn(with);
        if (out.grey[q] > out.grey[peak]) peak = q;
    }
    out.found = peak < 3 && out.grey[peak] >= kNeutralPointGrey && out.grey[3] > 0.0;
    out.strength = float(peak + 1) / 4.0f;
    return true;
}

void ChooseFloor(const Picture& copy, Settings& s, std::vector<std::string>& reasons) {
    const int level = DarkestLevel(copy, kFloorPercent);
    char text[200];
    if (level > kLiftedBlacks) {
        s.shadowFloor = kDefaultShadowFloor;
        std::snprintf(text, sizeof text,
                      "shadow floor %d: the darkest 1 %% is at level %d, lifted blacks the levels stretch takes down",
                      s.shadowFloor, level);
    } else {
        s.shadowFloor = std::max(kDefaultShadowFloor, level);
        std::snprintf(text, sizeof text, "shadow floor %d: the lift starts above the darkest 1 %% of the photo",
                      s.shadowFloor);
    }
    reasons.emplace_back(text);
}

void ChooseBlackClip(ImageParam* param, int bits, Settings& s, std::vector<std::string>& reasons) {
    LxAnalysisRecord record{};
    s.blackClip = LxReadAnalysisRecord(param, &record) == 1 ? BlackClipFor(record.shadowPercentiles[0], bits)
                                                            : kDefaultBlackClip;
    char text[200];
    if (s.blackClip == kDefaultBlackClip)
        std::snprintf(text, sizeof text, "black clip %.1f %%", double(s.blackClip));
    else
        std::snprintf(text, sizeof text,
                      "black clip %.1f %%: the photo is veiled (its darkest 1 %% of samples above level %d), "
                      "the veil's floor becomes black",
                      double(s.blackClip), kVeiled);
    reasons.emplace_back(text);
}

// Lowers the cast removal while it moves the copy's saturated colours more
// than the guard allows and the photo shows no cast on its greys. `trial`
// holds the copy corrected with `s` and is kept up to date.
bool GuardColours(Trials& trials, const Picture& copy, const RgbSpace& space, Settings& s, Picture& trial,
                  std::vector<std::string>& reasons) {
    Settings plain = s, full = s;
    plain.cast = 0;
    full.castStrength = 1.0f;
    Picture without, removed;
    int32_t strength = 0;
    if (!trials.Apply(plain, without, strength) || !trials.Apply(full, removed, strength)) return false;
    const double evidence = NewlyGrey(copy, without, removed, space);
    char text[240];
    for (;;) {
        const SaturatedMove m = SaturatedColoursMoved(copy, without, trial, space);
        if (m.shift <= kGuardColourShift || evidence >= kGuardGreyEvidence) return true;
        const bool some = HalveCast(s);
        std::snprintf(text, sizeof text,
                      "colour guard: the cast removal moved the saturated colours by %.1f dE00 and turns only "
                      "%.1f %% of the photo grey; %s",
                      m.shift, evidence, some ? "strength halved" : "cast left as it is");
        reasons.emplace_back(text);
        if (s.cast == 0) {
            trial = std::move(without);
            return true;
        }
        if (!trials.Apply(s, trial, strength)) return false;
    }
}

// `pic` as 8-bit sRGB numbers: how the key of a photo in another space is
// judged, its thresholds being levels of sRGB photos.
Picture InSrgb(const Picture& pic, const RgbSpace& space) {
    Picture out;
    out.width = pic.width, out.height = pic.height, out.bits = 8;
    out.rgb8.resize(size_t(pic.width) * size_t(pic.height) * 3);
    for (size_t i = 0; i < out.rgb8.size(); i += 3) {
        const std::array<uint8_t, 3> c = space.SrgbOf(Sample8(pic, i), Sample8(pic, i + 1), Sample8(pic, i + 2));
        std::copy(c.begin(), c.end(), out.rgb8.begin() + std::ptrdiff_t(i));
    }
    return out;
}

std::string Percent(const char* what, int value) { return std::string(what) + std::to_string(value) + " %"; }

// The measured lift as a low-key photo wants it: none (a photo whose
// exposure is set or that is dull is scored: LiftByContrast). A darkening
// (a negative lift, which `correct` applies) is left as measured.
int32_t ForKey(int32_t measured, const KeyMeasure& k, std::vector<std::string>& reasons) {
    char text[200];
    int32_t lift = measured;
    if (measured > 0 && k.key == Key::kLow) {
        lift = 0;
        if (k.deepShadow >= kLowKeyShare)
            std::snprintf(text, sizeof text,
                          "brighten: measured %d %%, none: low key, %.0f %% of the photo in deep shadow", measured,
                          k.deepShadow);
        else
            std::snprintf(text, sizeof text,
                          "brighten: measured %d %%, none: low key, %.0f %% of the photo darker than 40 %% grey",
                          measured, k.dark);
    } else {
        std::snprintf(text, sizeof text, "brighten: measured %d %%", measured);
    }
    reasons.emplace_back(text);
    return lift;
}

// --brighten auto by contrast: the measured lift at `quarters` of it (raised
// to the least lift asked for), scored by ContrastOf. The largest lift whose
// score lies within kUnseenContrast of the best is taken: a smaller
// difference is not seen, and the lift is what the photo measured as
// wanting. A photo whose exposure is set, where the key cannot tell whether
// its shadows want opening, is tried at 0 to 3/4; when the cast and the
// black clip were left to the choice too, the photo as it is is scored as
// well, and kept, with the levels alone (no cast removal, black clip or
// lift), when it beats every correction by more than that. A dull photo is
// tried at 1/2 to all of it. `trial` becomes the copy corrected as chosen.
struct LiftQuarters {
    int first, last;
};
bool LiftByContrast(Trials& trials, const Picture& copy, const RgbSpace& space, int32_t measured, const KeyMeasure& k,
                    LiftQuarters quarters, bool asItIsTaken, Settings& s, Picture& trial, bool& asItIs,
                    std::vector<std::string>& reasons) {
    char text[96];
    std::snprintf(text, sizeof text, "brighten: measured %d %%, the brightest 1 %% reaches level %d: ", measured,
                  k.highlights);
    std::string reason = std::string(text) +
                         (k.key == Key::kDull ? "the highlights fall short of white, at least half of it"
                                              : "the exposure is set") +
                         "; contrast (L* spread x detail) ";
    const double asIs = asItIsTaken ? ContrastOf(copy, space).Score() : 0.0;
    if (asItIsTaken) {
        std::snprintf(text, sizeof text, "as it is %.1f, ", asIs);
        reason += text;
    }
    struct Candidate {
        int32_t lift;
        double score;
        Picture pic;
    };
    std::vector<Candidate> tried;
    for (int q = quarters.first; q <= quarters.last; ++q) {
        const int32_t lift = std::max(measured * q / 4, s.minBrighten);
        if (!tried.empty() && tried.back().lift == lift) continue;
        Settings t = s;
        t.brighten = lift;
        Candidate c{lift, 0.0, {}};
        int32_t applied = 0;
        if (!trials.Apply(t, c.pic, applied)) return false;
        c.score = ContrastOf(c.pic, space).Score();
        std::snprintf(text, sizeof text, "%s%d %% %.1f", tried.empty() ? "" : ", ", lift, c.score);
        reason += text;
        tried.push_back(std::move(c));
    }
    double best = asIs;
    for (const Candidate& c : tried) best = std::max(best, c.score);
    for (auto c = tried.rbegin(); c != tried.rend(); ++c)
        if (c->score >= best * (1.0 - kUnseenContrast)) {
            s.brighten = c->lift;
            trial = std::move(c->pic);
            reasons.push_back(reason + ": " + std::to_string(c->lift) + " %");
            asItIs = false;
            return true;
        }
    asItIs = true;
    s.cast = 0, s.blackClip = 0.0f, s.brighten = 0;
    reasons.push_back(reason + ": the photo as it is; levels only");
    int32_t applied = 0;
    return trials.Apply(s, trial, applied);
}

}  // namespace

Contrast ContrastOf(const Picture& pic, const RgbSpace& space) {
    const size_t w = size_t(pic.width), h = size_t(pic.height), n = w * h;
    if (n == 0) return {};
    std::vector<double> l(n);
    double sum = 0.0;
    for (size_t i = 0; i < n; ++i)
        sum += l[i] = space.LightnessOf(Sample8(pic, i * 3), Sample8(pic, i * 3 + 1), Sample8(pic, i * 3 + 2));
    const double mean = sum / double(n);
    double squares = 0.0, steps = 0.0;
    uint64_t pairs = 0;
    for (size_t y = 0; y < h; ++y)
        for (size_t x = 0; x < w; ++x) {
            const size_t i = y * w + x;
            squares += (l[i] - mean) * (l[i] - mean);
            if (x + 1 < w) steps += std::fabs(l[i + 1] - l[i]), ++pairs;
            if (y + 1 < h) steps += std::fabs(l[i + w] - l[i]), ++pairs;
        }
    return {std::sqrt(squares / double(n)), pairs == 0 ? 0.0 : steps / double(pairs)};
}

Picture ChoiceCopy(const Picture& photo) {
    int factor = 1;
    while (int64_t{photo.width / factor} * (photo.height / factor) > kChoicePixels) ++factor;
    Picture copy = ScaledDown(photo, std::max(1, photo.width / factor), std::max(1, photo.height / factor));
    // The colours are measured in the photo's own space (colour_profile.h).
    if (const OIIO::ParamValue* icc = photo.spec.find_attribute("ICCProfile"))
        copy.spec.attribute("ICCProfile", icc->type(), icc->data());
    return copy;
}

int DarkestLevel(const Picture& pic, double percent) {
    const size_t n = size_t(pic.width) * size_t(pic.height);
    if (n == 0) return 0;
    uint64_t counts[256] = {};
    for (size_t i = 0; i < n; ++i)
        ++counts[std::max({Sample8(pic, i * 3), Sample8(pic, i * 3 + 1), Sample8(pic, i * 3 + 2)})];
    return LevelAtShare(counts, n, percent, /*fromTop=*/false);
}

float BlackClipFor(const int32_t (&shadowPercentiles)[50], int bits) {
    // Column j holds the level below which (j + 1) tenths of a percent of
    // the samples lie; 16-bit levels are 256 times the 8-bit ones.
    const int32_t unit = bits == 16 ? 256 : 1;
    const int32_t darkest = shadowPercentiles[9];
    if (darkest <= kVeiled * unit) return kDefaultBlackClip;
    int j = 0;
    while (darkest - shadowPercentiles[j] > kVeilSpread * unit) ++j;
    return float(j + 1) / 10.0f;
}

KeyMeasure KeyOf(const Picture& pic) {
    KeyMeasure k;
    const size_t n = size_t(pic.width) * size_t(pic.height);
    if (n == 0) return k;
    uint64_t deep = 0, dark = 0, counts[256] = {};
    for (size_t i = 0; i < n; ++i) {
        const uint32_t r = Sample8(pic, i * 3), g = Sample8(pic, i * 3 + 1), b = Sample8(pic, i * 3 + 2);
        // Rec. 709 luma of the encoded values, in ten-thousandths.
        const uint32_t luma = 2126u * r + 7152u * g + 722u * b;
        deep += luma < uint32_t(kDeepShadow) * 10000u;
        dark += luma < uint32_t(kDarkLuma) * 10000u;
        ++counts[std::max({r, g, b})];
    }
    k.highlights = LevelAtShare(counts, n, 1.0, /*fromTop=*/true);
    k.deepShadow = 100.0 * double(deep) / double(n);
    k.dark = 100.0 * double(dark) / double(n);
    const bool low = k.deepShadow >= kLowKeyShare || k.dark >= kDarkShare;
    k.key = low ? Key::kLow : k.highlights >= kSetHighlights ? Key::kSet : Key::kDull;
    return k;
}

SaturatedMove SaturatedColoursMoved(const Picture& reference, const Picture& a, const Picture& b,
                                    const RgbSpace& space) {
    double sum = 0.0;
    uint64_t picked = 0;
    const int64_t seen = ForGridPixels(reference, [&](size_t i) {
        if (!IsSaturated(reference, i, space)) return;
        const Lab p = LabAt(a, i, space);
        Lab q = LabAt(b, i, space);
        q.l = p.l;
        sum += DeltaE2000(p, q);
        ++picked;
    });
    if (picked == 0) return {};
    return {sum / double(picked), 100.0 * double(picked) / double(seen)};
}

GreyPixels::GreyPixels(const Picture& photo, const Picture& a, const RgbSpace& space)
    : space_(space), width_(a.width), height_(a.height) {
    if (photo.width != a.width || photo.height != a.height) return;
    seen_ = ForGridPixels(a, [&](size_t i) {
        state_.push_back(uint8_t((IsSaturated(photo, i, space_) ? kSaturated : 0) | (IsGrey(a, i) ? kGreyInA : 0)));
    });
}

bool GreyPixels::IsGrey(const Picture& p, size_t i) const {
    const Lab c = LabAt(p, i, space_);
    return c.l > 15.0 && Chroma(c) < kGrey;
}

double GreyPixels::NewlyGreyIn(const Picture& b) const {
    if (b.width != width_ || b.height != height_ || seen_ == 0) return 0.0;
    // The balances of the pixels near neutral in the photo and of the
    // saturated ones; the second counts up to the first and no further.
    int64_t near = 0, saturated = 0;
    size_t k = 0;
    ForGridPixels(b, [&](size_t i) {
        const uint8_t state = state_[k++];
        const int change = int(IsGrey(b, i)) - int((state & kGreyInA) != 0);
        ((state & kSaturated) != 0 ? saturated : near) += change;
    });
    const int64_t credited = std::clamp(saturated, int64_t{0}, std::max(near, int64_t{0}));
    return 100.0 * double(near + credited) / double(seen_);
}

Toning ToningOf(const Picture& pic, const RgbSpace& space) {
    // The sums of a*, b* and their squares and product give the mean and,
    // across it, the root mean square in one pass over the grid.
    double n = 0.0, sa = 0.0, sb = 0.0, saa = 0.0, sbb = 0.0, sab = 0.0;
    ForGridPixels(pic, [&](size_t i) {
        const Lab c = LabAt(pic, i, space);
        if (c.l <= 15.0 || c.l >= 95.0) return;
        n += 1.0, sa += c.a, sb += c.b, saa += c.a * c.a, sbb += c.b * c.b, sab += c.a * c.b;
    });
    Toning t;
    if (n == 0.0) return t;
    t.chroma = std::hypot(sa / n, sb / n);
    if (t.chroma == 0.0) return t;
    // Across the hue: the component along the unit vector at right angles
    // to the mean.
    const double ua = -(sb / n) / t.chroma, ub = (sa / n) / t.chroma;
    t.stray = std::sqrt(std::max(0.0, (ua * ua * saa + 2.0 * ua * ub * sab + ub * ub * sbb) / n));
    return t;
}

double NewlyGrey(const Picture& photo, const Picture& a, const Picture& b, const RgbSpace& space) {
    return GreyPixels(photo, a, space).NewlyGreyIn(b);
}

bool Choose(const Settings& given, const Picture& copy, int photoWidth, ImageParam* param, Choice& out,
            std::string& error, const FileProgress& progress) {
    Settings s = given;
    std::vector<std::string> reasons;
    const std::optional<RgbSpace> own = OwnSpaceOf(copy.spec);
    const RgbSpace& space = own ? *own : RgbSpace::Srgb();
    if (own) reasons.emplace_back("colours measured in the photo's own colour space (its colour profile)");
    if (s.cast == kMeasured) {
        s.cast = AnalysisFindsCast(param, s.castMethod) ? 1 : 0;
        if (const Toning t = s.cast != 0 && s.guard != 0 ? ToningOf(copy, space) : Toning{}; t.Toned()) {
            s.cast = 0;
            char text[200];
            std::snprintf(text, sizeof text,
                          "cast: the analysis finds one, left: the photo is toned, its colours stray by %.1f from "
                          "one hue (chroma %.1f)",
                          t.stray, t.chroma);
            reasons.emplace_back(text);
        } else {
            reasons.emplace_back(s.cast ? "cast: the analysis finds one" : "cast: none found");
        }
    }
    if (s.shadowFloor == kMeasured) ChooseFloor(copy, s, reasons);
    if (s.blackClip == float(kMeasured)) ChooseBlackClip(param, copy.bits, s, reasons);

    Trials trials(copy, photoWidth, param, progress);
    Picture trial;
    int32_t strength = 0;
    const auto failed = [&] {
        error = progress(0.0f) ? "stopped" : "the correction ran out of memory";
        return false;
    };
    if (!trials.Ready() || !trials.Apply(s, trial, strength)) return failed();
    // A cast every method finds, removed by the default method at full
    // strength unless told otherwise: its greys may say how much of it to
    // remove.
    bool byGreys = false;
    if (s.guard != 0 && given.cast == kMeasured && s.cast != 0 && s.castMethod == kNearestCast &&
        s.castStrength == 1.0f && EveryMethodFindsCast(param)) {
        NeutralPoint n;
        if (!FindNeutralPoint(trials, copy, space, s, n)) return failed();
        char text[320];
        std::snprintf(text, sizeof text,
                      "cast: every method finds one; the average method's removal at 1/4, 1/2, 3/4 and all of it "
                      "turns %.1f, %.1f, %.1f and %.1f %% of the photo grey: %s",
                      n.grey[0], n.grey[1], n.grey[2], n.grey[3],
                      n.found ? "its greys turn neutral below all of it" : "no greys that turn neutral");
        std::string reason = text;
        if (n.found) {
            byGreys = true;
            s.castMethod = kAverageCast, s.castStrength = n.strength;
            std::snprintf(text, sizeof text, "; removed by that method at %.2f", double(n.strength));
            reason += text;
            if (!trials.Apply(s, trial, strength)) return failed();
        }
        reasons.push_back(std::move(reason));
    }
    bool asItIs = false;
    if (s.brighten == kMeasured) {
        const int32_t measured = strength;
        const KeyMeasure key = s.key != kMeasured ? KeyMeasure{} : own ? KeyOf(InSrgb(copy, *own)) : KeyOf(copy);
        if (s.key == kMeasured && measured > 0 && key.key == Key::kSet) {
            // A photo whose greys show a cast is not left as it is.
            const bool asItIsTaken = given.cast == kMeasured && given.blackClip == float(kMeasured) &&
                                     s.minBrighten <= 0 && !byGreys;
            if (!LiftByContrast(trials, copy, space, measured, key, {0, kSetLiftQuarters}, asItIsTaken, s, trial,
                                asItIs, reasons))
                return failed();
        } else if (s.key == kMeasured && measured > 0 && key.key == Key::kDull) {
            if (!LiftByContrast(trials, copy, space, measured, key, {kDullLiftQuarters, 4}, false, s, trial, asItIs,
                                reasons))
                return failed();
        } else {
            const int32_t keyed = s.key == kMeasured ? ForKey(measured, key, reasons) : measured;
            if (s.key != kMeasured) reasons.push_back(Percent("brighten: measured ", measured));
            s.brighten = std::max(keyed, s.minBrighten);
            if (s.brighten != keyed) reasons.push_back(Percent("brighten: raised to the least lift, ", s.brighten));
            if (s.brighten != measured && !trials.Apply(s, trial, strength)) return failed();
        }
    }
    bool heldBack = false, castHeldBack = false;
    if (s.guard != 0 && given.cast == kMeasured && s.cast != 0 && !byGreys) {
        const float before = s.castStrength;
        if (!GuardColours(trials, copy, space, s, trial, reasons)) return failed();
        castHeldBack = s.cast == 0 || s.castStrength != before;
    }
    if (s.guard != 0) {
        const ClipReference original(copy);
        // The lift and the cast removal may turn kGuardHighlights percent of
        // the pixels white beyond what the levels alone do; that share is
        // measured the first time the limit is passed.
        double levels = -1.0;
        for (int step = 0; step < kGuardSteps; ++step) {
            const Clipping c = original.Added(trial);
            if (c.highlights > kGuardHighlights && levels < 0.0) {
                levels = LevelsWhite(trials, original, s);
                if (levels < 0.0) return failed();
            }
            const bool whiteWithin = c.highlights <= kGuardHighlights + std::max(levels, 0.0);
            if (whiteWithin && c.shadows <= kGuardShadows) break;
            if (c.shadows > kGuardShadows && s.blackClip > 0.0f) {
                if (!LowerBlackClip(trials, original, c, s, trial, strength, reasons)) return failed();
            } else {
                if (whiteWithin || !HoldBackHighlights(s, c, levels, reasons)) break;
                if (!trials.Apply(s, trial, strength)) return failed();
            }
            heldBack = true;
        }
    }
    out.settings = s;
    out.outcome = CorrectionOutcome{s.brighten, s.cast != 0, heldBack, castHeldBack, s.cast != 0 && byGreys, asItIs};
    out.reasons = std::move(reasons);
    return true;
}

std::string SummaryOf(const CorrectionOutcome& outcome) {
    std::string summary = "brightened " + std::to_string(outcome.strength) + " %";
    if (outcome.castRemoved)
        summary += outcome.castByGreys ? ", cast removed until its greys turned neutral" : ", cast removed";
    if (outcome.castHeldBack) summary += ", cast held back for the scene's colours";
    if (outcome.heldBack) summary += ", held back from clipping";
    if (outcome.asItIs) summary += ", levels only: the photo as it is had the most contrast";
    return summary;
}

}  // namespace lumarex_cli
