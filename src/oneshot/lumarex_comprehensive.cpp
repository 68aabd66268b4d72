// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/estimate_tint_gains.h"
#include "math/float_math.h"
#include "oneshot/color_restore.h"
#include "oneshot/histogram_mean.h"
#include "oneshot/sharpen_max_channel.h"
#include "platform/float_convert.h"
#include "stages/color_cube.h"
#include "stages/exp_smooth_plane.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/warm_tone.h"

namespace lx {
namespace {

constexpr int kLevels = 256;
constexpr float kDetailScale = 256.0f;  // T: detail values are binned in units of 1/T
constexpr int kDetailBins = 10 * 256 + 1;
constexpr int kDetailHalf = 5 * 256;    // 5T

// The image's three planes with 64-bit offsets, so that strides and sizes of
// any photo cannot overflow.
struct Planes {
    uint8_t* c[3];
    int64_t rowStride, pixelStride;
    int32_t width, height;
};

// Runs f(r, g, b) over every pixel in row order, the pointers addressing
// the pixel's three samples.
template <class F>
void ForEachPixel(const Planes& p, F&& f) {
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* r = p.c[0] + y * p.rowStride;
        uint8_t* g = p.c[1] + y * p.rowStride;
        uint8_t* b = p.c[2] + y * p.rowStride;
        for (int32_t x = 0; x < p.width; ++x) {
            f(r, g, b);
            r += p.pixelStride, g += p.pixelStride, b += p.pixelStride;
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

// Runs f(r, g, b, weight) over every pixel in row order with its centre
// weight; `rowWeights` holds weights.blocks floats of scratch.
template <class F>
void ForEachWeightedPixel(const Planes& p, const CentreWeights& weights, float* rowWeights, F&& f) {
    for (int32_t y = 0; y < p.height; ++y) {
        weights.Row(y, rowWeights);
        uint8_t* r = p.c[0] + y * p.rowStride;
        uint8_t* g = p.c[1] + y * p.rowStride;
        uint8_t* b = p.c[2] + y * p.rowStride;
        for (int32_t x = 0; x < p.width; ++x) {
            f(r, g, b, rowWeights[x >> 6]);
            r += p.pixelStride, g += p.pixelStride, b += p.pixelStride;
        }
    }
}

// Per-level sample counts, one array per channel so that neighbouring
// samples do not wait on each other's increments. 32 bits hold the counts of
// any photo up to 4 gigapixels.
struct LevelCounts {
    std::array<uint32_t, 256> c[3]{};
    void Add(uint8_t r, uint8_t g, uint8_t b) { ++c[0][r], ++c[1][g], ++c[2][b]; }
};

// The float histogram that adding 1.0f once per sample would give.
std::array<float, 256> FloatHistogram(const LevelCounts& counts) {
    std::array<float, 256> hist;
    for (int i = 0; i < 256; ++i)
        hist[i] = CountAsFloatSum(uint64_t{counts.c[0][i]} + counts.c[1][i] + counts.c[2][i]);
    return hist;
}

template <class T>
std::unique_ptr<T[]> HeapArray(int64_t n) {
    if (n < 0 || uint64_t(n) > SIZE_MAX / sizeof(T)) return nullptr;
    return std::unique_ptr<T[]>(new (std::nothrow) T[size_t(n)]);
}

// Highest level with a non-zero count; 0 when none.
int HighestNonZero(const float* hist) {
    for (int i = kLevels - 1; i > 0; --i)
        if (hist[i] != 0.0f) return i;
    return 0;
}

// The cast gains as per-mille factors centred on 1000, or false when the
// gains are not usable (non-finite, or so large that a level times its factor
// could not be formed in 32 bits: such a tint is not applied).
bool TintFactors(float g1, float g2, float g3, float strength, int32_t k[3]) {
    const float s[3] = {(g1 - 1.0f) * strength + 1.0f, (g2 - 1.0f) * strength + 1.0f,
                        (g3 - 1.0f) * strength + 1.0f};
    const float mid = (std::min({s[0], s[1], s[2]}) + std::max({s[0], s[1], s[2]})) * 0.5f;
    for (int i = 0; i < 3; ++i) {
        const float f = s[i] / mid * 1000.0f;
        if (!(f >= 0.0f && f < 8388608.0f)) return false;
        k[i] = static_cast<int32_t>(f);
    }
    return true;
}

// The lift strength that moves the weighted mean of the pixel maxima to the
// target brightness, measured with a full-strength trial curve.
int32_t AutoToneStrength(const float* weighted, int32_t toneTarget, int32_t strengthLimit) {
    std::array<float, kLevels> trial, unused;
    BuildLogGainTables(trial.data(), unused.data(), 12, 1, 100, 0.0f, kLevels);
    std::array<int32_t, kLevels> w{}, h{};
    for (int i = 0; i < kLevels; ++i) w[i] = TruncOr((1.5f - float(i) * 0.00390625f) * weighted[i], 0);
    const float mean1 = HistogramMean(w.data(), kLevels);
    for (int i = 0; i < kLevels; ++i) {
        const int32_t to = TruncClamp(float(i) * trial[i], 0, kLevels - 1);
        h[to] = int32_t(uint32_t(h[to]) + uint32_t(w[i]));  // wraps like the 32-bit sums it mirrors
    }
    const float mean2 = HistogramMean(h.data(), kLevels);
    const float target = float(int64_t{toneTarget} * 5 + 55) * 255.0f / 100.0f;
    // A trial curve that moves nothing (mean2 == mean1) gives no finite
    // strength; that counts as 0.
    const int32_t s = TruncOr((target - mean1) * 200.0f / (mean2 - mean1) * 0.5f, 0);
    return std::min(s, strengthLimit);
}

// Draws scaled levels a (each >= 0) whose largest passes 255 together about
// their middle so that the largest lands on 255 (within truncation), then caps
// each at 255.
void CompressHighlights(int32_t a[3]) {
    const int32_t hi = std::max({a[0], a[1], a[2]});
    if (hi > 255) {
        const int32_t lo = std::min({a[0], a[1], a[2]});
        const float mid = float(int64_t{lo} + hi) * 0.5f;
        const int32_t d = static_cast<int32_t>(float(hi) - mid);
        const float f = d > 0 ? float(255 - static_cast<int32_t>(mid)) / float(d) : 0.0f;
        for (int i = 0; i < 3; ++i) a[i] = static_cast<int32_t>((float(a[i]) - mid) * f + mid);
    }
    for (int i = 0; i < 3; ++i) a[i] = std::clamp(a[i], 0, 255);
}

// Lowest sample of any channel (the lowest non-empty level of the channel
// histogram); stops at the first 0.
uint8_t LowestLevel(const Planes& p) {
    uint8_t lowest = 255;
    for (int32_t y = 0; y < p.height && lowest > 0; ++y) {
        const uint8_t* r = p.c[0] + y * p.rowStride;
        const uint8_t* g = p.c[1] + y * p.rowStride;
        const uint8_t* b = p.c[2] + y * p.rowStride;
        for (int32_t x = 0; x < p.width; ++x, r += p.pixelStride, g += p.pixelStride, b += p.pixelStride)
            lowest = std::min({lowest, *r, *g, *b});
    }
    return lowest;
}

}  // namespace

void ApplyTintFactors(const int32_t k[3], const uint8_t c[3], int32_t a[3]) {
    for (int i = 0; i < 3; ++i) a[i] = int32_t(c[i]) * k[i] / 1000;  // k < 2^23: fits
    CompressHighlights(a);
}

float CentreWeight(int32_t x, int32_t y, int32_t width, int32_t height) {
    CentreWeights w;
    if (!w.Init(width, height)) return 1.0f;
    return w.At(x, y);
}

int32_t LumarexComprehensive8(const ImageDesc& image, const OneShotSettings& s) {
    if (image.width <= 0 || image.height <= 0) return 0;  // no pixels: nothing to measure
    const Planes p{{static_cast<uint8_t*>(image.channel1), static_cast<uint8_t*>(image.channel2),
                    static_cast<uint8_t*>(image.channel3)},
                   image.rowStride, image.pixelStride, image.width, image.height};
    const int32_t W = image.width, H = image.height;
    const int64_t N = int64_t{W} * H;
    const int32_t n = std::max(W, H);
    // The local-contrast map only steers the blend of the two gain tables;
    // without the blend nothing reads it, so it is not made.
    const bool contrast = s.localContrast != 0;

    // Everything the pipeline needs from the heap is taken before the image
    // is touched, so that running out of memory leaves it as it was.
    CentreWeights weights;
    auto rowWeights = HeapArray<float>(W / 64 + 1);
    std::unique_ptr<uint8_t[]> values, lifted;
    std::unique_ptr<float[]> detail, level, norm;
    std::unique_ptr<int32_t[]> detailHist;
    if (contrast) {
        values = HeapArray<uint8_t>(N);  // V before the stretch: each pixel's largest level
        detail = HeapArray<float>(N);
        level = HeapArray<float>(N);
        norm = HeapArray<float>(n);
        detailHist = HeapArray<int32_t>(kDetailBins);
    } else {
        lifted = HeapArray<uint8_t>(kLevels * kLevels);
    }
    if (!weights.Init(W, H) || !rowWeights ||
        (contrast ? !values || !detail || !level || !norm || !detailHist : !lifted))
        return 0;

    // 1. Black offset: the lowest level any channel reaches.
    const uint8_t black = LowestLevel(p);

    // 2. Remove it; the weighted histogram of each pixel's largest channel.
    // Without a tint request the samples are also counted here: they are the
    // ones step 3 counts.
    std::array<float, kLevels> weightedHist{};
    LevelCounts counts;
    {
        uint8_t* v = values.get();
        const bool count = s.tintCorrection == 0;
        ForEachWeightedPixel(p, weights, rowWeights.get(), [&](uint8_t* r, uint8_t* g, uint8_t* b, float w) {
            *r = uint8_t(*r - black), *g = uint8_t(*g - black), *b = uint8_t(*b - black);
            const uint8_t m = std::max({*r, *g, *b});
            weightedHist[m] += w;
            if (count) counts.Add(*r, *g, *b);
            if (v) *v++ = m;
        });
    }
    const int maxV = HighestNonZero(weightedHist.data());
    // An image that is black after the offset has nothing to stretch.
    const float stretch = maxV > 0 ? 255.0f / float(maxV) : 0.0f;
    // V after the stretch depends on the pixel's level alone: one entry a level.
    std::array<float, kLevels> stretchedV;
    for (int i = 0; i < kLevels; ++i) stretchedV[i] = std::min(float(i) * stretch, 255.0f);

    // 3. Colour cast, applied in fixed point, then the histograms of the
    // result. Without it the samples are those of step 2, whose histograms
    // (the same sums in the same order) stand.
    float g1 = 1.0f, g2 = 1.0f, g3 = 1.0f;
    int32_t k[3];
    const bool tinted = s.tintCorrection != 0 &&
                        EstimateTintGains(p.c[0], p.c[1], p.c[2], H, W, image.rowStride, image.pixelStride,
                                          s.tintMode, &g1, &g2, &g3) != 0 &&
                        TintFactors(g1, g2, g3, s.tintStrength, k);
    if (tinted) {
        int32_t scaled[3][kLevels];  // level * factor / 1000 per channel
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < kLevels; ++i) scaled[c][i] = i * k[c] / 1000;  // k < 2^23: fits
        weightedHist.fill(0.0f);
        counts = LevelCounts{};
        ForEachWeightedPixel(p, weights, rowWeights.get(), [&](uint8_t* r, uint8_t* g, uint8_t* b, float w) {
            int32_t a[3] = {scaled[0][*r], scaled[1][*g], scaled[2][*b]};
            if (std::max({a[0], a[1], a[2]}) > 255) CompressHighlights(a);  // else 0..255 already
            *r = uint8_t(a[0]), *g = uint8_t(a[1]), *b = uint8_t(a[2]);
            counts.Add(*r, *g, *b);
            weightedHist[std::max({*r, *g, *b})] += w;
        });
    } else if (s.tintCorrection != 0) {
        ForEachPixel(p, [&](uint8_t* r, uint8_t* g, uint8_t* b) { counts.Add(*r, *g, *b); });
    }
    const std::array<float, kLevels> channelHist = FloatHistogram(counts);

    // 4. Levels: the low clip c0 and the white level w.
    int32_t c0 = 0;
    if (s.shadowClip != 0 && s.shadowClipPermille != 0) {
        const float t = float(int64_t{s.shadowClipPermille} * 3 * N) / 1000.0f;
        if (t < 0.0f) {
            c0 = -1;
        } else {
            // A share of 1000 per mille or more is never exceeded: everything clips.
            c0 = kLevels - 1;
            float sum = 0.0f;
            for (int i = 0; i < kLevels; ++i) {
                sum += channelHist[i];
                if (sum > t) {
                    c0 = i;
                    break;
                }
            }
        }
    }
    int32_t white = 0;
    {
        const float t = float(N * 256) / 1000.0f;
        float sum = 0.0f;
        for (int i = kLevels - 1; i >= 0; --i) {
            sum += weightedHist[i];
            if (sum > t) {
                white = i;
                break;
            }
        }
    }
    // A white level at or below the low clip leaves no range to stretch: the
    // levels are then kept as they are.
    if (white <= c0) c0 = 0, white = 255;
    const int32_t scale = static_cast<int32_t>(255.0f / float(white - c0) * 1000.0f);  // <= 255000

    // 5. Lift strength.
    // A missing strength pointer reads as 0 and receives nothing.
    int32_t strength = s.toneStrength != nullptr ? *s.toneStrength : 0;
    if (s.autoTone != 0) {
        strength = AutoToneStrength(weightedHist.data(), s.toneTarget, s.strengthLimit);
        if (s.toneStrength != nullptr) *s.toneStrength = strength;
    }

    // 6. The level stretch, one entry a level. Nothing reads the samples
    // before step 8, so it is applied there, in the same pass as the gain.
    std::array<uint8_t, kLevels> stretched;
    for (int i = 0; i < kLevels; ++i) stretched[i] = uint8_t(std::clamp((i - c0) * scale / 1000, 0, 255));

    // 7. Local-contrast map E: the signed detail of the value plane scaled by
    // its local strength, and the range that holds all but 1 % at each end.
    int32_t lo = 0, hi = 0;
    if (contrast) {
        const int32_t radius = int32_t(int64_t{n} * 20 / 100);
        const float a = math::Exp(-1.0f / (float(radius) * 0.5f));
        BuildSmoothNorm(norm.get(), n, a);
        for (int64_t i = 0; i < N; ++i) detail[i] = stretchedV[values[i]];
        ExpSmoothPlane(detail.get(), W, H, norm.get(), a);
        for (int64_t i = 0; i < N; ++i) {
            detail[i] = stretchedV[values[i]] - detail[i];
            level[i] = float(std::fabs(double(detail[i])));
        }
        ExpSmoothPlane(level.get(), W, H, norm.get(), a);
        std::fill_n(detailHist.get(), kDetailBins, 0);
        for (int64_t i = 0; i < N; ++i) {
            const float e = std::max(level[i], 8.0f) * detail[i] / kDetailScale;
            level[i] = e;
            int bin;
            if (e >= float(kDetailHalf)) bin = kDetailBins - 1;
            else if (e <= -float(kDetailHalf)) bin = 0;
            else bin = static_cast<int32_t>(e) + kDetailHalf - 1;
            ++detailHist[bin];
        }
        const int64_t onePercent = N / 100;
        int64_t sum = 0;
        for (int i = 0; i < kDetailBins; ++i)
            if ((sum += detailHist[i]) > onePercent) {
                lo = i - kDetailHalf;
                break;
            }
        sum = 0;
        for (int j = kDetailBins - 1; j >= 0; --j)
            if ((sum += detailHist[j]) > onePercent) {
                hi = j - kDetailHalf - 2;
                break;
            }
    }

    // 8. Stretch, then brighten every pixel by the gain at its largest
    // channel. Tables start as identity gains, so a builder that fails for
    // want of host memory leaves the image unbrightened.
    std::array<float, kLevels> primary, secondary;
    primary.fill(1.0f);
    secondary.fill(1.0f);
    const float amount = float(100 - int64_t{s.curveReduction}) / 100.0f;
    if (s.curveFamily == 1) BuildLogExpGainTables(primary.data(), secondary.data(), s.curveBlack, strength, amount, kLevels);
    else BuildLogGainTables(primary.data(), secondary.data(), s.curveBlack, 1, strength, amount, kLevels);
    if (contrast) {
        const float q = 1.0f / float(hi - lo);
        const float* e = level.get();
        ForEachPixel(p, [&](uint8_t* r, uint8_t* g, uint8_t* b) {
            const uint8_t cr = stretched[*r], cg = stretched[*g], cb = stretched[*b];
            const uint8_t m = std::max({cr, cg, cb});
            // hi == lo leaves no ramp: pixels above the level take the
            // primary curve, the rest the secondary.
            float u = hi != lo ? (*e++ - float(lo)) * q : (*e++ > float(lo) ? 1.0f : 0.0f);
            u = std::clamp(u, 0.0f, 1.0f);
            const float gain = u * primary[m] + (1.0f - u) * secondary[m];
            *r = uint8_t(TruncClamp(float(cr) * gain, 0, 255));
            *g = uint8_t(TruncClamp(float(cg) * gain, 0, 255));
            *b = uint8_t(TruncClamp(float(cb) * gain, 0, 255));
        });
    } else {
        // The gain is primary[m] alone, so a result depends only on the
        // sample and its pixel's largest channel: one byte per (m, c).
        for (int m = 0; m < kLevels; ++m)
            for (int c = 0; c < kLevels; ++c)
                lifted[m * kLevels + c] = uint8_t(TruncClamp(float(c) * primary[m], 0, 255));
        ForEachPixel(p, [&](uint8_t* r, uint8_t* g, uint8_t* b) {
            const uint8_t cr = stretched[*r], cg = stretched[*g], cb = stretched[*b];
            const uint8_t* out = &lifted[std::max({cr, cg, cb}) * kLevels];
            *r = out[cr], *g = out[cg], *b = out[cb];
        });
    }

    // 9. Working data goes before the finishing stages run.
    values.reset(), lifted.reset(), detail.reset(), level.reset(), norm.reset(), detailHist.reset();
    if (s.sharpen != 0)
        SharpenMaxChannel8(p.c[0], p.c[1], p.c[2], W, H, image.pixelStride, image.rowStride, s.sharpenAmount);
    if (s.colorMode != 0)
        ColorRestore8(p.c[0], p.c[1], p.c[2], W, H, image.pixelStride, image.rowStride, s.colorMode, s.colorAmount);
    if (s.warmTone != 0)
        WarmToneCorrect8(p.c[0], p.c[1], p.c[2], H, W, image.pixelStride, image.rowStride, s.warmToneStrength);
    if (s.colorCube != 0)
        ColorCubeApply8(s.cubeSelect, s.cubeAlsoC, p.c[0], p.c[1], p.c[2], W, H, image.pixelStride, image.rowStride);
    else if (s.cubeAlsoC != 0)
        ColorCubeApplyC8(p.c[0], p.c[1], p.c[2], W, H, image.pixelStride, image.rowStride);
    return 0;
}

}  // namespace lx
