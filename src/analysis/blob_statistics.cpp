// SPDX-License-Identifier: MIT
#include "analysis/blob_statistics.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "analysis/blob_histograms.h"
#include "host/host_buffers.h"
#include "oneshot/histogram_mean.h"
#include "platform/float_convert.h"
#include "stages/knee_gain_tables.h"
#include "stages/tint_factors.h"

namespace lx {
namespace {

template <class T>
struct StatDepth;

template <>
struct StatDepth<uint8_t> {
    static constexpr int32_t kLevels = 256;
    static constexpr int32_t kKneeBlack = 4;
    static constexpr float kWeightStep = 0.00390625f;  // 1/256
    static constexpr int32_t kTargetBase = 14025, kTargetStep = 1275;  // targets x 100
};

template <>
struct StatDepth<uint16_t> {
    static constexpr int32_t kLevels = 65536;
    static constexpr int32_t kKneeBlack = 1024;
    static constexpr float kWeightStep = 1.5258789e-5f;  // 1/65536
    static constexpr int32_t kTargetBase = 3590400, kTargetStep = 326400;
};

// A strength that comes out negative, non-finite or beyond int32 counts as 0.
int32_t ToneStrength(float target, float m0, float m1) {
    const double s = double(target - m0) * 200.0 / double(m1 - m0) * 0.5;
    if (!(s >= 0.0) || !FitsInt32(s)) return 0;
    return static_cast<int32_t>(s);
}

template <class T>
int32_t Collect(const ImageBlob& blob, ImageParam& param) {
    using D = StatDepth<T>;
    constexpr int32_t L = D::kLevels;
    const int64_t N = int64_t{blob.width} * blob.height;
    if (blob.pixels == nullptr || blob.width <= 0 || blob.height <= 0) return 0;

    // 1, 2. Working memory, each variant's blocks in the order copy, max, all.
    HostBuffer hist[kStatVariants][3];
    for (auto& v : hist)
        for (auto& b : v)
            if (!(b = HostBuffer::Allocate(int64_t{L} * 4))) return 0;
    HostBuffer primaryBlock, secondaryBlock, weightedBlock, remappedBlock;
    for (HostBuffer* b : {&primaryBlock, &secondaryBlock, &weightedBlock, &remappedBlock})
        if (!(*b = HostBuffer::Allocate(int64_t{L} * 4))) return 0;
    float* primary = primaryBlock.data<float>();
    int32_t* weighted = weightedBlock.data<int32_t>();
    int32_t* remapped = remappedBlock.data<int32_t>();

    // 3. The full-strength log lift of the knee builder. Its result is not
    // examined: a builder short of host memory leaves the tables as they
    // were, so the primary table starts as the identity (gain 1.0), which
    // lifts nothing and makes every tone strength of such a call 0.
    std::fill_n(primary, L, 1.0f);
    BuildKneeGainTables(primary, secondaryBlock.data<float>(), D::kKneeBlack, 1, 100, 0.0f, 3, 0.6f, L);

    // 4.
    const int64_t step = 3 * N / 1000;
    const int64_t whiteLimit = N - N / 1000;

    int64_t factors[kStatVariants][3];
    bool isTinted[kStatVariants];
    for (int v = 0; v < kStatVariants; ++v) {
        int32_t* copy = hist[v][0].data<int32_t>();
        int32_t* maxHist = hist[v][1].data<int32_t>();
        int32_t* allHist = hist[v][2].data<int32_t>();
        std::fill_n(maxHist, L, 0);
        std::fill_n(allHist, L, 0);
        std::fill_n(copy, L, 0);

        // 5.2 Histograms of the pixel maxima and of all samples.
        const bool tinted = v >= 1 && param.needTint[v - 1] != 0;
        int64_t* f = factors[v];  // red, green, blue, per mille
        f[0] = f[1] = f[2] = 1000;
        isTinted[v] = tinted;
        if (tinted) {
            int32_t k[3];
            TintFactorsPerMille(param.tintGains[v - 1], k);
            for (int i = 0; i < 3; ++i) f[i] = k[i];
        }
        // The two histograms depend on the pixels, the tint switch and the
        // three factors only. A variant that repeats an earlier one (every
        // untinted variant repeats variant 0; two tint modes often find the
        // same cast) takes its histograms instead of another pass over the
        // blob.
        int u = 0;
        while (u < v && !(isTinted[u] == tinted && std::equal(f, f + 3, factors[u]))) ++u;
        if (u < v) {
            std::memcpy(maxHist, hist[u][1].data<int32_t>(), size_t(L) * 4);
            std::memcpy(allHist, hist[u][2].data<int32_t>(), size_t(L) * 4);
        } else {
            if constexpr (sizeof(T) == 1) FillBlobHistograms8Tabled(blob, tinted, f, maxHist, allHist);
            else FillBlobHistograms16(blob, tinted, f, maxHist, allHist);
        }
        // 5.3
        std::memcpy(copy, maxHist, size_t(L) * 4);

        // 5.4 Dark percentiles of all samples.
        {
            int64_t sum = 0;
            int32_t k = 0;
            for (int j = 0; j < kShadowPercentiles; ++j) {
                const int64_t target = (j + 1) * step;
                while (k < L - 1 && sum + allHist[k] <= target) sum += allHist[k++];
                param.shadowPercentiles[v][j] = k;
            }
        }
        // 5.5 White point of the pixel maxima.
        {
            int64_t remaining = N;
            int32_t k = L - 1;
            for (; k >= 0; --k) {
                remaining -= copy[k];
                if (remaining < whiteLimit) break;
            }
            param.whitePoint[v] = std::max(k, 0);
        }
        // 5.6 Shadow-weighted histogram of the maxima and its mean.
        for (int32_t i = 0; i < L; ++i)
            weighted[i] = TruncOr((1.5f - float(i) * D::kWeightStep) * float(copy[i]), 0);
        const float m0 = HistogramMean(weighted, L);
        // 5.7 The same after the lift.
        std::fill_n(remapped, L, 0);
        for (int32_t i = 0; i < L; ++i) {
            const int32_t k = TruncClamp(float(i) * primary[i], 0, L - 1);
            remapped[k] = int32_t(uint32_t(remapped[k]) + uint32_t(weighted[i]));
        }
        const float m1 = HistogramMean(remapped, L);
        // 5.8 Tone strengths for the three targets.
        for (int r = 0; r < kToneRows; ++r) {
            const int32_t target = (D::kTargetBase + D::kTargetStep * r) / 100;
            param.toneLevels[r][v] = ToneStrength(float(target), m0, m1);
        }
    }
    return 1;
}

}  // namespace

int32_t CollectBlobStatistics8(const ImageBlob& blob, ImageParam& param) { return Collect<uint8_t>(blob, param); }
int32_t CollectBlobStatistics16(const ImageBlob& blob, ImageParam& param) { return Collect<uint16_t>(blob, param); }

}  // namespace lx
