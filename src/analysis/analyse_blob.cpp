// SPDX-License-Identifier: MIT
#include "analysis/analyse_blob.h"

#include <algorithm>

#include "analysis/blob_statistics.h"
#include "analysis/estimate_tint_gains.h"
#include "host/host_buffers.h"

namespace lx {
namespace {

template <class T>
struct Samples {
    T* base;
    int64_t rowSamples;
    int32_t width, height;

    template <class F>
    void ForEach(F&& f) const {
        for (int32_t y = 0; y < height; ++y) {
            T* p = base + y * rowSamples;
            for (int64_t i = 0; i < int64_t{width} * 3; ++i) f(p[i]);
        }
    }
};

// Lowers every sample by the black level for the analysis and puts it back
// when it goes out of scope, on every path.
template <class T>
class BlackLevelRemoved {
public:
    BlackLevelRemoved(const Samples<T>& s, int32_t level) : s_(s), level_(level) {
        s_.ForEach([&](T& v) { v = T(v - level_); });
    }
    ~BlackLevelRemoved() {
        s_.ForEach([&](T& v) { v = T(v + level_); });
    }
    BlackLevelRemoved(const BlackLevelRemoved&) = delete;
    BlackLevelRemoved& operator=(const BlackLevelRemoved&) = delete;

private:
    const Samples<T>& s_;
    int32_t level_;
};

template <class T>
int32_t Analyse(const ImageBlob& blob, ImageParam& param) {
    constexpr int32_t L = sizeof(T) == 1 ? 256 : 65536;
    param.width = blob.width;
    param.height = blob.height;
    if (blob.pixels == nullptr) return 0;

    HostBuffer histBlock = HostBuffer::Allocate(int64_t{L} * 4);
    if (!histBlock) return 0;
    float* hist = histBlock.data<float>();
    std::fill_n(hist, L, 0.0f);
    const Samples<T> samples{blob.pixels->As<T>(), blob.rowStride / int64_t{sizeof(T)}, std::max(blob.width, 0),
                             std::max(blob.height, 0)};
    samples.ForEach([&](T& v) { hist[v] += 1.0f; });

    // The black level is the smallest sample (0 when some sample is 0; the
    // bin count when the blob has no samples at all).
    int32_t black = 0;
    if (hist[0] == 0.0f) {
        while (black < L && hist[black] == 0.0f) ++black;
    }
    param.blackLevel = black;

    const BlackLevelRemoved<T> removed(samples, black < L ? black : 0);
    // Channel 1 (red) is sample 2 of a pixel and the reference of the cast.
    const T* base = samples.base;
    const int32_t rowStride = sizeof(T) == 1 ? blob.rowStride : blob.rowStride / 2;
    for (int m = 0; m < kTintModes; ++m) {
        float* g = param.tintGains[m];
        if constexpr (sizeof(T) == 1)
            EstimateTintGainsBlob8(base + 2, base + 1, base, blob.height, blob.width, rowStride, m, &g[0], &g[1], &g[2]);
        else
            EstimateTintGainsBlob16(base + 2, base + 1, base, blob.height, blob.width, rowStride, m, &g[0], &g[1], &g[2]);
        // A refused analysis leaves gains of 1.0, and so no correction.
        param.needTint[m] = (g[0] != 1.0f || g[1] != 1.0f || g[2] != 1.0f) ? 1 : 0;
    }
    if constexpr (sizeof(T) == 1) return CollectBlobStatistics8(blob, param);
    else return CollectBlobStatistics16(blob, param);
}

}  // namespace

int32_t AnalyseBlob8(const ImageBlob& blob, ImageParam& param) { return Analyse<uint8_t>(blob, param); }
int32_t AnalyseBlob16(const ImageBlob& blob, ImageParam& param) { return Analyse<uint16_t>(blob, param); }

}  // namespace lx
