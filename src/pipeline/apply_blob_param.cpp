// SPDX-License-Identifier: MIT
#include "pipeline/apply_blob_param.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/host_buffers.h"
#include "image/image_view.h"
#include "image/sample_depth.h"
#include "noise/remove_noise_for_pipeline.h"
#include "pipeline/base_map.h"
#include "pipeline/level_params.h"
#include "pipeline/levels_step.h"
#include "pipeline/rebuild_step.h"
#include "pipeline/tone_map_step.h"
#include "stages/color_cube.h"
#include "stages/color_restore.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/sharpen_plane.h"
#include "stages/warm_tone.h"

namespace lx {
namespace {

// A call the pipeline can serve: its size and the destination's view.
template <class T>
struct Call {
    const ImageBlob* blob;
    ImageParam* param;
    const ApplySettings* s;
    const BlobRegion* region;  // null for the whole blob
    int32_t W = 0, H = 0;      // the blob's size, or the destination's for a region
    ImageView<T> dest;

    bool Empty() const { return W == 0 || H == 0; }
    bool Stopped(int32_t step) const {
        return s->progress != nullptr && s->progress(step, 6, s->progressContext) != 0;
    }
};

// The check: what a call can serve. The destination's width and height are
// read by the region variant only; the whole-image variant writes the
// blob's size and trusts the caller for the rest. An image without pixels
// runs the steps, which then have nothing to do.
template <class T>
std::optional<Call<T>> Check(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                             const ApplySettings& s, const BlobRegion* region) {
    if (blob.pixels == nullptr || blob.sampleType != SampleDepth<T>::kSampleType) return std::nullopt;
    if (s.useVariant != 0 && (s.tintMode < 0 || s.tintMode > 3)) return std::nullopt;
    if (s.useShadowClip != 0 && (s.shadowClipIndex < 0 || s.shadowClipIndex >= kShadowPercentiles)) return std::nullopt;
    if (s.useToneLevel != 0 && (s.toneLevelRow < 0 || s.toneLevelRow >= kToneRows)) return std::nullopt;
    Call<T> c{&blob, &param, &s, region, 0, 0, {}};
    c.W = std::max(region ? image.width : blob.width, 0);
    c.H = std::max(region ? image.height : blob.height, 0);
    c.dest = ViewOf<T>(image);
    c.dest.width = c.W, c.dest.height = c.H;
    if (c.Empty()) return c;
    if (region && (region->left < 0 || region->top < 0 || int64_t{region->left} + c.W > blob.width ||
                   int64_t{region->top} + c.H > blob.height))
        return std::nullopt;
    if (!IsWritable(c.dest)) return std::nullopt;
    // The 8-bit region copy takes the destination's layout: interleaved, rows
    // far enough apart to hold the pixels, 3-byte pixels to denoise.
    if (region && sizeof(T) == 1 &&
        (image.pixelStride < 3 || (s.denoise != 0 && image.pixelStride != 3) ||
         int64_t{image.rowStride} < int64_t{c.W - 1} * image.pixelStride + 3))
        return std::nullopt;
    return c;
}

// The host memory every call takes first: the gain table pair and the value
// plane, in that order.
struct Work {
    HostArray<float> primary, secondary, value;
    Plane plane;

    bool Allocate(int32_t levels, int32_t W, int32_t H) {
        if (!(primary = HostArray<float>::Allocate(levels))) return false;
        if (!(secondary = HostArray<float>::Allocate(levels))) return false;
        if (!(value = HostArray<float>::Allocate(int64_t{W} * H))) return false;
        plane = Plane{value.data(), W, H};
        return true;
    }
};

// The gain table pair of the curve type; false when a builder is short of
// host memory (its tables are then unwritten).
template <class T>
bool BuildGainTables(const Work& w, const ApplySettings& s, int32_t strength) {
    using D = SampleDepth<T>;
    float* p = w.primary.data();
    float* q = w.secondary.data();
    if (s.curveType == kCurveKnee) return BuildKneeGainTables(p, q, 4 * D::kScale, 1, 100, 0.0f, 3, 0.6f, D::kLevels);
    if (s.curveType == kCurveLogExp) return BuildLogExpGainTables(p, q, s.curveBlack, strength, s.curveAmount, D::kLevels);
    return BuildLogGainTables(p, q, s.curveBlack, 1, strength, s.curveAmount, D::kLevels);
}

// The pixels the levels step reads: the blob, or a copy of the region (a
// region always reads a copy) or of the blob (to denoise it). The 16-bit
// region copy is compact; the 8-bit one takes the destination's layout.
template <class T>
struct Source {
    ImageView<const T> pixels;
    HostArray<uint8_t> copy;
};

template <class T>
bool CopyRegion(const Call<T>& c, Source<T>& src) {
    const ImageView<const T> blob = BlobView<const T>(*c.blob);
    const int64_t pixel = sizeof(T) == 2 ? 3 : c.dest.pixelStride;
    const int64_t row = sizeof(T) == 2 ? int64_t{c.W} * 3 : c.dest.rowStride;
    if (!(src.copy = HostArray<uint8_t>::Allocate(c.Empty() ? 0 : row * c.H * int64_t{sizeof(T)}))) return false;
    T* base = reinterpret_cast<T*>(src.copy.data());
    src.pixels = ImageView<const T>{{base + 2, base + 1, base}, row, pixel, c.W, c.H};
    if (c.Empty()) return true;
    const ImageView<const T> from = blob.Region(c.region->left, c.region->top, c.W, c.H);
    for (int32_t y = 0; y < c.H; ++y)
        for (int32_t x = 0; x < c.W; ++x)
            std::memcpy(base + y * row + x * pixel, from.channel[2] + from.Offset(x, y), 3 * sizeof(T));
    return true;
}

template <class T>
bool PrepareSource(const Call<T>& c, Source<T>& src) {
    const ApplySettings& s = *c.s;
    src.pixels = BlobView<const T>(*c.blob);
    int64_t rowBytes = c.blob->rowStride;
    if (c.region) {
        if (!CopyRegion(c, src)) return false;
        rowBytes = src.pixels.rowStride * int64_t{sizeof(T)};
    } else if (s.denoise != 0) {
        const int64_t bytes = int64_t{c.blob->rowStride} * c.H;
        if (!(src.copy = HostArray<uint8_t>::Allocate(bytes))) return false;
        std::memcpy(src.copy.data(), c.blob->pixels->Data(), size_t(bytes));
        T* base = reinterpret_cast<T*>(src.copy.data());
        src.pixels.channel[0] = base + 2, src.pixels.channel[1] = base + 1, src.pixels.channel[2] = base;
    }
    if (s.denoise == 0) return true;
    return noise::RemoveNoiseForPipeline(src.copy.data(), c.W, c.H, int32_t(rowBytes), sizeof(T) == 2 ? 1 : 0,
                                         s.noisePreset, s.noiseAdjustA, s.noiseAdjustB, s.noiseLevelOverride,
                                         s.noiseWord0, s.noiseQword);
}

// The levels step: level parameters (the computed strength is written back
// here), gain tables, source, then every pixel levelled into the destination
// and the value plane.
template <class T>
bool Levels(const Call<T>& c, const Work& w, Source<T>& src) {
    const ApplySettings& s = *c.s;
    const std::optional<LevelParams> p = LevelParamsOf(*c.param, s, SampleDepth<T>::kFullF);
    if (!p) return false;  // a non-finite blend strength
    if (s.useToneLevel != 0 && s.toneStrength != nullptr) *s.toneStrength = p->strength;
    if (!BuildGainTables<T>(w, s, p->strength)) return false;
    if (!PrepareSource(c, src)) return false;
    // The 8-bit region variant raises negative (sample - black level)
    // differences to 0 on the tint path.
    const LevelsStep<T> step = MakeLevelsStep<T>(*p, c.region != nullptr && sizeof(T) == 1);
    // 8-bit samples go through tables of their 256 values, built per call.
    if constexpr (sizeof(T) == 1) LevelRows<T>(LevelsTable8(step), src.pixels, c.dest, w.plane, 0, c.H);
    else LevelRows<T>(step, src.pixels, c.dest, w.plane, 0, c.H);
    return true;
}

// The tone-mapping step. The base map is built once, from the first pass
// that needs it, for the record's own size only; an image without pixels
// neither builds nor reads one.
template <class T>
bool ToneMap(const Call<T>& c, const Work& w) {
    const ApplySettings& s = *c.s;
    ImageParam& param = *c.param;
    if (s.localContrast == 0) {
        ToneMapGlobal<T>(w.plane, w.primary.data(), 0, c.H);
        return true;
    }
    if (c.Empty()) return true;
    if (param.baseMapValid == 0) {
        if (c.W != param.width || c.H != param.height) return false;
        if (!BuildBaseMap<T>(w.plane, param)) return false;
    }
    if (param.baseMap == nullptr || param.width <= 0 || param.height <= 0 ||
        param.baseMap->Size() / 4 < int64_t{param.width} * param.height)
        return false;
    const int64_t left = c.region ? c.region->left : 0, top = c.region ? c.region->top : 0;
    const BaseMapBlend blend = BlendOf(param, s.mapScale, int64_t{s.mapOffsetX} + left, int64_t{s.mapOffsetY} + top);
    ToneMapLocal<T>(w.plane, w.primary.data(), w.secondary.data(), blend, 0, c.H);
    return true;
}

template <class T>
void Sharpen(const Call<T>& c, const Work& w) {
    const ApplySettings& s = *c.s;
    if (s.sharpen == 0) return;
    // A region takes the caller's amount as it is: it does not know the size
    // of the whole photo.
    const float strength = c.region ? s.sharpenAmount : SharpenStrengthForSize(c.W, c.H) * s.sharpenAmount;
    if constexpr (sizeof(T) == 1) SharpenPlane8(w.plane, strength);
    else SharpenPlane16(w.plane, strength);
}

template <class T>
void Rebuild(const Call<T>& c, const Work& w) {
    const ApplySettings& s = *c.s;
    if (s.colorMode == 0) RebuildProportional(c.dest, w.plane, 0, c.H);
    else ColorRestoreTone(c.dest, w.plane.data, MakeColorRestoreTables(s.colorMode, s.colorAmount));
}

// The 16-bit warm tone reports when it could not get its ramp; the pipeline
// goes on without it, as it goes on after the other finishing stages.
template <class T>
void WarmTone(const Call<T>& c) {
    if (c.s->warmTone == 0) return;
    if constexpr (sizeof(T) == 1) WarmToneCorrect8(c.dest, c.s->warmToneStrength);
    else (void)WarmToneCorrect16(c.dest, c.s->warmToneStrength);
}

template <class T>
void ColourTables(const Call<T>& c) {
    const ApplySettings& s = *c.s;
    if (s.colorCube != 0) {
        if constexpr (sizeof(T) == 1) ColorCubeApply8(s.cubeSelect, s.cubeAlsoC, c.dest);
        else ColorCubeApply16(s.cubeSelect, s.cubeAlsoC, c.dest);
    } else if (s.cubeAlsoC != 0) {
        if constexpr (sizeof(T) == 1) ColorCubeApplyC8(c.dest);
        else ColorCubeApplyC16(c.dest);
    }
}

template <class T>
bool RunPipeline(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                 const BlobRegion* region) {
    const std::optional<Call<T>> call = Check<T>(image, blob, param, s, region);
    if (!call) return false;
    const Call<T>& c = *call;
    Work w;
    Source<T> src;
    if (!w.Allocate(SampleDepth<T>::kLevels, c.W, c.H)) return false;
    if (!Levels(c, w, src) || c.Stopped(1)) return false;
    if (!ToneMap(c, w) || c.Stopped(2)) return false;
    Sharpen(c, w);
    if (c.Stopped(3)) return false;
    Rebuild(c, w);
    if (c.Stopped(4)) return false;
    WarmTone(c);
    if (c.Stopped(5)) return false;
    ColourTables(c);
    w = Work{};
    src.copy.reset();
    return !c.Stopped(6);
}

}  // namespace

float SharpenStrengthForSize(int32_t width, int32_t height) {
    const float strength = std::sqrt(float(width) * float(height) / 1000000.0f / 7.0f);
    return std::clamp(strength, 0.1f, 1.0f);
}

bool ApplyBlobParam8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return RunPipeline<uint8_t>(image, blob, param, s, nullptr);
}
bool ApplyBlobParam16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return RunPipeline<uint16_t>(image, blob, param, s, nullptr);
}
bool ApplyBlobParamLocal8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                          BlobRegion region) {
    return RunPipeline<uint8_t>(image, blob, param, s, &region);
}
bool ApplyBlobParamLocal16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                           const ApplySettings& s, BlobRegion region) {
    return RunPipeline<uint16_t>(image, blob, param, s, &region);
}

}  // namespace lx
