// SPDX-License-Identifier: MIT
#include "analysis/blob_statistics.h"

#include <algorithm>
#include <cstring>
#include <type_traits>

#include "analysis/blob_histograms.h"
#include "host/host_buffers.h"
#include "image/sample_depth.h"
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

template <class T>
bool Collect(const ImageBlob& blob, ImageParam& param) {
    using D = SampleDepth<T>;
    constexpr int32_t L = D::kLevels;
    if (blob.pixels == nullptr || blob.width <= 0 || blob.height <= 0) return false;
    const int64_t N = int64_t{blob.width} * blob.height;

    StatTables t;
    if (!t.Allocate(L)) return false;
    // The full-strength log lift of the knee builder. Its result is not
    // examined: a builder short of host memory leaves the tables as they
    // were, so the primary table starts as the identity (gain 1.0), which
    // lifts nothing and makes every tone strength of such a call 0.
    std::fill_n(t.primary.data(), L, 1.0f);
    BuildKneeGainTables(t.primary.data(), t.secondary.data(), 4 * D::kScale, 1, 100, 0.0f, 3, 0.6f, L);

    VariantKey keys[kStatVariants];
    for (int v = 0; v < kStatVariants; ++v) {
        keys[v] = KeyOf(param, v);
        int32_t* maxHist = t.maxHist[v].data();
        int32_t* allHist = t.allHist[v].data();
        // A variant that repeats an earlier one (every untinted variant
        // repeats variant 0; two tint modes often find the same cast) takes
        // its histograms instead of another pass over the blob.
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

        ShadowPercentiles<L>(allHist, 3 * N / 1000, param.shadowPercentiles[v]);
        param.whitePoint[v] = WhitePoint<L>(t.copy[v].data(), N);
        const LiftMeans means =
            TrialLiftMeans(t.copy[v].data(), L, D::kLevelStep, t.primary.data(), t.weighted.data(), t.remapped.data());
        // Targets 140.25, 153 and 165.75 levels, truncated: 140, 153, 165
        // (16-bit: 35904, 39168, 42432).
        for (int r = 0; r < kToneRows; ++r) {
            const int32_t target = (14025 * D::kScale + 1275 * D::kScale * r) / 100;
            param.toneLevels[r][v] = ToneLevel(float(target), means);
        }
    }
    return true;
}

}  // namespace

bool CollectBlobStatistics8(const ImageBlob& blob, ImageParam& param) { return Collect<uint8_t>(blob, param); }
bool CollectBlobStatistics16(const ImageBlob& blob, ImageParam& param) { return Collect<uint16_t>(blob, param); }

}  // namespace lx
