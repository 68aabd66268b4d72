// SPDX-License-Identifier: MIT
#include "analysis/analyse_blob.h"

#include <algorithm>

#include "analysis/blob_statistics.h"
#include "analysis/estimate_tint_gains.h"
#include "host/host_buffers.h"
#include "image/sample_depth.h"

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

template <class T>
bool Analyse(const ImageBlob& blob, ImageParam& param) {
    constexpr int32_t L = SampleDepth<T>::kLevels;
    param.width = blob.width;
    param.height = blob.height;
    if (blob.pixels == nullptr) return false;
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
        // A refused analysis leaves gains of 1.0, and so no correction.
        param.needTint[m] = (g[0] != 1.0f || g[1] != 1.0f || g[2] != 1.0f) ? 1 : 0;
    }
    if constexpr (SampleDepth<T>::kWide) return CollectBlobStatistics16(blob, param);
    else return CollectBlobStatistics8(blob, param);
}

}  // namespace

bool AnalyseBlob8(const ImageBlob& blob, ImageParam& param) { return Analyse<uint8_t>(blob, param); }
bool AnalyseBlob16(const ImageBlob& blob, ImageParam& param) { return Analyse<uint16_t>(blob, param); }

}  // namespace lx
