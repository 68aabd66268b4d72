// SPDX-License-Identifier: MIT
#include "analysis/estimate_tint_gains.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>

#include "analysis/analysis_helpers.h"
#include "host/host_buffers.h"
#include "math/float_math.h"

namespace lx {
namespace {

// Levels of the two sample widths; the 16-bit ones are the 8-bit ones times
// 256 (the darkest value and the trimming start keep their offset of one).
struct Scale8 {
    using Sample = uint8_t;
    static constexpr int32_t kBins = 256;
    static constexpr int32_t kTopBin = 255;
    static constexpr int32_t kLimit = 245;      // clipping threshold, starting channel limit
    static constexpr int32_t kDarkest = 31;     // darker values never reach the grid
    static constexpr int32_t kTrimStart = 30;   // lower end of the limit-trimming sums
    static constexpr float kMeanFactor = 0.00390625f;  // 1/256
};
struct Scale16 {
    using Sample = uint16_t;
    static constexpr int32_t kBins = 65536;
    static constexpr int32_t kTopBin = 65535;
    static constexpr int32_t kLimit = 62720;
    static constexpr int32_t kDarkest = 7681;
    static constexpr int32_t kTrimStart = 7680;
    static constexpr float kMeanFactor = 1.5258789e-5f;  // 1/65536
};

// The examined pixels: `rows` rows rowStep samples apart, in each `cols`
// pixels pixelStep samples apart, all offsets from the three channel
// pointers.
template <class T>
struct PixelSet {
    const T* first;
    const T* second;
    const T* third;
    int32_t rows;
    int32_t cols;
    std::ptrdiff_t rowStep;
    std::ptrdiff_t pixelStep;

    template <class F>
    void ForEach(F&& f) const {
        for (int32_t r = 0; r < rows; ++r) {
            const std::ptrdiff_t rowOffset = std::ptrdiff_t{r} * rowStep;
            for (int32_t c = 0; c < cols; ++c) {
                const std::ptrdiff_t o = rowOffset + std::ptrdiff_t{c} * pixelStep;
                f(int32_t{first[o]}, int32_t{second[o]}, int32_t{third[o]});
            }
        }
    }
};

// Every pixel of a strided image.
template <class T>
PixelSet<T> EveryPixel(const T* first, const T* second, const T* third, int32_t height,
                       int32_t width, int32_t rowStride, int32_t pixelStride) {
    return {first, second, third, std::max(height, 0), std::max(width, 0), rowStride, pixelStride};
}

// Pixels 0, 8, 16, ... of rows 0, 8, 16, ... of an interleaved blob (three
// samples per pixel). rowStride is in samples.
template <class T>
PixelSet<T> BlobSample(const T* first, const T* second, const T* third, int32_t height,
                       int32_t width, int32_t rowStride) {
    const int32_t rows = height > 0 ? (height - 1) / 8 + 1 : 0;
    const int32_t cols = width > 0 ? (width - 1) / 8 + 1 : 0;
    return {first, second, third, rows, cols, std::ptrdiff_t{rowStride} * 8, 24};
}

// What a tint mode does at each step where the modes differ.
struct ModePlan {
    bool centroid = false;        // gains from the centroid of the grid, no candidates
    bool nearestCell = false;     // candidates from TintFromNearestCell, else TintFromCellBox
    bool looseGrid = false;       // pixels count unless all three channels pass their limits
    bool refuseFirstDominant = false;  // give up when the first channel dominates the grid
    bool adaptiveStart = false;   // first candidate's percentage from the grid's concentration
    bool linearTrim = false;      // channel limits trimmed by the histograms
    bool logTrim = false;         // channel limits trimmed by the log histograms
};

ModePlan PlanFor(int32_t tintMode) {
    ModePlan p;
    switch (tintMode) {
        case 1:
            p.logTrim = true;
            break;
        case 2:
            p.looseGrid = p.refuseFirstDominant = p.adaptiveStart = true;
            p.linearTrim = p.logTrim = true;
            break;
        case 3:
            p.centroid = true;
            break;
        default:
            // 0 and below: nearest cell; above 3: as 0 with box candidates.
            p.nearestCell = tintMode <= 0;
            p.linearTrim = true;
            break;
    }
    return p;
}

// The channel histograms (kBins floats each) and, when the plan trims by log,
// room for the log histograms; owned by the caller of Analyse.
struct Histograms {
    float* hist[3];
    float* logHist[3];
};

constexpr int32_t kCandidates = 100;
constexpr int32_t kTopCells = 102;  // about 1 % of the grid, for the concentration

// floor of a non-negative count table entry as an integer (the tables hold
// counts or logs of counts, far below the limit; the guard keeps the
// conversion defined whatever they hold).
int64_t FloorCount(float v) {
    if (!(v >= 1.0f)) return 0;
    return static_cast<int64_t>(std::min(v, 1e15f));
}

// Lowers the starting channel limit by the mass near the top of table X:
// S is the mass from the trimming start up to the limit; the limit steps
// down from the top until the bins passed hold S/200 (0.5 %), never below
// the trimming start.
template <class Scale>
int32_t TrimmedLimit(const float* x) {
    constexpr int32_t s = Scale::kTrimStart;
    int32_t limit = Scale::kLimit;
    int64_t mass = 0;
    for (int32_t i = s; i <= limit; ++i) mass += FloorCount(x[i]);
    const int64_t target = mass / 200;
    if (target > 0) {
        int64_t sum = 0;
        int32_t i = limit;
        do {
            if (i <= s) break;
            sum += FloorCount(x[i]);
            --limit;
            --i;
        } while (sum < target);
    }
    return limit;
}

// How far apart the channels end: the larger relative offset of the third
// and the second channel's limit from the first's. Limits never drop below
// the trimming start, so nothing divides by zero.
float LimitSpread(const int32_t* limit) {
    const float l0 = float(limit[0]);
    const float third = std::fabs(1.0f / (float(limit[2]) / l0) - 1.0f);
    const float second = std::fabs(1.0f / (float(limit[1]) / l0) - 1.0f);
    return std::max(third, second);
}

// Chromaticity coordinate of value a against reference b, 0..100 after the
// scaling by 50: a/b when a is the weaker, 2 - b/a when it is the stronger.
// Both values are at least the darkest counted level, so neither divides by
// zero and the result, between 31/255 and 2 - 31/255 (16-bit: 7681/65535
// and 2 - 7681/65535), keeps the cell between 5 and 94.
inline int32_t ChromaCoordinate(int32_t a, int32_t b) {
    const float r = b >= a ? float(a) / float(b) : 2.0f - float(b) / float(a);
    return static_cast<int32_t>(50.0f * r);
}

// Adds the counted pixels to the grid; returns how many were counted.
template <class Scale, bool kLoose>
int64_t FillGrid(const PixelSet<typename Scale::Sample>& px, float* grid) {
    std::fill(grid, grid + kChromaCells, 0.0f);
    int64_t counted = 0;
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        constexpr int32_t lo = Scale::kDarkest, lim = Scale::kLimit;
        if (c0 < lo || c1 < lo || c2 < lo) return;
        if (kLoose) {
            if (c0 > lim && c1 > lim && c2 > lim) return;
        } else {
            if (c0 > lim || c1 > lim || c2 > lim) return;
        }
        grid[ChromaCoordinate(c1, c0) * kChromaSide + ChromaCoordinate(c2, c0)] += 1.0f;
        ++counted;
    });
    return counted;
}

// The analysis shared by every variant. Returns 1 with the gains in `out`,
// or 0 when it gives up (`out` untouched).
template <class Scale>
int Analyse(const PixelSet<typename Scale::Sample>& px, const ModePlan& plan, const Histograms& h,
            GainTriple* out) {
    constexpr int32_t kBins = Scale::kBins;

    // Channel histograms.
    for (float* hist : h.hist) std::fill(hist, hist + kBins, 0.0f);
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        h.hist[0][c0] += 1.0f;
        h.hist[1][c1] += 1.0f;
        h.hist[2][c2] += 1.0f;
    });

    // A channel piled up against an end of its range cannot be measured.
    auto usable = [&](int c) { return IsHistogramUsable(h.hist[c], 1.3f, 30.0f, 70.0f, kBins) != 0; };
    if (!usable(2) || !(usable(0) && usable(1))) return 0;

    // Clipping in one channel only, and that the brightest, is itself a cast
    // that the grid (which leaves clipped pixels out) would misread.
    int32_t top[3];
    float mean[3];
    for (int c = 0; c < 3; ++c) {
        const float* hist = h.hist[c];
        int32_t i = Scale::kTopBin;
        while (i > 0 && hist[i] <= 0.5f) --i;
        top[c] = i;
        float sum = 0.0f;
        for (int32_t b = 0; b < kBins; ++b) sum += float(b) * hist[b];
        mean[c] = sum * Scale::kMeanFactor;
    }
    for (int c = 0; c < 3; ++c) {
        const int o1 = (c + 1) % 3, o2 = (c + 2) % 3;
        if (top[c] == Scale::kTopBin && top[o1] < Scale::kLimit && top[o2] < Scale::kLimit &&
            mean[c] > mean[o1] && mean[c] > mean[o2])
            return 0;
    }

    // The grid is built in the weight array of the cell list: entry
    // x * 101 + y of the row-major grid is the cell list's entry for (x, y).
    std::array<float, kChromaCells> weights;
    std::array<int32_t, kChromaCells> xs;
    std::array<int32_t, kChromaCells> ys;
    float* grid = weights.data();
    const int64_t counted = plan.looseGrid ? FillGrid<Scale, true>(px, grid) : FillGrid<Scale, false>(px, grid);
    // No pixel in the grid: nothing to measure a cast on, and every ratio
    // below would be 0/0. Treated like any other refusal (gains 1.0, 0).
    if (counted == 0) return 0;

    if (plan.refuseFirstDominant) {
        // Share of the grid where neither the second nor the third channel
        // exceeds the first (rows and columns 0..50).
        float total = 0.0f, block = 0.0f;
        for (int32_t i = 0; i < kChromaCells; ++i) total += grid[i];
        for (int32_t x = 0; x <= kChromaNeutral; ++x)
            for (int32_t y = 0; y <= kChromaNeutral; ++y) block += grid[x * kChromaSide + y];
        if (block / total > 0.9999f) return 0;
    }

    // Rank the cells from the most to the least populated.
    SmoothChromaGrid(grid, 1.5f);
    for (int32_t i = 0; i < kChromaCells; ++i) {
        xs[i] = i / kChromaSide;
        ys[i] = i % kChromaSide;
    }
    SortCells(weights.data(), xs.data(), ys.data(), kChromaCells);
    std::reverse(weights.begin(), weights.end());
    std::reverse(xs.begin(), xs.end());
    std::reverse(ys.begin(), ys.end());

    if (plan.centroid) {
        *out = TintFromCentroid(weights.data(), xs.data(), ys.data());
        return 1;
    }

    // Percentage of the cells the first candidate looks at: a grid whose
    // mass sits in few cells (concentration up to 0.9) starts at 0.5 %, a
    // spread-out one (down to 0.1) at 2.5 %.
    float p = 0.1f;
    if (plan.adaptiveStart) {
        float total = 0.0f, topMass = 0.0f;
        for (int32_t i = 0; i < kChromaCells; ++i) total += weights[i];
        for (int32_t i = 0; i < kTopCells; ++i) topMass += weights[i];
        const float concentration = std::clamp(topMass / total, 0.100000024f, 0.9f);
        p = 2.5f - (concentration - 0.100000024f) * 2.0f / 0.79999995f;
    }
    std::array<GainTriple, kCandidates> candidates;
    for (int32_t k = 0; k < kCandidates; ++k) {
        candidates[k] = plan.nearestCell ? TintFromNearestCell(xs.data(), ys.data(), p, p)
                                         : TintFromCellBox(xs.data(), ys.data(), p);
        p += 0.1f;
    }

    // Tolerance from where the channels end at the top.
    float spread = 0.0f;
    bool haveSpread = false;
    auto trimWith = [&](float* const* tables) {
        int32_t limit[3];
        for (int c = 0; c < 3; ++c) limit[c] = TrimmedLimit<Scale>(tables[c]);
        const float s = LimitSpread(limit);
        spread = haveSpread ? std::min(spread, s) : s;
        haveSpread = true;
    };
    if (plan.linearTrim) trimWith(h.hist);
    if (plan.logTrim) {
        for (int c = 0; c < 3; ++c)
            for (int32_t b = 0; b < kBins; ++b) h.logHist[c][b] = math::Log(h.hist[c][b] + 1.0f);
        trimWith(h.logHist);
    }

    const float tolerance = 2.0f * spread;
    int32_t chosen = 0;
    for (int32_t k = 0; k < kCandidates; ++k) {
        if (std::fabs(candidates[k].second - 1.0f) <= tolerance &&
            std::fabs(candidates[k].third - 1.0f) <= tolerance) {
            chosen = k;
            break;
        }
    }
    *out = candidates[chosen];
    return 1;
}

int Report(int result, const GainTriple& g, float* gain1, float* gain2, float* gain3) {
    const GainTriple r = result ? g : GainTriple{};
    *gain1 = r.first;
    *gain2 = r.second;
    *gain3 = r.third;
    return result;
}

// 8-bit variants: every table in the call's own storage.
int Analyse8(const PixelSet<uint8_t>& px, int32_t tintMode, float* gain1, float* gain2, float* gain3) {
    std::array<std::array<float, Scale8::kBins>, 3> hist;
    std::array<std::array<float, Scale8::kBins>, 3> logHist;
    const Histograms h{{hist[0].data(), hist[1].data(), hist[2].data()},
                       {logHist[0].data(), logHist[1].data(), logHist[2].data()}};
    GainTriple g;
    const int result = Analyse<Scale8>(px, PlanFor(tintMode), h, &g);
    return Report(result, g, gain1, gain2, gain3);
}

}  // namespace

int EstimateTintGains(const uint8_t* first, const uint8_t* second, const uint8_t* third,
                      int32_t height, int32_t width, int32_t rowStride, int32_t pixelStride,
                      int32_t tintMode, float* gain1, float* gain2, float* gain3) {
    return Analyse8(EveryPixel(first, second, third, height, width, rowStride, pixelStride), tintMode,
                    gain1, gain2, gain3);
}

int EstimateTintGainsBlob8(const uint8_t* first, const uint8_t* second, const uint8_t* third,
                           int32_t height, int32_t width, int32_t rowStride, int32_t tintMode,
                           float* gain1, float* gain2, float* gain3) {
    return Analyse8(BlobSample(first, second, third, height, width, rowStride), tintMode, gain1,
                    gain2, gain3);
}

int EstimateTintGainsBlob16(const uint16_t* first, const uint16_t* second, const uint16_t* third,
                            int32_t height, int32_t width, int32_t rowStride, int32_t tintMode,
                            float* gain1, float* gain2, float* gain3) {
    const ModePlan plan = PlanFor(tintMode);
    // Three histograms, then three log histograms when the mode trims by log.
    const int blocks = plan.logTrim ? 6 : 3;
    HostBuffer tables[6];
    for (int b = 0; b < blocks; ++b) {
        tables[b] = HostBuffer::Allocate(int64_t{Scale16::kBins} * int64_t{sizeof(float)});
        if (!tables[b]) return Report(0, {}, gain1, gain2, gain3);  // owners release the rest
    }
    const Histograms h{{tables[0].data<float>(), tables[1].data<float>(), tables[2].data<float>()},
                       {tables[3].data<float>(), tables[4].data<float>(), tables[5].data<float>()}};
    GainTriple g;
    const int result =
        Analyse<Scale16>(BlobSample(first, second, third, height, width, rowStride), plan, h, &g);
    return Report(result, g, gain1, gain2, gain3);
}

}  // namespace lx
