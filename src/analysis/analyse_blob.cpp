// SPDX-License-Identifier: MIT
#include "analysis/analyse_blob.h"

#include <algorithm>

#include "analysis/analyse_blob_twins.h"
#include "analysis/blob_statistics_twins.h"
#include "analysis/estimate_tint_gains.h"
#include "host/host_buffers.h"
#include "image/sample_depth.h"
#include "simd/kernels.h"

namespace lx {
namespace {

// Runs f(sample) on every sample of every pixel of the blob.
template <class T, class F>
void ForEachSample(const ImageView<T>& blob, F&& f) {
    for (int32_t y = 0; y < blob.height; ++y) {
        T* p = blob.channel[2] + y * blob.rowStride;  // channel 3 is the pixel's first sample
        for (int64_t i = 0; i < int64_t{blob.width} * 3; ++i) f(p[i]);
    }
}

// Lowers every sample by the black level for the analysis and puts it back
// when it goes out of scope, on every path.
template <class T>
class BlackLevelRemoved {
public:
    BlackLevelRemoved(const ImageView<T>& blob, int32_t level) : blob_(blob), level_(level) {
        ForEachSample(blob_, [&](T& v) { v = T(v - level_); });
    }
    ~BlackLevelRemoved() {
        ForEachSample(blob_, [&](T& v) { v = T(v + level_); });
    }
    BlackLevelRemoved(const BlackLevelRemoved&) = delete;
    BlackLevelRemoved& operator=(const BlackLevelRemoved&) = delete;

private:
    ImageView<T> blob_;
    int32_t level_;
};

// The smallest sample: the first non-empty bin of the histogram of every
// sample, counted into `hist` (levels floats); 0 when some sample is 0, the
// bin count when there are none.
template <class T>
int32_t BlackLevel(const ImageView<T>& blob, float* hist) {
    constexpr int32_t L = SampleDepth<T>::kLevels;
    std::fill_n(hist, L, 0.0f);
    ForEachSample(blob, [&](T v) { hist[v] += 1.0f; });
    int32_t black = 0;
    if (hist[0] == 0.0f)
        while (black < L && hist[black] == 0.0f) ++black;
    return black;
}

// needTint from the gains: a refused analysis leaves gains of 1.0, and so
// no correction.
void SetNeedTint(ImageParam& param, int m) {
    const float* g = param.tintGains[m];
    param.needTint[m] = (g[0] != 1.0f || g[1] != 1.0f || g[2] != 1.0f) ? 1 : 0;
}

// The reference: the histogram of every sample for the black level, the
// blob lowered in place, one cast analysis per tint mode, the statistics,
// the blob restored.
template <class T>
bool AnalysePlain(const ImageBlob& blob, ImageParam& param) {
    constexpr int32_t L = SampleDepth<T>::kLevels;
    param.width = blob.width;
    param.height = blob.height;
    // A blob without pixels has no statistics, so no record. Refused here,
    // before the passes over its rows: a width of 0 with a height of 2^31 - 1
    // would walk two billion empty rows in each of them.
    if (blob.pixels == nullptr || blob.width <= 0 || blob.height <= 0) return false;
    // The histogram block is held for the whole call, as hosts expect.
    const HostArray<float> hist = HostArray<float>::Allocate(L);
    if (!hist) return false;
    const ImageView<T> px = BlobView<T>(blob);
    const int32_t black = BlackLevel(px, hist.data());
    param.blackLevel = black;

    const BlackLevelRemoved<T> removed(px, black < L ? black : 0);
    for (int m = 0; m < kTintModes; ++m) {
        float* g = param.tintGains[m];
        if constexpr (SampleDepth<T>::kWide) EstimateTintGainsBlob16(px, m, g);
        else EstimateTintGainsBlob8(px, m, g);
        SetNeedTint(param, m);
    }
    if constexpr (SampleDepth<T>::kWide) return CollectBlobStatistics16Plain(blob, param);
    else return CollectBlobStatistics8Plain(blob, param);
}

// The smallest sample of the blob, which is the first non-empty bin of the
// histogram of every sample (L when there is no sample).
template <class T>
int32_t SmallestSample(const ImageView<const T>& blob) {
    constexpr int32_t L = SampleDepth<T>::kLevels;
    if (blob.Empty()) return L;
    T lowest = T(L - 1);
    for (int32_t y = 0; y < blob.height && lowest != 0; ++y) {
        const T* p = blob.channel[2] + y * blob.rowStride;  // channel 3 is the pixel's first sample
        T rowLowest = T(L - 1);
        for (int64_t i = 0; i < int64_t{blob.width} * 3; ++i) rowLowest = std::min(rowLowest, p[i]);
        lowest = std::min(lowest, rowLowest);
    }
    return lowest;
}

// The same record without writing the blob: the black level is the smallest
// sample, and the cast analysis and the statistics read every sample lowered
// by it. The four tint modes share their work; the statistics count every
// distinct variant in one walk.
template <class T>
bool AnalyseFast(const ImageBlob& blob, ImageParam& param) {
    using D = SampleDepth<T>;
    param.width = blob.width;
    param.height = blob.height;
    // Refused as the reference refuses it: before any host block or row.
    if (blob.pixels == nullptr || blob.width <= 0 || blob.height <= 0) return false;
    // The reference counts the black level in this block; it is taken and
    // held the same way, so that hosts see the same requests.
    const HostArray<float> hist = HostArray<float>::Allocate(D::kLevels);
    if (!hist) return false;
    const ImageView<const T> px = BlobView<const T>(blob);
    const int32_t black = SmallestSample(px);
    param.blackLevel = black;
    const int32_t lowered = black < D::kLevels ? black : 0;

    bool results[kTintModes];
    if constexpr (D::kWide) EstimateTintGainsBlobAllModes16(px, lowered, param.tintGains, results);
    else EstimateTintGainsBlobAllModes8(px, lowered, param.tintGains, results);
    for (int m = 0; m < kTintModes; ++m) SetNeedTint(param, m);
    if constexpr (D::kWide) return CollectBlobStatistics16Fast(blob, lowered, param);
    else return CollectBlobStatistics8Fast(blob, lowered, param);
}

}  // namespace

bool AnalyseBlob8(const ImageBlob& blob, ImageParam& param) {
    return simd::ReferenceKernels() ? AnalysePlain<uint8_t>(blob, param) : AnalyseFast<uint8_t>(blob, param);
}
bool AnalyseBlob16(const ImageBlob& blob, ImageParam& param) {
    return simd::ReferenceKernels() ? AnalysePlain<uint16_t>(blob, param) : AnalyseFast<uint16_t>(blob, param);
}
bool AnalyseBlob8Plain(const ImageBlob& blob, ImageParam& param) { return AnalysePlain<uint8_t>(blob, param); }
bool AnalyseBlob16Plain(const ImageBlob& blob, ImageParam& param) { return AnalysePlain<uint16_t>(blob, param); }
bool AnalyseBlob8Fast(const ImageBlob& blob, ImageParam& param) { return AnalyseFast<uint8_t>(blob, param); }
bool AnalyseBlob16Fast(const ImageBlob& blob, ImageParam& param) { return AnalyseFast<uint16_t>(blob, param); }

}  // namespace lx
