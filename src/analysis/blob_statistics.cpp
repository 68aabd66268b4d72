// SPDX-License-Identifier: MIT
#include "analysis/blob_statistics.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "analysis/blob_histograms.h"
#include "analysis/blob_statistics_twins.h"
#include "host/host_buffers.h"
#include "image/sample_depth.h"
#include "simd/kernels.h"
#include "stages/knee_gain_tables.h"
#include "stages/tint_factors.h"
#include "stages/tone_strength.h"

namespace lx {
namespace {

// The working memory of one call, every table of `levels` entries from the
// host: per variant the histogram of the pixel maxima, a copy of it and the
// histogram of all samples, then the knee tables and two scratch tables.
// Taken variant by variant, in that order, so that a shortage stops early.
struct StatTables {
    HostArray<int32_t> copy[kStatVariants], maxHist[kStatVariants], allHist[kStatVariants];
    HostArray<float> primary, secondary;
    HostArray<int32_t> weighted, remapped;

    // Stops at the first block the host refuses; the owners release the rest.
    bool Allocate(int32_t levels) {
        auto take = [levels](auto& array) {
            array = std::remove_reference_t<decltype(array)>::Allocate(levels);
            return bool(array);
        };
        for (int v = 0; v < kStatVariants; ++v)
            if (!take(copy[v]) || !take(maxHist[v]) || !take(allHist[v])) return false;
        return take(primary) && take(secondary) && take(weighted) && take(remapped);
    }
};

// What a variant's histograms depend on: the tint switch and the factors.
struct VariantKey {
    bool tinted = false;
    int64_t factors[3] = {1000, 1000, 1000};  // red, green, blue, per mille
    bool operator==(const VariantKey& o) const {
        return tinted == o.tinted && std::equal(factors, factors + 3, o.factors);
    }
};

VariantKey KeyOf(const ImageParam& param, int v) {
    VariantKey key;
    key.tinted = v >= 1 && param.needTint[v - 1] != 0;
    if (key.tinted) {
        int32_t k[3];
        TintFactorsPerMille(param.tintGains[v - 1], k);
        for (int i = 0; i < 3; ++i) key.factors[i] = k[i];
    }
    return key;
}

// The lowest level whose running count of all samples passes each of the
// fifty targets (j + 1) x step.
template <int32_t L>
void ShadowPercentiles(const int32_t* allHist, int64_t step, int32_t* out) {
    int64_t sum = 0;
    int32_t k = 0;
    for (int j = 0; j < kShadowPercentiles; ++j) {
        const int64_t target = (j + 1) * step;
        while (k < L - 1 && sum + allHist[k] <= target) sum += allHist[k++];
        out[j] = k;
    }
}

// The highest level k such that more than N / 1000 pixel maxima lie at k or
// above (0 when none).
template <int32_t L>
int32_t WhitePoint(const int32_t* maxHist, int64_t pixels) {
    const int64_t whiteLimit = pixels - pixels / 1000;
    int64_t remaining = pixels;
    int32_t k = L - 1;
    for (; k >= 0; --k) {
        remaining -= maxHist[k];
        if (remaining < whiteLimit) break;
    }
    return std::max(k, 0);
}

// The statistics of variant v from its histograms.
template <class T>
void VariantStatistics(const StatTables& t, int v, int64_t N, const int32_t* maxHist, const int32_t* allHist,
                       ImageParam& param) {
    using D = SampleDepth<T>;
    constexpr int32_t L = D::kLevels;
    ShadowPercentiles<L>(allHist, 3 * N / 1000, param.shadowPercentiles[v]);
    param.whitePoint[v] = WhitePoint<L>(maxHist, N);
    const LiftMeans means =
        TrialLiftMeans(maxHist, L, D::kLevelStep, t.primary.data(), t.weighted.data(), t.remapped.data());
    // Targets 140.25, 153 and 165.75 levels, truncated: 140, 153, 165
    // (16-bit: 35904, 39168, 42432).
    for (int r = 0; r < kToneRows; ++r) {
        const int32_t target = (14025 * D::kScale + 1275 * D::kScale * r) / 100;
        param.toneLevels[r][v] = ToneLevel(float(target), means);
    }
}

// Copies the statistics of variant u to variant v.
void CopyVariant(ImageParam& param, int u, int v) {
    std::copy_n(param.shadowPercentiles[u], kShadowPercentiles, param.shadowPercentiles[v]);
    param.whitePoint[v] = param.whitePoint[u];
    for (int r = 0; r < kToneRows; ++r) param.toneLevels[r][v] = param.toneLevels[r][u];
}

// Takes the working memory and fills the knee tables; false when the host
// refuses a block.
template <class T>
bool Prepare(const ImageBlob& blob, StatTables& t) {
    using D = SampleDepth<T>;
    constexpr int32_t L = D::kLevels;
    if (blob.pixels == nullptr || blob.width <= 0 || blob.height <= 0) return false;
    if (!t.Allocate(L)) return false;
    // The full-strength log lift of the knee builder. Its result is not
    // examined: a builder short of host memory leaves the tables as they
    // were, so the primary table starts as the identity (gain 1.0), which
    // lifts nothing and makes every tone strength of such a call 0.
    std::fill_n(t.primary.data(), L, 1.0f);
    BuildKneeGainTables(t.primary.data(), t.secondary.data(), 4 * D::kScale, 1, 100, 0.0f, 3, 0.6f, L);
    return true;
}

// One pass over the blob per variant (a variant that repeats an earlier
// one takes its histograms), the maxima copied for the white point and the
// weighted histogram.
template <class T>
bool CollectPlain(const ImageBlob& blob, ImageParam& param) {
    using D = SampleDepth<T>;
    constexpr int32_t L = D::kLevels;
    StatTables t;
    if (!Prepare<T>(blob, t)) return false;
    const int64_t N = int64_t{blob.width} * blob.height;
    VariantKey keys[kStatVariants];
    for (int v = 0; v < kStatVariants; ++v) {
        keys[v] = KeyOf(param, v);
        int32_t* maxHist = t.maxHist[v].data();
        int32_t* allHist = t.allHist[v].data();
        const int u = int(std::find(keys, keys + v, keys[v]) - keys);
        if (u < v) {
            std::memcpy(maxHist, t.maxHist[u].data(), sizeof(int32_t) * L);
            std::memcpy(allHist, t.allHist[u].data(), sizeof(int32_t) * L);
        } else {
            std::fill_n(maxHist, L, 0);
            std::fill_n(allHist, L, 0);
            if constexpr (D::kWide) FillBlobHistograms16(blob, keys[v].tinted, keys[v].factors, maxHist, allHist);
            else FillBlobHistograms8Tabled(blob, keys[v].tinted, keys[v].factors, maxHist, allHist);
        }
        std::memcpy(t.copy[v].data(), maxHist, sizeof(int32_t) * L);
        VariantStatistics<T>(t, v, N, t.copy[v].data(), allHist, param);
    }
    return true;
}

// Every distinct variant counted in one walk over the blob, read with the
// black level taken off; a variant that repeats an earlier one (every
// untinted variant repeats variant 0; two tint modes often find the same
// cast) takes that variant's statistics. The maxima are read where they
// were counted, so the copies serve as scratch for the walk's channel
// counts.
template <class T>
bool CollectFast(const ImageBlob& blob, int32_t black, ImageParam& param) {
    using D = SampleDepth<T>;
    StatTables t;
    if (!Prepare<T>(blob, t)) return false;
    const int64_t N = int64_t{blob.width} * blob.height;

    VariantKey keys[kStatVariants];
    int first[kStatVariants];  // the earliest variant with the same key
    VariantHistograms walk[kStatVariants];
    int count = 0;
    for (int v = 0; v < kStatVariants; ++v) {
        keys[v] = KeyOf(param, v);
        first[v] = int(std::find(keys, keys + v, keys[v]) - keys);
        if (first[v] < v) continue;
        VariantHistograms& h = walk[count++];
        h.tinted = keys[v].tinted;
        std::copy_n(keys[v].factors, 3, h.factors);
        h.maxHist = t.maxHist[v].data();
        h.allHist = t.allHist[v].data();
    }
    if constexpr (D::kWide) {
        int32_t* const channels[3] = {t.copy[0].data(), t.copy[1].data(), t.copy[2].data()};
        FillVariantHistograms16(blob, black, walk, count, channels);
    } else {
        FillVariantHistograms8(blob, black, walk, count);
    }
    for (int v = 0; v < kStatVariants; ++v) {
        if (first[v] < v) CopyVariant(param, first[v], v);
        else VariantStatistics<T>(t, v, N, t.maxHist[v].data(), t.allHist[v].data(), param);
    }
    return true;
}

}  // namespace

bool CollectBlobStatistics8(const ImageBlob& blob, ImageParam& param) {
    return simd::ReferenceKernels() ? CollectPlain<uint8_t>(blob, param) : CollectFast<uint8_t>(blob, 0, param);
}
bool CollectBlobStatistics16(const ImageBlob& blob, ImageParam& param) {
    return simd::ReferenceKernels() ? CollectPlain<uint16_t>(blob, param) : CollectFast<uint16_t>(blob, 0, param);
}
bool CollectBlobStatistics8Plain(const ImageBlob& blob, ImageParam& param) { return CollectPlain<uint8_t>(blob, param); }
bool CollectBlobStatistics16Plain(const ImageBlob& blob, ImageParam& param) {
    return CollectPlain<uint16_t>(blob, param);
}
bool CollectBlobStatistics8Fast(const ImageBlob& blob, int32_t black, ImageParam& param) {
    return CollectFast<uint8_t>(blob, black, param);
}
bool CollectBlobStatistics16Fast(const ImageBlob& blob, int32_t black, ImageParam& param) {
    return CollectFast<uint16_t>(blob, black, param);
}

}  // namespace lx
