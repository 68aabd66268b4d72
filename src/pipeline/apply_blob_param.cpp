// SPDX-License-Identifier: MIT
#include "pipeline/apply_blob_param.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <optional>

#include "host/heap_array.h"
#include "host/host_buffers.h"
#include "image/image_view.h"
#include "image/sample_depth.h"
#include "noise/remove_noise_for_pipeline.h"
#include "pipeline/base_map.h"
#include "pipeline/finishing_stages.h"
#include "pipeline/level_params.h"
#include "pipeline/levels_step.h"
#include "pipeline/row_copy.h"
#include "pipeline/tone_map_step.h"
#include "simd/byte_planes.h"
#include "simd/gather_pairs.h"
#include "simd/kernels.h"
#include "simd/own_samples.h"
#include "stages/knee_gain_tables.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/sharpen_plane.h"

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
    // A base map to build: the first local-contrast pass over a record.
    bool BuildsMap() const { return s->localContrast != 0 && param->baseMapValid == 0 && !Empty(); }
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
    // No pixels is 0 x 0: the steps then loop over no rows, where a width
    // of 0 with a height of 2^31 - 1 would walk two billion empty ones.
    if (c.Empty()) c.W = c.H = 0;
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
    // Local contrast reads a map of the record's size; one is built only for
    // an image of that size.
    if (s.localContrast != 0 && !c.Empty()) {
        if (param.baseMapValid == 0) {
            if (c.W != param.width || c.H != param.height) return std::nullopt;
        } else if (param.baseMap == nullptr || param.width <= 0 || param.height <= 0 ||
                   param.baseMap->Size() / 4 < int64_t{param.width} * param.height) {
            return std::nullopt;
        }
    }
    return c;
}

// The gain table pair, the first host memory every call takes.
struct GainTables {
    HostArray<float> primary, secondary;

    bool Allocate(int32_t levels) {
        if (!(primary = HostArray<float>::Allocate(levels))) return false;
        return bool(secondary = HostArray<float>::Allocate(levels));
    }
};

// The gain table pair of the curve type; false when a builder is short of
// host memory (its tables are then unwritten).
template <class T>
bool BuildGainTables(const GainTables& g, const ApplySettings& s, int32_t strength) {
    using D = SampleDepth<T>;
    float* p = g.primary.data();
    float* q = g.secondary.data();
    if (s.curveType == kCurveKnee) return BuildKneeGainTables(p, q, 4 * D::kScale, 1, 100, 0.0f, 3, 0.6f, D::kLevels);
    if (s.curveType == kCurveLogExp) return BuildLogExpGainTables(p, q, s.curveBlack, strength, s.curveAmount, D::kLevels);
    return BuildLogGainTables(p, q, s.curveBlack, 1, strength, s.curveAmount, D::kLevels);
}

// The pixels the levels step reads: the blob or its region, or a copy to
// denoise (the noise library needs a buffer of its own). The 16-bit region
// copy is compact; the 8-bit one takes the destination's layout.
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
    if (s.denoise == 0) {
        if (c.region && !c.Empty()) src.pixels = src.pixels.Region(c.region->left, c.region->top, c.W, c.H);
        return true;
    }
    int64_t rowBytes = c.blob->rowStride;
    if (c.region) {
        if (!CopyRegion(c, src)) return false;
        rowBytes = src.pixels.rowStride * int64_t{sizeof(T)};
    } else {
        const int64_t bytes = int64_t{c.blob->rowStride} * c.H;
        if (!(src.copy = HostArray<uint8_t>::Allocate(bytes))) return false;
        std::memcpy(src.copy.data(), c.blob->pixels->Data(), size_t(bytes));
        T* base = reinterpret_cast<T*>(src.copy.data());
        src.pixels.channel[0] = base + 2, src.pixels.channel[1] = base + 1, src.pixels.channel[2] = base;
    }
    return noise::RemoveNoiseForPipeline(src.copy.data(), c.W, c.H, int32_t(rowBytes), sizeof(T) == 2 ? 1 : 0,
                                         s.noisePreset, s.noiseAdjustA, s.noiseAdjustB, s.noiseLevelOverride,
                                         s.noiseWord0, s.noiseQword);
}

// The levels of one call: per-call tables (8-bit) over the source, a row at
// a time into any view of the levelled channels and a row of values.
template <class T>
class Leveller {
public:
    Leveller(const LevelParams& p, const ImageView<const T>& source, bool raiseNegatives)
        : step_(MakeLevelsStep<T>(p, raiseNegatives)), source_(source) {}

    void Row(int32_t y, const ImageView<T>& out, float* value) const {
        if constexpr (sizeof(T) == 1) LevelRow8(table_, source_, y, out, value);
        else LevelRow16(step_, source_, y, out, value);
    }

    // The values of row y alone (n pixels).
    void Values(int32_t y, int32_t n, float* value) const {
        if constexpr (sizeof(T) == 1) LevelValues8(table_, source_, y, n, value);
        else LevelValues16(step_, source_, y, n, value);
    }

private:
    LevelsStep<T> step_;
    ImageView<const T> source_;
    // 8-bit samples go through tables of their 256 values.
    struct None {
        explicit None(const LevelsStep<T>&) {}
    };
    std::conditional_t<sizeof(T) == 1, LevelsTable8, None> table_{step_};
};

// The levels step's set-up: level parameters (the computed strength is
// written back here), gain tables, source.
template <class T>
std::optional<LevelParams> SetUpLevels(const Call<T>& c, const GainTables& g, Source<T>& src) {
    const ApplySettings& s = *c.s;
    const std::optional<LevelParams> p = LevelParamsOf(*c.param, s, SampleDepth<T>::kFullF);
    if (!p) return std::nullopt;  // a non-finite blend strength
    if (s.useToneLevel != 0 && s.toneStrength != nullptr) *s.toneStrength = p->strength;
    if (!BuildGainTables<T>(g, s, p->strength)) return std::nullopt;
    if (!PrepareSource(c, src)) return std::nullopt;
    return p;
}

// The tone mapping of one row of values: the global gain, or the blend by
// the base map (which the caller has built when it was missing).
template <class T>
class ToneMapper {
public:
    ToneMapper(const Call<T>& c, const GainTables& g) : local_(c.s->localContrast != 0), g_(g) {
        // The two gain tables as pairs for the SIMD row's gathers: 2 KB for
        // 8-bit levels, 512 KB for 16-bit ones (from the heap: without it
        // the row gathers the two tables apart, with the same result).
        // 8-bit levels also take both tables as byte planes (2 KB, here).
        if (!local_ || simd::ReferenceKernels()) return;
        constexpr int32_t kLevels = SampleDepth<T>::kLevels;
        pairs_ = HeapArray<uint64_t>::Allocate(kLevels);
        if (pairs_) simd::MakeGatherPairs(g.secondary.data(), g.primary.data(), kLevels, pairs_.data());
        forms_.pairs = pairs_.data();
        if constexpr (sizeof(T) == 1) {
            simd::SplitIntoBytePlanes(g.secondary.data(), bytes_);
            simd::SplitIntoBytePlanes(g.primary.data(), bytes_ + 4);
            forms_.secondaryBytes = bytes_;
            forms_.primaryBytes = bytes_ + 4;
        }
    }

    // Reads the record's map; call after it is built.
    void Prepare(const Call<T>& c) {
        if (!local_ || c.Empty()) return;
        const int64_t left = c.region ? c.region->left : 0, top = c.region ? c.region->top : 0;
        blend_ = BlendOf(*c.param, c.s->mapScale, int64_t{c.s->mapOffsetX} + left, int64_t{c.s->mapOffsetY} + top);
    }

    void Row(float* v, int32_t n, int32_t y) const {
        if (local_) ToneMapLocalRow<T>(v, n, y, g_.primary.data(), g_.secondary.data(), blend_, forms_);
        else ToneMapGlobalRow<T>(v, n, g_.primary.data());
    }

private:
    bool local_;
    const GainTables& g_;
    BaseMapBlend blend_;
    HeapArray<uint64_t> pairs_;
    uint8_t bytes_[8][256];
    GainForms forms_;
};

// Strength of the value sharpening: a region takes the caller's amount as it
// is, since it does not know the size of the whole photo.
template <class T>
float SharpenStrength(const Call<T>& c) {
    return c.region ? c.s->finish.sharpenAmount : SharpenStrengthForSize(c.W, c.H) * c.s->finish.sharpenAmount;
}

// What every path needs once the call is checked.
template <class T>
struct Stages {
    const Call<T>& c;
    const Leveller<T>& levels;
    ToneMapper<T>& tone;
    const FinishingStages<T>& finish;
};

// ---------------------------------------------------------------------------
// The steps in order, each over the whole image, with a full-size value
// plane between them: the destination holds the levelled channels until the
// rebuild. Runs when a base map is to be built (it needs every value first),
// when the destination's samples are not all its own (a channel or pixel
// that shares samples with another sees every earlier step's writes), and
// for the tests that compare the two orders. Progress follows each step.
template <class T>
bool RunWholeSteps(const Stages<T>& st) {
    const Call<T>& c = st.c;
    const ApplySettings& s = *c.s;
    HostArray<float> values = HostArray<float>::Allocate(int64_t{c.W} * c.H);
    if (!values) return false;
    const Plane plane{values.data(), c.W, c.H};
    for (int32_t y = 0; y < c.H; ++y) st.levels.Row(y, c.dest.Region(0, y, c.W, 1), plane.Row(y));
    if (c.Stopped(1)) return false;

    if (c.BuildsMap() && !BuildBaseMap<T>(plane, *c.param)) return false;
    st.tone.Prepare(c);
    for (int32_t y = 0; y < c.H; ++y) st.tone.Row(plane.Row(y), c.W, y);
    if (c.Stopped(2)) return false;

    if (s.finish.sharpen != 0) {
        if constexpr (sizeof(T) == 1) SharpenPlane8(plane, SharpenStrength(c));
        else SharpenPlane16(plane, SharpenStrength(c));
    }
    if (c.Stopped(3)) return false;
    st.finish.Rebuild(c.dest, plane.data);
    if (c.Stopped(4)) return false;
    st.finish.WarmTone(c.dest);
    if (c.Stopped(5)) return false;
    st.finish.ColourTables(c.dest);
    return true;
}

// ---------------------------------------------------------------------------
// The pass that only builds the base map (ApplySettings::mapOnly): the
// levelled values go straight into the map's build a row at a time, so
// neither the destination nor most of the value plane is ever touched,
// and nothing after the map is computed. The value plane is taken as in
// every pass and lends its rows to the build as scratch.
template <class T>
class LevelledValues final : public ValueRows {
public:
    explicit LevelledValues(const Stages<T>& st) : st_(st) {}
    void Row(int32_t y, float* out) const override { st_.levels.Values(y, st_.c.W, out); }

private:
    const Stages<T>& st_;
};

template <class T>
bool RunMapPass(const Stages<T>& st) {
    const Call<T>& c = st.c;
    HostArray<float> values = HostArray<float>::Allocate(int64_t{c.W} * c.H);
    if (!values) return false;
    if (c.Stopped(1)) return false;
    if (!BuildBaseMapFromRows<T>(LevelledValues<T>(st), Plane{values.data(), c.W, c.H}, *c.param)) return false;
    for (int32_t step = 2; step <= 5; ++step)
        if (c.Stopped(step)) return false;
    return true;
}

// ---------------------------------------------------------------------------
// The steps a row at a time: a row is levelled, tone-mapped, sharpened along
// itself and, once the rows around it are ready, down and up its columns,
// then rebuilt, finished and stored. The same float operations per pixel as
// the whole steps, in an order that keeps every value in a few row buffers:
//
//   row y:   levels -> tone map -> row walks        values v0[y]
//            column walk down of row y - 1          v1[y - 1] from v0[y - 2 .. y]
//            column walk up of row y - 2            v2[y - 2] from v1[y - 3 .. y - 1]
//            rebuild, warm tone, colour tables of row y - 2; store it
//
// Both column walks read only values from before the walk, so each is a
// three-tap stencil on the rows around it: three rows of each suffice. The
// levelled channels wait in three planar rows; without sharpening one row of
// each is all there is.
template <class T>
class RowRing {
public:
    bool Allocate(int32_t W, bool sharpen) {
        slots_ = sharpen ? 3 : 1;
        w_ = W;
        // values: v0 and v1 rings, the result row and a scratch row; then
        // the channel rows.
        const int64_t floats = int64_t{W} * (sharpen ? 8 : 1);
        const int64_t samples = int64_t{W} * 3 * slots_;
        const int64_t count = floats + (samples * int64_t{sizeof(T)} + 3) / 4;
        if (!(block_ = HostArray<float>::Allocate(count))) return false;
        samples_ = reinterpret_cast<T*>(block_.data() + floats);
        return true;
    }

    float* Value(int32_t y) const { return Floats(y % slots_); }
    float* Column(int32_t y) const { return Floats(3 + y % 3); }
    float* Result() const { return Floats(6); }
    float* Scratch() const { return Floats(7); }
    ImageView<T> Channels(int32_t y) const {
        T* base = samples_ + int64_t{y % slots_} * 3 * w_;
        return ImageView<T>{{base, base + w_, base + 2 * int64_t{w_}}, w_, 1, w_, 1};
    }

private:
    float* Floats(int32_t i) const { return block_.data() + int64_t{i} * w_; }

    HostArray<float> block_;
    T* samples_ = nullptr;
    int32_t slots_ = 1, w_ = 0;
};

// A whole image's destination beyond the caches is written with streaming
// stores: the host reads it from memory anyway. A region (a preview the host
// shows next) keeps ordinary stores.
template <class T>
Stores DestinationStores(const Call<T>& c) {
    const int64_t bytes = int64_t{c.W} * c.H * 3 * int64_t{sizeof(T)};
    return c.region == nullptr && bytes >= kStreamingStoreBytes ? Stores::kStreaming : Stores::kCached;
}

template <class T>
class RowStream {
public:
    RowStream(const Stages<T>& st, const RowRing<T>& ring)
        : st_(st), c_(st.c), ring_(ring), sharpen_(c_.s->finish.sharpen != 0),
          k_(MakeSharpenKernel(SharpenStrength(c_), SampleDepth<T>::kFullF)) {}

    void Run() {
        const int32_t H = c_.H;
        const bool columns = sharpen_ && H > 1;
        for (int32_t y = 0; y < H; ++y) {
            float* v = ring_.Value(y);
            st_.levels.Row(y, ring_.Channels(y), v);
            st_.tone.Row(v, c_.W, y);
            if (sharpen_ && c_.W > 1) SharpenRow(v, ring_.Scratch(), v, c_.W, k_);
            if (!columns) {
                Finish(y, v);
                continue;
            }
            if (y >= 1) ColumnDown(y - 1);
            if (y >= 2) ColumnUp(y - 2);
        }
        if (!columns) return;
        ColumnDown(H - 1);
        ColumnUp(H - 2);
        ColumnUp(H - 1);
    }

private:
    // Row r of the walk down the columns; needs v0 of rows r - 1 .. r + 1.
    void ColumnDown(int32_t r) const {
        const int32_t n = c_.W, last = c_.H - 1;
        float* out = ring_.Column(r);
        if (r == 0) SharpenLineEnds(ring_.Value(1), ring_.Value(0), out, n, k_);
        else if (r == last) SharpenLineEnds(ring_.Value(last - 1), ring_.Value(last), out, n, k_);
        else SharpenLines(ring_.Value(r - 1), ring_.Value(r), ring_.Value(r + 1), out, n, k_);
    }

    // Row r of the walk up the columns, which has just left row r + 1; then
    // the row is finished.
    void ColumnUp(int32_t r) const {
        const int32_t n = c_.W, last = c_.H - 1;
        float* out = ring_.Result();
        if (r == last) SharpenLineEnds(ring_.Column(last - 1), ring_.Column(last), out, n, k_);
        else if (r == 0) SharpenLineEnds(ring_.Column(1), ring_.Column(0), out, n, k_);
        else SharpenLines(ring_.Column(r + 1), ring_.Column(r), ring_.Column(r - 1), out, n, k_);
        Finish(r, out);
    }

    void Finish(int32_t y, const float* value) const {
        const ImageView<T> row = ring_.Channels(y);
        st_.finish.Run(row, value);
        CopyPixels<T>(row, c_.dest.Region(0, y, c_.W, 1), stores_);
    }

    const Stages<T>& st_;
    const Call<T>& c_;
    const RowRing<T>& ring_;
    bool sharpen_;
    SharpenKernel k_;
    Stores stores_ = DestinationStores(c_);
};

template <class T>
bool RunRows(const Stages<T>& st) {
    RowRing<T> ring;
    if (!ring.Allocate(st.c.W, st.c.s->finish.sharpen != 0)) return false;
    st.tone.Prepare(st.c);
    RowStream<T>(st, ring).Run();
    FenceStreamingStores();
    for (int32_t step = 1; step <= 5; ++step)
        if (st.c.Stopped(step)) return false;
    return true;
}

enum class Order { kRows, kWholeSteps };

template <class T>
bool RunPipeline(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                 const BlobRegion* region, Order order) {
    const std::optional<Call<T>> call = Check<T>(image, blob, param, s, region);
    if (!call) return false;
    const Call<T>& c = *call;
    GainTables gains;
    Source<T> src;
    if (!gains.Allocate(SampleDepth<T>::kLevels)) return false;
    const std::optional<LevelParams> p = SetUpLevels(c, gains, src);
    if (!p) return false;
    // The 8-bit region variant raises negative (sample - black level)
    // differences to 0 on the tint path.
    const Leveller<T> levels(*p, src.pixels, c.region != nullptr && sizeof(T) == 1);
    ToneMapper<T> tone(c, gains);
    const FinishingStages<T> finish(s.finish);
    const Stages<T> st{c, levels, tone, finish};
    if (c.Empty()) {
        for (int32_t step = 1; step <= 5; ++step)
            if (c.Stopped(step)) return false;
    } else if (s.mapOnly && c.BuildsMap()) {
        if (!RunMapPass(st)) return false;
    } else if (order == Order::kWholeSteps || c.BuildsMap() || !simd::SamplesAreOwn(c.dest)) {
        if (!RunWholeSteps(st)) return false;
    } else if (!RunRows(st)) {
        return false;
    }
    return true;
}

// The last step: the working memory is released before the final progress
// call, whose stop request fails a call with a complete destination.
template <class T>
bool Run(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
         const BlobRegion* region, Order order) {
    if (!RunPipeline<T>(image, blob, param, s, region, order)) return false;
    return s.progress == nullptr || s.progress(6, 6, s.progressContext) == 0;
}

}  // namespace

float SharpenStrengthForSize(int32_t width, int32_t height) {
    const float strength = std::sqrt(float(width) * float(height) / 1000000.0f / 7.0f);
    return std::clamp(strength, 0.1f, 1.0f);
}

bool ApplyBlobParam8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return Run<uint8_t>(image, blob, param, s, nullptr, Order::kRows);
}
bool ApplyBlobParam16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s) {
    return Run<uint16_t>(image, blob, param, s, nullptr, Order::kRows);
}
bool ApplyBlobParamLocal8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param, const ApplySettings& s,
                          BlobRegion region) {
    return Run<uint8_t>(image, blob, param, s, &region, Order::kRows);
}
bool ApplyBlobParamLocal16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                           const ApplySettings& s, BlobRegion region) {
    return Run<uint16_t>(image, blob, param, s, &region, Order::kRows);
}

bool ApplyBlobParamWholeSteps8(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                               const ApplySettings& s, const BlobRegion* region) {
    return Run<uint8_t>(image, blob, param, s, region, Order::kWholeSteps);
}
bool ApplyBlobParamWholeSteps16(const ImageDesc& image, const ImageBlob& blob, ImageParam& param,
                                const ApplySettings& s, const BlobRegion* region) {
    return Run<uint16_t>(image, blob, param, s, region, Order::kWholeSteps);
}

}  // namespace lx
