// SPDX-License-Identifier: MIT
#include "pipeline/apply_blob_param.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/host_buffers.h"
#include "math/float_math.h"
#include "noise/remove_noise_for_pipeline.h"
#include "oneshot/color_restore.h"
#include "pipeline/base_map_row.h"
#include "pipeline/levels_step.h"
#include "platform/float_convert.h"
#include "stages/color_cube.h"
#include "stages/exp_smooth_plane.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/sharpen_plane.h"
#include "stages/warm_tone.h"

namespace lx {
namespace {

// What differs between the 8-bit and the 16-bit pipeline. The 16-bit one
// treats 65280 (255 x 256) as full scale and scales the 8-bit constants by 256.
template <class T>
struct Depth;

template <>
struct Depth<uint8_t> {
    static constexpr int32_t kSampleType = 0;
    static constexpr int32_t kLevels = 256;
    static constexpr int32_t kFull = 255;            // clamp of outputs and the value plane
    static constexpr float kFullF = 255.0f;
    static constexpr int32_t kKneeBlack = 4;
    static constexpr float kDetailFloor = 8.0f;      // lower bound of the local detail level
    static constexpr float kMapDivisor = 255.0f;
    static constexpr int32_t kMapBins = 2551;        // detail histogram
    static constexpr float kMapOverflow = 1275.0f;
    static constexpr int32_t kMapMiddle = 1274;      // bin of value x is trunc(x) + this
    static constexpr int32_t kLowOffset = 1275;
    static constexpr int32_t kHighOffset = 1277;
};

template <>
struct Depth<uint16_t> {
    static constexpr int32_t kSampleType = 1;
    static constexpr int32_t kLevels = 65536;
    static constexpr int32_t kFull = 65280;
    static constexpr float kFullF = 65280.0f;
    static constexpr int32_t kKneeBlack = 1024;
    static constexpr float kDetailFloor = 2048.0f;
    static constexpr float kMapDivisor = 65280.0f;
    static constexpr int32_t kMapBins = 652801;
    static constexpr float kMapOverflow = 326400.0f;
    static constexpr int32_t kMapMiddle = 326399;
    static constexpr int32_t kLowOffset = 326400;
    static constexpr int32_t kHighOffset = 326402;
};

// Source samples of the levels step: the blob, its denoised copy or the
// region copy. Pixel (x, y) starts at base + y * rowBytes + x * pixelBytes and
// holds channel 3, channel 2, channel 1.
struct Source {
    const uint8_t* base = nullptr;
    int64_t rowBytes = 0;
    int64_t pixelBytes = 0;
};

// The destination's channels; 16-bit strides are used as whole samples.
template <class T>
struct Dest {
    T* c[3];
    int64_t row, pixel;  // in samples
    T& At(int k, int32_t x, int32_t y) const { return c[k][y * row + x * pixel]; }
};

bool Stopped(const ApplySettings& s, int32_t step) {
    return s.progress != nullptr && s.progress(step, 6, s.progressContext) != 0;
}

// trunc(a + (b - a) x s): a statistic of variant 0 blended toward variant r.
std::optional<int32_t> Blend(int32_t a, int32_t b, float s) {
    const float v = float(a) + float(int64_t{b} - a) * s;
    if (!FitsInt32(v)) return std::nullopt;
    return static_cast<int32_t>(v);
}

template <class T>
bool BuildGainTables(float* primary, float* secondary, const ApplySettings& s, int32_t strength) {
    using D = Depth<T>;
    if (s.curveType == kCurveKnee)
        return BuildKneeGainTables(primary, secondary, D::kKneeBlack, 1, 100, 0.0f, 3, 0.6f, D::kLevels) != 0;
    if (s.curveType == kCurveLogExp)
        return BuildLogExpGainTables(primary, secondary, s.curveBlack, strength, s.curveAmount, D::kLevels) != 0;
    return BuildLogGainTables(primary, secondary, s.curveBlack, 1, strength, s.curveAmount, D::kLevels) != 0;
}

// Builds the base map from the value plane and hands it to the record: the
// signed local detail of the plane, scaled by its local strength, plus the
// range that holds all but 1 % of it at either end.
template <class T>
bool BuildBaseMap(const float* plane, int32_t W, int32_t H, int32_t radius, ImageParam& param) {
    using D = Depth<T>;
    const float alpha = math::Exp(-(1.0f / (float(radius) * 0.5f)));  // radius 0 gives 0
    const int32_t n = std::max(W, H);
    const int64_t N = int64_t{W} * H;
    HostBuffer norm = HostBuffer::Allocate(int64_t{n} * 4);
    if (!norm) return false;
    HostBuffer hist = HostBuffer::Allocate(int64_t{D::kMapBins} * 4);
    if (!hist) return false;
    HostBuffer detail = HostBuffer::Allocate(N * 4);
    if (!detail) return false;
    HostBuffer map = HostBuffer::Allocate(N * 4);
    if (!map) return false;

    float* nt = norm.data<float>();
    int32_t* h = hist.data<int32_t>();
    float* dt = detail.data<float>();
    float* m = map.data<float>();
    BuildSmoothNorm(nt, n, alpha);
    std::fill_n(h, D::kMapBins, 0);
    std::memcpy(dt, plane, size_t(N) * sizeof(float));
    ExpSmoothPlane(dt, W, H, nt, alpha);
    for (int64_t i = 0; i < N; ++i) {
        dt[i] = plane[i] - dt[i];
        m[i] = std::fabs(dt[i]);
    }
    ExpSmoothPlane(m, W, H, nt, alpha);
    for (int64_t i = 0; i < N; ++i) {
        const float v = std::max(m[i], D::kDetailFloor) * dt[i] / D::kMapDivisor;
        m[i] = v;
        int32_t bin;
        if (v >= D::kMapOverflow) bin = D::kMapBins - 1;
        else if (v <= -D::kMapOverflow) bin = 0;
        else bin = static_cast<int32_t>(v) + D::kMapMiddle;  // |v| < kMapOverflow: in range
        ++h[bin];
    }
    const int64_t onePercent = N / 100;
    int32_t k = 0, top = 0;
    int64_t sum = 0;
    for (int32_t i = 0; i < D::kMapBins; ++i)
        if ((sum += h[i]) > onePercent) {
            k = i;
            break;
        }
    sum = 0;
    for (int32_t i = D::kMapBins - 1; i >= 0; --i)
        if ((sum += h[i]) > onePercent) {
            top = i;
            break;
        }
    param.baseMapHigh = top - D::kHighOffset;
    param.baseMapLow = k - D::kLowOffset;
    param.baseMap = map.release();
    param.baseMapValid = 1;
    return true;
}

template <class T>
int32_t RunPipeline(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                    const BlobRegion* region) {
    using D = Depth<T>;
    constexpr int64_t kBytes = sizeof(T);

    // --- what the call can serve -------------------------------------------
    if (blob.pixels == nullptr || blob.sampleType != D::kSampleType) return 0;
    if (s.useVariant != 0 && (s.tintMode < 0 || s.tintMode > 3)) return 0;
    if (s.useShadowClip != 0 && (s.shadowClipIndex < 0 || s.shadowClipIndex >= kShadowPercentiles)) return 0;
    if (s.useToneLevel != 0 && (s.toneLevelRow < 0 || s.toneLevelRow >= kToneRows)) return 0;
    const int32_t W = region ? image.width : blob.width;
    const int32_t H = region ? image.height : blob.height;
    if (W <= 0 || H <= 0) return 0;
    if (region) {
        if (region->left < 0 || region->top < 0 || int64_t{region->left} + W > blob.width ||
            int64_t{region->top} + H > blob.height)
            return 0;
    } else if (image.width < W || image.height < H) {
        return 0;
    }
    // 16-bit strides count whole samples; an odd byte stride counts as the even one below.
    const int64_t destRow = kBytes == 1 ? int64_t{image.rowStride} : int64_t{image.rowStride >> 1};
    const int64_t destPixel = kBytes == 1 ? int64_t{image.pixelStride} : int64_t{image.pixelStride >> 1};
    void* channels[3] = {image.channel1, image.channel2, image.channel3};
    for (void* c : channels)
        if (c == nullptr || reinterpret_cast<uintptr_t>(c) % alignof(T) != 0) return 0;
    const bool compactCopy = kBytes == 2;  // the 16-bit region copy has its own layout
    if (region && !compactCopy) {
        // The 8-bit region copy takes the destination's layout: interleaved,
        // rows far enough apart to hold the pixels, 3-byte pixels to denoise.
        if (image.pixelStride < 3 || (s.denoise != 0 && image.pixelStride != 3) ||
            int64_t{image.rowStride} < int64_t{W - 1} * image.pixelStride + 3)
            return 0;
    }
    const Dest<T> dest{{static_cast<T*>(channels[0]), static_cast<T*>(channels[1]), static_cast<T*>(channels[2])},
                       destRow, destPixel};

    // --- 1. set-up -------------------------------------------------------------
    HostBuffer primaryBlock = HostBuffer::Allocate(int64_t{D::kLevels} * 4);
    if (!primaryBlock) return 0;
    HostBuffer secondaryBlock = HostBuffer::Allocate(int64_t{D::kLevels} * 4);
    if (!secondaryBlock) return 0;
    const int64_t N = int64_t{W} * H;
    HostBuffer planeBlock = HostBuffer::Allocate(N * 4);
    if (!planeBlock) return 0;
    float* primary = primaryBlock.data<float>();
    float* secondary = secondaryBlock.data<float>();
    float* plane = planeBlock.data<float>();
    const int32_t radius = int32_t(int64_t{std::max(W, H)} * 20 / 100);
    const int32_t L = param.blackLevel;

    // --- 2. level parameters ----------------------------------------------------
    const int32_t r = s.useVariant != 0 ? s.tintMode + 1 : 0;
    const float sv = s.variantStrength;
    std::optional<int32_t> B = 0;
    if (s.useShadowClip != 0)
        B = Blend(param.shadowPercentiles[0][s.shadowClipIndex], param.shadowPercentiles[r][s.shadowClipIndex], sv);
    const std::optional<int32_t> Wp = Blend(param.whitePoint[0], param.whitePoint[r], sv);
    if (!B || !Wp) return 0;  // a non-finite blend strength
    int32_t strength = s.toneStrength != nullptr ? *s.toneStrength : 0;
    if (s.useToneLevel != 0) {
        const auto t = Blend(param.toneLevels[s.toneLevelRow][0], param.toneLevels[s.toneLevelRow][r], sv);
        if (!t) return 0;
        strength = std::min(*t, s.strengthLimit);
        if (s.toneStrength != nullptr) *s.toneStrength = strength;
    }
    // A white point on the black point (a flat image) leaves no range to
    // stretch; the levels are then kept at unit scale. A white point below
    // the black point gives a negative scale (|K| <= 255000, 16-bit 65280000).
    const int64_t range = int64_t{*Wp} - *B;
    const int64_t K = range != 0 ? int64_t(D::kFullF / float(range) * 1000.0f) : 1000;

    // Tint factors in per mille, centred on 1000.
    const bool tinted = s.useVariant != 0 && param.needTint[s.tintMode] != 0;
    int64_t G[3] = {1000, 1000, 1000};
    if (tinted) {
        float g[3];
        for (int i = 0; i < 3; ++i) g[i] = 1.0f + (param.tintGains[s.tintMode][i] - 1.0f) * sv;
        const float mid = (std::min({g[0], g[1], g[2]}) + std::max({g[0], g[1], g[2]})) * 0.5f;
        for (int i = 0; i < 3; ++i) {
            const float f = g[i] / mid * 1000.0f;
            if (!(std::fabs(f) < 8388608.0f)) return 0;  // gains that no image can carry
            G[i] = static_cast<int64_t>(f);
        }
    }

    // --- 3. gain tables ---------------------------------------------------------
    // A builder short of host memory leaves its tables unwritten; that is a
    // memory failure of the pipeline.
    if (!BuildGainTables<T>(primary, secondary, s, strength)) return 0;

    // --- region copy (Local) or noise copy (denoise) ----------------------------
    Source src{blob.pixels->Data(), blob.rowStride, 3 * kBytes};
    HostBuffer copy;
    int64_t copyRowBytes = blob.rowStride;
    if (region) {
        const uint8_t* from = blob.pixels->Data() + int64_t{region->top} * blob.rowStride + int64_t{region->left} * 3 * kBytes;
        if (compactCopy) {
            copyRowBytes = int64_t{W} * 3 * kBytes;
            src = Source{nullptr, copyRowBytes, 3 * kBytes};
        } else {
            copyRowBytes = image.rowStride;
            src = Source{nullptr, image.rowStride, image.pixelStride};
        }
        copy = HostBuffer::Allocate(copyRowBytes * H);
        if (!copy) return 0;
        src.base = copy.data<uint8_t>();
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x)
                std::memcpy(copy.data<uint8_t>() + y * src.rowBytes + x * src.pixelBytes,
                            from + y * int64_t{blob.rowStride} + x * 3 * kBytes, size_t(3 * kBytes));
    } else if (s.denoise != 0) {
        copy = HostBuffer::Allocate(int64_t{blob.rowStride} * H);
        if (!copy) return 0;
        std::memcpy(copy.data<uint8_t>(), blob.pixels->Data(), size_t(int64_t{blob.rowStride} * H));
        src.base = copy.data<uint8_t>();
    }
    if (s.denoise != 0 &&
        !noise::RemoveNoiseForPipeline(copy.data<uint8_t>(), W, H, int32_t(copyRowBytes), kBytes == 2 ? 1 : 0, s.noisePreset,
                            s.noiseAdjustA, s.noiseAdjustB, s.noiseLevelOverride, s.noiseWord0, s.noiseQword))
        return 0;

    // --- 5. levels: channels and value plane -------------------------------------
    // The 8-bit region variant raises negative (sample - black level)
    // differences to 0 on the tint path.
    const bool raiseNegatives = region != nullptr && kBytes == 1;
    const LevelsStep<T> levels(L, *B, K, G, tinted, raiseNegatives);
    auto levelAll = [&](const auto& step) {
        for (int32_t y = 0; y < H; ++y) {
            const uint8_t* row = src.base + y * src.rowBytes;
            for (int32_t x = 0; x < W; ++x) {
                T in[3];
                std::memcpy(in, row + x * src.pixelBytes, sizeof in);
                const T rgb[3] = {in[2], in[1], in[0]};
                T v[3];
                step.Apply(rgb, v);
                dest.At(0, x, y) = v[0], dest.At(1, x, y) = v[1], dest.At(2, x, y) = v[2];
                plane[int64_t{y} * W + x] = float(std::max({v[0], v[1], v[2]}));
            }
        }
    };
    // 8-bit samples go through tables of their 256 values, built per call.
    if constexpr (kBytes == 1) levelAll(LevelsTable8(levels));
    else levelAll(levels);
    if (Stopped(s, 1)) return 0;

    // --- 7. tone mapping of the value plane --------------------------------------
    if (s.localContrast == 0) {
        for (int64_t i = 0; i < N; ++i) {
            const float v = plane[i];
            plane[i] = std::clamp(primary[static_cast<int32_t>(v) & (D::kLevels - 1)] * v, 0.0f, D::kFullF);
        }
    } else {
        if (param.baseMapValid == 0) {
            // The map is built once, for the record's own size only.
            if (W != param.width || H != param.height) return 0;
            if (!BuildBaseMap<T>(plane, W, H, radius, param)) return 0;
        }
        if (param.baseMap == nullptr || param.width <= 0 || param.height <= 0 ||
            param.baseMap->Size() / 4 < int64_t{param.width} * param.height)
            return 0;
        const float low = float(param.baseMapLow);
        const bool flatRange = param.baseMapHigh == param.baseMapLow;
        const float q = 1.0f / float(int64_t{param.baseMapHigh} - param.baseMapLow);
        const int32_t ox = int32_t(std::clamp<int64_t>(int64_t{s.mapOffsetX} + (region ? region->left : 0), INT32_MIN, INT32_MAX));
        const int32_t oy = int32_t(std::clamp<int64_t>(int64_t{s.mapOffsetY} + (region ? region->top : 0), INT32_MIN, INT32_MAX));
        for (int32_t y = 0; y < H; ++y) {
            const BaseMapRow mapRow(param.baseMap->As<float>(), s.mapScale, param.width, param.height, ox, oy, y);
            for (int32_t x = 0; x < W; ++x) {
                const float u = mapRow.At(x);
                // An empty range has no ramp: above the low end the primary
                // curve, else the secondary one.
                float t = flatRange ? (u > low ? 1.0f : 0.0f) : (u - low) * q;
                if (t > 1.0f) t = 1.0f;
                else if (t < 0.0f) t = 0.0f;
                float& v = plane[int64_t{y} * W + x];
                const int32_t i = static_cast<int32_t>(v) & (D::kLevels - 1);
                v = std::clamp(((1.0f - t) * secondary[i] + t * primary[i]) * v, 0.0f, D::kFullF);
            }
        }
    }
    if (Stopped(s, 2)) return 0;

    // --- 9. sharpening -----------------------------------------------------------
    if (s.sharpen != 0) {
        const float strength = region ? s.sharpenAmount : SharpenStrengthForSize(W, H) * s.sharpenAmount;
        if constexpr (kBytes == 1) SharpenPlane8(plane, W, H, strength);
        else SharpenPlane16(plane, W, H, strength);
    }
    if (Stopped(s, 3)) return 0;

    // --- 11. channel rebuild -----------------------------------------------------
    const int32_t ps = int32_t(destPixel), rs = int32_t(destRow);
    if (s.colorMode != 0) {
        if constexpr (kBytes == 1)
            ColorRestoreTone8(dest.c[0], dest.c[1], dest.c[2], plane, W, H, ps, rs, s.colorMode, s.colorAmount);
        else
            ColorRestoreTone16(dest.c[0], dest.c[1], dest.c[2], plane, W, H, ps, rs, s.colorMode, s.colorAmount);
    } else {
        for (int32_t y = 0; y < H; ++y)
            for (int32_t x = 0; x < W; ++x) {
                T& c1 = dest.At(0, x, y);
                T& c2 = dest.At(1, x, y);
                T& c3 = dest.At(2, x, y);
                const T mx = std::max({c1, c2, c3});
                const float v = plane[int64_t{y} * W + x];
                // A pixel whose channels are all 0 stays 0, whatever its value.
                const float ratio = (v == 0.0f || mx == 0) ? 0.0f : v / float(mx);
                c1 = T(TruncClamp(float(c1) * ratio, 0, D::kFull));
                c2 = T(TruncClamp(float(c2) * ratio, 0, D::kFull));
                c3 = T(TruncClamp(float(c3) * ratio, 0, D::kFull));
            }
    }
    if (Stopped(s, 4)) return 0;

    // --- 13. warm tone -----------------------------------------------------------
    if (s.warmTone != 0) {
        if constexpr (kBytes == 1) WarmToneCorrect8(dest.c[0], dest.c[1], dest.c[2], H, W, ps, rs, s.warmToneStrength);
        else WarmToneCorrect16(dest.c[0], dest.c[1], dest.c[2], H, W, ps, rs, s.warmToneStrength);
    }
    if (Stopped(s, 5)) return 0;

    // --- 15. colour tables -------------------------------------------------------
    if (s.colorCube != 0) {
        if constexpr (kBytes == 1) ColorCubeApply8(s.cubeSelect, s.cubeAlsoC, dest.c[0], dest.c[1], dest.c[2], W, H, ps, rs);
        else ColorCubeApply16(s.cubeSelect, s.cubeAlsoC, dest.c[0], dest.c[1], dest.c[2], W, H, ps, rs);
    } else if (s.cubeAlsoC != 0) {
        if constexpr (kBytes == 1) ColorCubeApplyC8(dest.c[0], dest.c[1], dest.c[2], W, H, ps, rs);
        else ColorCubeApplyC16(dest.c[0], dest.c[1], dest.c[2], W, H, ps, rs);
    }

    // --- 16, 17. release, last progress call ---------------------------------------
    primaryBlock.reset(), secondaryBlock.reset(), planeBlock.reset(), copy.reset();
    return Stopped(s, 6) ? 0 : 1;
}

}  // namespace

float SharpenStrengthForSize(int32_t width, int32_t height) {
    const float strength = std::sqrt(float(width) * float(height) / 1000000.0f / 7.0f);
    return std::clamp(strength, 0.1f, 1.0f);
}

int32_t ApplyBlobParam8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return RunPipeline<uint8_t>(image, blob, param, s, nullptr);
}
int32_t ApplyBlobParam16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return RunPipeline<uint16_t>(image, blob, param, s, nullptr);
}
int32_t ApplyBlobParamLocal8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                             const ApplySettings& s, BlobRegion region) {
    return RunPipeline<uint8_t>(image, blob, param, s, &region);
}
int32_t ApplyBlobParamLocal16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                              const ApplySettings& s, BlobRegion region) {
    return RunPipeline<uint16_t>(image, blob, param, s, &region);
}

}  // namespace lx
