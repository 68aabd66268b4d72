// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/estimate_tint_gains.h"
#include "image/image_view.h"
#include "oneshot/sharpen_max_channel.h"
#include "platform/float_convert.h"
#include "stages/color_cube.h"
#include "stages/color_restore.h"
#include "stages/local_contrast_map.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/tint_factors.h"
#include "stages/tone_strength.h"
#include "stages/warm_tone.h"

namespace lx {
namespace {

constexpr int kLevels = 256;
// Local detail is binned in units of 1/T, T = 256, over +-5T.
constexpr LocalContrastScale kDetailScale{8.0f, 256.0f, 5 * 256};

using Table = std::array<float, kLevels>;

// Runs f(r, g, b) over every pixel in row order, the pointers addressing
// the pixel's three samples.
template <class F>
void ForEachPixel(const ImageView<uint8_t>& p, F&& f) {
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* c[3];
        p.Row(y, c);
        for (int32_t x = 0; x < p.width; ++x) {
            f(c[0], c[1], c[2]);
            for (uint8_t*& q : c) q += p.pixelStride;
        }
    }
}

// Centre weight of a pixel = (qx[x / 64] + qy[y / 64]) * 2: 4.0 at the centre
// blocks, falling linearly toward the borders (slightly below 0 in the last
// block column or row). Images under 384 pixels in either direction weigh
// every pixel 1.0.
struct CentreWeights {
    bool uniform;
    int32_t blocks;                   // 64-pixel block columns, the last one partial
    std::unique_ptr<float[]> qx, qy;  // per 64-pixel block column / row

    bool Init(int32_t width, int32_t height) {
        const int32_t cx = (width / 64) / 2, cy = (height / 64) / 2;
        uniform = !(cx > 2 && cy > 2);
        blocks = width / 64 + 1;
        if (uniform) return true;
        const int32_t by = height / 64 + 1;
        qx.reset(new (std::nothrow) float[blocks]);
        qy.reset(new (std::nothrow) float[by]);
        if (!qx || !qy) return false;
        for (int32_t i = 0; i < blocks; ++i) qx[i] = float(cx - std::abs(i - cx)) / float(cx);
        for (int32_t j = 0; j < by; ++j) qy[j] = float(cy - std::abs(j - cy)) / float(cy);
        return true;
    }
    float At(int32_t x, int32_t y) const { return uniform ? 1.0f : (qx[x / 64] + qy[y / 64]) * 2.0f; }
    // The weights of row y per block column: out[x / 64] == At(x, y).
    void Row(int32_t y, float* out) const {
        for (int32_t i = 0; i < blocks; ++i) out[i] = uniform ? 1.0f : (qx[i] + qy[y / 64]) * 2.0f;
    }
};

// Per-level sample counts, one array per channel so that neighbouring
// samples do not wait on each other's increments. 64 bits: an image can hold
// more than 2^32 samples of one level.
struct LevelCounts {
    std::array<uint64_t, 256> c[3]{};
    void Add(uint8_t r, uint8_t g, uint8_t b) { ++c[0][r], ++c[1][g], ++c[2][b]; }
    // The float histogram that adding 1.0f once per sample would give.
    Table AsFloat() const {
        Table hist;
        for (int i = 0; i < 256; ++i) hist[i] = CountAsFloatSum(c[0][i] + c[1][i] + c[2][i]);
        return hist;
    }
};

template <class T>
std::unique_ptr<T[]> HeapArray(int64_t n) {
    if (n < 0 || uint64_t(n) > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[size_t(n)]);
}

// Everything the correction needs from the heap, taken before the image is
// touched so that running out of memory leaves it as it was. The local-
// contrast map is made only when the blend reads it.
struct OneShot {
    ImageView<uint8_t> p;
    const OneShotSettings* s;
    int32_t W, H;
    int64_t N;
    bool contrast;
    CentreWeights weights;
    std::unique_ptr<float[]> rowWeights;
    std::unique_ptr<uint8_t[]> values;  // V before the stretch: each pixel's largest level
    std::unique_ptr<float[]> detail, map, norm;
    std::unique_ptr<int64_t[]> detailHist;  // a bin can count more than 2^31 pixels
    std::unique_ptr<uint8_t[]> lifted;      // brightened sample by (largest, sample)

    Table weightedHist{};  // centre-weighted counts of each pixel's largest channel
    LevelCounts counts;    // all samples, for the channel histogram

    bool Allocate() {
        rowWeights = HeapArray<float>(W / 64 + 1);
        if (contrast) {
            values = HeapArray<uint8_t>(N);
            detail = HeapArray<float>(N);
            map = HeapArray<float>(N);
            norm = HeapArray<float>(std::max(W, H));
            detailHist = HeapArray<int64_t>(kDetailScale.Bins());
        } else {
            lifted = HeapArray<uint8_t>(kLevels * kLevels);
        }
        return weights.Init(W, H) && rowWeights &&
               (contrast ? values && detail && map && norm && detailHist : bool(lifted));
    }

    // Runs f(r, g, b, weight) over every pixel in row order with its centre weight.
    template <class F>
    void ForEachWeightedPixel(F&& f) {
        for (int32_t y = 0; y < H; ++y) {
            weights.Row(y, rowWeights.get());
            uint8_t* c[3];
            p.Row(y, c);
            for (int32_t x = 0; x < W; ++x) {
                f(c[0], c[1], c[2], rowWeights[x >> 6]);
                for (uint8_t*& q : c) q += p.pixelStride;
            }
        }
    }
};

// Lowest sample of any channel (the lowest non-empty level of the channel
// histogram); stops at the first 0.
uint8_t LowestLevel(const ImageView<uint8_t>& p) {
    uint8_t lowest = 255;
    for (int32_t y = 0; y < p.height && lowest > 0; ++y) {
        uint8_t* c[3];
        p.Row(y, c);
        for (int32_t x = 0; x < p.width; ++x) {
            const int64_t o = int64_t{x} * p.pixelStride;
            lowest = std::min({lowest, c[0][o], c[1][o], c[2][o]});
        }
    }
    return lowest;
}

// Highest level with a non-zero count; 0 when none.
int HighestNonZero(const Table& hist) {
    for (int i = kLevels - 1; i > 0; --i)
        if (hist[i] != 0.0f) return i;
    return 0;
}

// The black offset removed; the weighted histogram of each
// pixel's largest channel and V. Without a tint request the samples are
// also counted here: they are the ones the cast step would count. Returns the
// stretch of V, 255 / its highest level (0 for an image black after the
// offset, which has nothing to stretch).
float RemoveBlackOffset(OneShot& o) {
    const uint8_t black = LowestLevel(o.p);
    uint8_t* v = o.values.get();
    const bool count = o.s->tintCorrection == 0;
    o.ForEachWeightedPixel([&](uint8_t* r, uint8_t* g, uint8_t* b, float w) {
        *r = uint8_t(*r - black), *g = uint8_t(*g - black), *b = uint8_t(*b - black);
        const uint8_t m = std::max({*r, *g, *b});
        o.weightedHist[m] += w;
        if (count) o.counts.Add(*r, *g, *b);
        if (v) *v++ = m;
    });
    const int maxV = HighestNonZero(o.weightedHist);
    return maxV > 0 ? 255.0f / float(maxV) : 0.0f;
}

// The colour cast, applied in fixed point, then the histograms of the
// result. Without it the samples are those counted with the black offset,
// whose weighted histogram (the same sums in the same order) stands.
void RemoveCast(OneShot& o) {
    const OneShotSettings& s = *o.s;
    if (s.tintCorrection == 0) return;
    float g[3];
    if (!EstimateTintGains(o.p, s.tintMode, g)) {
        ForEachPixel(o.p, [&](uint8_t* r, uint8_t* gr, uint8_t* b) { o.counts.Add(*r, *gr, *b); });
        return;
    }
    const float softened[3] = {SoftenedGain(g[0], s.tintStrength), SoftenedGain(g[1], s.tintStrength),
                               SoftenedGain(g[2], s.tintStrength)};
    int32_t k[3];
    TintFactorsPerMille(softened, k);
    int64_t scaled[3][kLevels];  // level * factor / 1000 per channel
    for (int c = 0; c < 3; ++c)
        for (int i = 0; i < kLevels; ++i) scaled[c][i] = int64_t{i} * k[c] / 1000;
    o.weightedHist.fill(0.0f);
    o.counts = LevelCounts{};
    o.ForEachWeightedPixel([&](uint8_t* r, uint8_t* gr, uint8_t* b, float w) {
        int64_t a[3] = {scaled[0][*r], scaled[1][*gr], scaled[2][*b]};
        CompressHighlights(a, 255);
        for (int64_t& v : a) v = std::clamp<int64_t>(v, 0, 255);
        *r = uint8_t(a[0]), *gr = uint8_t(a[1]), *b = uint8_t(a[2]);
        o.counts.Add(*r, *gr, *b);
        o.weightedHist[std::max({*r, *gr, *b})] += w;
    });
}

struct LevelRange {
    int32_t low = 0;      // c0: levels up to it clip to black
    int32_t scale = 1000; // per mille: 255 / (white - c0)
};

// The low clip c0 (the level below which the share of all samples
// lies) and the white level (above which 0.256 of the weighted pixels lie,
// N x 256 / 1000).
LevelRange FindLevels(const OneShot& o, const Table& channelHist) {
    const OneShotSettings& s = *o.s;
    int32_t c0 = 0;
    if (s.shadowClip != 0 && s.shadowClipPermille != 0) {
        const float t = ShadowClipThreshold(s.shadowClipPermille, o.N);
        // A share of 1000 per mille or more is never passed: everything clips.
        c0 = t < 0.0f ? -1 : kLevels - 1;
        float sum = 0.0f;
        for (int i = 0; t >= 0.0f && i < kLevels; ++i)
            if ((sum += channelHist[i]) > t) {
                c0 = i;
                break;
            }
    }
    int32_t white = 0;
    const float t = ProductToFloat(o.N, 256) / 1000.0f;
    float sum = 0.0f;
    for (int i = kLevels - 1; i >= 0; --i)
        if ((sum += o.weightedHist[i]) > t) {
            white = i;
            break;
        }
    // A white level at or below the low clip leaves no range to stretch: the
    // levels are then kept as they are.
    if (white <= c0) c0 = 0, white = 255;
    return LevelRange{c0, static_cast<int32_t>(255.0f / float(white - c0) * 1000.0f)};  // |scale| <= 255000
}

// The lift strength that moves the weighted mean of the pixel
// maxima to the target brightness, measured with a full-strength trial curve.
int32_t AutoToneStrength(const Table& weightedHist, int32_t toneTarget, int32_t strengthLimit) {
    Table trial, unused;
    BuildLogGainTables(trial.data(), unused.data(), 12, 1, 100, 0.0f, kLevels);
    std::array<int32_t, kLevels> w, h;
    const LiftMeans means = TrialLiftMeans(weightedHist.data(), kLevels, 0.00390625f, trial.data(), w.data(), h.data());
    const float target = float(int64_t{toneTarget} * 5 + 55) * 255.0f / 100.0f;
    return std::min(LiftStrength(target, means), strengthLimit);
}

// The local-contrast map of the stretched V.
ContrastRange ContrastMap(OneShot& o, const Table& stretchedV) {
    const int32_t n = std::max(o.W, o.H);
    const float a = SmoothingDecay(SmoothingRadius(o.W, o.H));
    BuildSmoothNorm(o.norm.get(), n, a);
    const uint8_t* v = o.values.get();
    return BuildLocalContrastMap([&](int64_t i) { return stretchedV[v[i]]; }, Plane{o.detail.get(), o.W, o.H},
                                 Plane{o.map.get(), o.W, o.H}, o.detailHist.get(), o.norm.get(), a, kDetailScale);
}

// The level stretch, then every pixel brightened by the gain
// at its largest channel, blended between the two tables by the map when
// local contrast is on. Nothing reads the samples between the two steps.
void Brighten(OneShot& o, const LevelRange& levels, const Table& primary, const Table& secondary,
              const ContrastRange& range) {
    std::array<uint8_t, kLevels> stretched;
    for (int i = 0; i < kLevels; ++i)
        stretched[i] = uint8_t(std::clamp((i - levels.low) * levels.scale / 1000, 0, 255));
    if (o.contrast) {
        const float lo = float(range.low), q = 1.0f / float(range.high - range.low);
        const bool flat = range.high == range.low;
        const float* e = o.map.get();
        ForEachPixel(o.p, [&](uint8_t* r, uint8_t* g, uint8_t* b) {
            const uint8_t cr = stretched[*r], cg = stretched[*g], cb = stretched[*b];
            const uint8_t m = std::max({cr, cg, cb});
            // An empty range has no ramp: pixels above its level take the
            // primary curve, the rest the secondary.
            const float u = std::clamp(flat ? (*e > lo ? 1.0f : 0.0f) : (*e - lo) * q, 0.0f, 1.0f);
            ++e;
            const float gain = u * primary[m] + (1.0f - u) * secondary[m];
            *r = uint8_t(TruncClamp(float(cr) * gain, 0, 255));
            *g = uint8_t(TruncClamp(float(cg) * gain, 0, 255));
            *b = uint8_t(TruncClamp(float(cb) * gain, 0, 255));
        });
        return;
    }
    // The gain is primary[m] alone, so a result depends only on the sample
    // and its pixel's largest channel: one byte per (m, c).
    for (int m = 0; m < kLevels; ++m)
        for (int c = 0; c < kLevels; ++c) o.lifted[m * kLevels + c] = uint8_t(TruncClamp(float(c) * primary[m], 0, 255));
    ForEachPixel(o.p, [&](uint8_t* r, uint8_t* g, uint8_t* b) {
        const uint8_t cr = stretched[*r], cg = stretched[*g], cb = stretched[*b];
        const uint8_t* out = &o.lifted[std::max({cr, cg, cb}) * kLevels];
        *r = out[cr], *g = out[cg], *b = out[cb];
    });
}

// The finishing stages, in order, each when enabled.
void Finish(const ImageView<uint8_t>& p, const OneShotSettings& s) {
    if (s.sharpen != 0) SharpenMaxChannel8(p, s.sharpenAmount);
    if (s.colorMode != 0) ColorRestore8(p, s.colorMode, s.colorAmount);
    if (s.warmTone != 0) WarmToneCorrect8(p, s.warmToneStrength);
    if (s.colorCube != 0) ColorCubeApply8(s.cubeSelect, s.cubeAlsoC, p);
    else if (s.cubeAlsoC != 0) ColorCubeApplyC8(p);
}

}  // namespace

float ShadowClipThreshold(int32_t permille, int64_t pixels) {
    return ProductToFloat(int64_t{permille} * 3, pixels) / 1000.0f;
}

void ApplyTintFactors(const int32_t k[3], const uint8_t c[3], int32_t out[3]) {
    int64_t a[3];
    for (int i = 0; i < 3; ++i) a[i] = int64_t{c[i]} * k[i] / 1000;
    CompressHighlights(a, 255);
    for (int i = 0; i < 3; ++i) out[i] = int32_t(std::clamp<int64_t>(a[i], 0, 255));
}

float CentreWeight(int32_t x, int32_t y, int32_t width, int32_t height) {
    CentreWeights w;
    if (!w.Init(width, height)) return 1.0f;
    return w.At(x, y);
}

int32_t LumarexComprehensive8(const ImageDesc& image, const OneShotSettings& s) {
    if (image.width <= 0 || image.height <= 0) return 0;  // no pixels: nothing to measure
    OneShot o;
    o.p = ViewOf<uint8_t>(image), o.s = &s;
    o.W = image.width, o.H = image.height, o.N = int64_t{o.W} * o.H;
    o.contrast = s.localContrast != 0;
    if (!o.Allocate()) return 0;

    const float stretch = RemoveBlackOffset(o);
    Table stretchedV;  // V after the stretch depends on the pixel's level alone
    for (int i = 0; i < kLevels; ++i) stretchedV[i] = std::min(float(i) * stretch, 255.0f);
    RemoveCast(o);
    const LevelRange levels = FindLevels(o, o.counts.AsFloat());
    // A missing strength pointer reads as 0 and receives nothing.
    int32_t strength = s.toneStrength != nullptr ? *s.toneStrength : 0;
    if (s.autoTone != 0) {
        strength = AutoToneStrength(o.weightedHist, s.toneTarget, s.strengthLimit);
        if (s.toneStrength != nullptr) *s.toneStrength = strength;
    }
    const ContrastRange range = o.contrast ? ContrastMap(o, stretchedV) : ContrastRange{};

    // Tables start as identity gains, so a builder that fails for want of
    // host memory leaves the image unbrightened.
    Table primary, secondary;
    primary.fill(1.0f), secondary.fill(1.0f);
    const float amount = float(100 - int64_t{s.curveReduction}) / 100.0f;
    if (s.curveFamily == 1) BuildLogExpGainTables(primary.data(), secondary.data(), s.curveBlack, strength, amount, kLevels);
    else BuildLogGainTables(primary.data(), secondary.data(), s.curveBlack, 1, strength, amount, kLevels);
    Brighten(o, levels, primary, secondary, range);

    const ImageView<uint8_t> p = o.p;
    o = OneShot{};  // working data goes before the finishing stages run
    Finish(p, s);
    return 0;
}

}  // namespace lx
