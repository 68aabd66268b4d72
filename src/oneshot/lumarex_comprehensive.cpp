// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <memory>
#include <new>

#include "analysis/estimate_tint_gains.h"
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
    uint8_t* At(int k, int32_t x, int32_t y) const { return c[k] + y * rowStride + x * pixelStride; }
};

// Runs f(x, y, r, g, b pointers) over every pixel in row order.
template <class F>
void ForEachPixel(const Planes& p, F&& f) {
    for (int32_t y = 0; y < p.height; ++y) {
        uint8_t* r = p.c[0] + y * p.rowStride;
        uint8_t* g = p.c[1] + y * p.rowStride;
        uint8_t* b = p.c[2] + y * p.rowStride;
        for (int32_t x = 0; x < p.width; ++x) {
            f(x, y, r, g, b);
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
    std::unique_ptr<float[]> qx, qy;  // per 64-pixel block column / row

    bool Init(int32_t width, int32_t height) {
        const int32_t cx = (width / 64) / 2, cy = (height / 64) / 2;
        uniform = !(cx > 2 && cy > 2);
        if (uniform) return true;
        const int32_t bx = width / 64 + 1, by = height / 64 + 1;
        qx.reset(new (std::nothrow) float[bx]);
        qy.reset(new (std::nothrow) float[by]);
        if (!qx || !qy) return false;
        for (int32_t i = 0; i < bx; ++i) qx[i] = float(cx - std::abs(i - cx)) / float(cx);
        for (int32_t j = 0; j < by; ++j) qy[j] = float(cy - std::abs(j - cy)) / float(cy);
        return true;
    }
    float At(int32_t x, int32_t y) const { return uniform ? 1.0f : (qx[x / 64] + qy[y / 64]) * 2.0f; }
};

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

}  // namespace

void ApplyTintFactors(const int32_t k[3], const uint8_t c[3], int32_t a[3]) {
    for (int i = 0; i < 3; ++i) a[i] = int32_t(c[i]) * k[i] / 1000;  // k < 2^23: fits
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

    // Everything the pipeline needs from the heap is taken before the image
    // is touched, so that running out of memory leaves it as it was.
    auto V = HeapArray<float>(N);
    auto detail = HeapArray<float>(N);
    auto level = HeapArray<float>(N);
    auto norm = HeapArray<float>(n);
    auto detailHist = HeapArray<int32_t>(kDetailBins);
    CentreWeights weights;
    if (!V || !detail || !level || !norm || !detailHist || !weights.Init(W, H)) return 0;

    std::array<float, kLevels> channelHist{}, weightedHist{};

    // 1. Black offset: the lowest level any channel reaches.
    ForEachPixel(p, [&](int32_t, int32_t, uint8_t* r, uint8_t* g, uint8_t* b) {
        channelHist[*r] += 1.0f, channelHist[*g] += 1.0f, channelHist[*b] += 1.0f;
    });
    int32_t black = 0;
    while (black < kLevels - 1 && channelHist[black] == 0.0f) ++black;

    // 2. Remove it; the value plane holds each pixel's largest channel.
    channelHist.fill(0.0f);
    {
        float* v = V.get();
        ForEachPixel(p, [&](int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) {
            *r = uint8_t(*r - black), *g = uint8_t(*g - black), *b = uint8_t(*b - black);
            const uint8_t m = std::max({*r, *g, *b});
            weightedHist[m] += weights.At(x, y);
            *v++ = float(m);
        });
    }
    const int maxV = HighestNonZero(weightedHist.data());
    // An image that is black after the offset has nothing to stretch.
    const float stretch = maxV > 0 ? 255.0f / float(maxV) : 0.0f;
    weightedHist.fill(0.0f);

    // 3. Colour cast, applied in fixed point, then the histograms of the result.
    float g1 = 1.0f, g2 = 1.0f, g3 = 1.0f;
    int32_t k[3];
    const bool tinted = s.tintCorrection != 0 &&
                        EstimateTintGains(p.c[0], p.c[1], p.c[2], H, W, image.rowStride, image.pixelStride,
                                          s.tintMode, &g1, &g2, &g3) != 0 &&
                        TintFactors(g1, g2, g3, s.tintStrength, k);
    ForEachPixel(p, [&](int32_t x, int32_t y, uint8_t* r, uint8_t* g, uint8_t* b) {
        uint8_t c[3] = {*r, *g, *b};
        if (tinted) {
            int32_t a[3];
            ApplyTintFactors(k, c, a);
            *r = c[0] = uint8_t(a[0]), *g = c[1] = uint8_t(a[1]), *b = c[2] = uint8_t(a[2]);
        }
        channelHist[c[0]] += 1.0f, channelHist[c[1]] += 1.0f, channelHist[c[2]] += 1.0f;
        weightedHist[std::max({c[0], c[1], c[2]})] += weights.At(x, y);
    });

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

    // 6. Stretch the levels and the value plane.
    {
        float* v = V.get();
        auto stretchLevel = [&](uint8_t& c) { c = uint8_t(std::clamp((int32_t(c) - c0) * scale / 1000, 0, 255)); };
        ForEachPixel(p, [&](int32_t, int32_t, uint8_t* r, uint8_t* g, uint8_t* b) {
            stretchLevel(*r), stretchLevel(*g), stretchLevel(*b);
            *v = std::min(*v * stretch, 255.0f);
            ++v;
        });
    }

    // 7. Local-contrast map E: the signed detail of the value plane scaled by
    // its local strength, and the range that holds all but 1 % at each end.
    const int32_t radius = int32_t(int64_t{n} * 20 / 100);
    const float a = std::exp(-1.0f / (float(radius) * 0.5f));
    BuildSmoothNorm(norm.get(), n, a);
    std::memcpy(detail.get(), V.get(), size_t(N) * sizeof(float));
    ExpSmoothPlane(detail.get(), W, H, norm.get(), a);
    for (int64_t i = 0; i < N; ++i) {
        detail[i] = V[i] - detail[i];
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
    int32_t lo = 0, hi = 0;
    {
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

    // 8. Brighten every pixel by the gain at its largest channel. Tables
    // start as identity gains, so a builder that fails for want of host
    // memory leaves the image unbrightened.
    std::array<float, kLevels> primary, secondary;
    primary.fill(1.0f);
    secondary.fill(1.0f);
    const float amount = float(100 - int64_t{s.curveReduction}) / 100.0f;
    if (s.curveFamily == 1) BuildLogExpGainTables(primary.data(), secondary.data(), s.curveBlack, strength, amount, kLevels);
    else BuildLogGainTables(primary.data(), secondary.data(), s.curveBlack, 1, strength, amount, kLevels);
    {
        const float q = 1.0f / float(hi - lo);
        const float* e = level.get();
        ForEachPixel(p, [&](int32_t, int32_t, uint8_t* r, uint8_t* g, uint8_t* b) {
            const uint8_t m = std::max({*r, *g, *b});
            float gain = primary[m];
            if (s.localContrast != 0) {
                // hi == lo leaves no ramp: pixels above the level take the
                // primary curve, the rest the secondary.
                float u = hi != lo ? (*e - float(lo)) * q : (*e > float(lo) ? 1.0f : 0.0f);
                u = std::clamp(u, 0.0f, 1.0f);
                gain = u * primary[m] + (1.0f - u) * secondary[m];
            }
            *r = uint8_t(TruncClamp(float(*r) * gain, 0, 255));
            *g = uint8_t(TruncClamp(float(*g) * gain, 0, 255));
            *b = uint8_t(TruncClamp(float(*b) * gain, 0, 255));
            ++e;
        });
    }

    // 9. Working data goes before the finishing stages run.
    V.reset(), detail.reset(), level.reset(), norm.reset(), detailHist.reset();
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
