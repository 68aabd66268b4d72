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

// Every pixel of an image.
template <class T>
PixelSet<T> EveryPixel(const ImageView<const T>& image) {
    return {image.channel[0], image.channel[1], image.channel[2], std::max(image.height, 0),
            std::max(image.width, 0), image.rowStride, image.pixelStride};
}

// Pixels 0, 8, 16, ... of rows 0, 8, 16, ... of an interleaved blob (three
// samples per pixel, whatever the view's pixel stride says).
template <class T>
PixelSet<T> BlobSample(const ImageView<const T>& blob) {
    const int32_t rows = blob.height > 0 ? (blob.height - 1) / 8 + 1 : 0;
    const int32_t cols = blob.width > 0 ? (blob.width - 1) / 8 + 1 : 0;
    return {blob.channel[0], blob.channel[1], blob.channel[2], rows, cols, blob.rowStride * 8, 24};
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

// The channel histograms, then whether the image can be
// measured at all. A channel piled up against an end of its range cannot;
// nor can clipping in one channel only, and that the brightest, which is
// itself a cast that the grid (it leaves clipped pixels out) would misread.
template <class Scale>
bool ChannelsMeasurable(const PixelSet<typename Scale::Sample>& px, const Histograms& h) {
    constexpr int32_t kBins = Scale::kBins;
    for (float* hist : h.hist) std::fill(hist, hist + kBins, 0.0f);
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        h.hist[0][c0] += 1.0f;
        h.hist[1][c1] += 1.0f;
        h.hist[2][c2] += 1.0f;
    });
    auto usable = [&](int c) { return IsHistogramUsable(h.hist[c], 1.3f, 30.0f, 70.0f, kBins); };
    if (!usable(2) || !(usable(0) && usable(1))) return false;

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
            return false;
    }
    return true;
}

// The cell list, most populated cell first.
struct RankedCells {
    std::array<float, kChromaCells> weights;
    std::array<int32_t, kChromaCells> xs;
    std::array<int32_t, kChromaCells> ys;
};

// The chromaticity grid (built in the weight array: entry
// x * 101 + y of the row-major grid is the list's entry for (x, y)),
// smoothed and ranked. False when no pixel reaches the grid (nothing to
// measure a cast on; every ratio below would be 0/0), or in tint mode 2 when
// over 99.99 % of it has neither the second nor the third channel above the
// first (rows and columns 0..50).
template <class Scale>
bool RankCells(const PixelSet<typename Scale::Sample>& px, const ModePlan& plan, RankedCells& cells) {
    float* grid = cells.weights.data();
    const int64_t counted = plan.looseGrid ? FillGrid<Scale, true>(px, grid) : FillGrid<Scale, false>(px, grid);
    if (counted == 0) return false;
    if (plan.refuseFirstDominant) {
        float total = 0.0f, block = 0.0f;
        for (int32_t i = 0; i < kChromaCells; ++i) total += grid[i];
        for (int32_t x = 0; x <= kChromaNeutral; ++x)
            for (int32_t y = 0; y <= kChromaNeutral; ++y) block += grid[x * kChromaSide + y];
        if (block / total > 0.9999f) return false;
    }
    SmoothChromaGrid(grid, 1.5f);
    for (int32_t i = 0; i < kChromaCells; ++i) {
        cells.xs[i] = i / kChromaSide;
        cells.ys[i] = i % kChromaSide;
    }
    SortCells(cells.weights.data(), cells.xs.data(), cells.ys.data(), kChromaCells);
    std::reverse(cells.weights.begin(), cells.weights.end());
    std::reverse(cells.xs.begin(), cells.xs.end());
    std::reverse(cells.ys.begin(), cells.ys.end());
    return true;
}

// The candidate gains, from p % of the cells up in 0.1 %
// steps. p starts at 0.1 %, or (tint mode 2) by the grid's concentration: a
// grid whose mass sits in few cells (concentration up to 0.9) at 0.5 %, a
// spread-out one (down to 0.1) at 2.5 %.
std::array<GainTriple, kCandidates> Candidates(const RankedCells& cells, const ModePlan& plan) {
    float p = 0.1f;
    if (plan.adaptiveStart) {
        float total = 0.0f, topMass = 0.0f;
        for (int32_t i = 0; i < kChromaCells; ++i) total += cells.weights[i];
        for (int32_t i = 0; i < kTopCells; ++i) topMass += cells.weights[i];
        const float concentration = std::clamp(topMass / total, 0.100000024f, 0.9f);
        p = 2.5f - (concentration - 0.100000024f) * 2.0f / 0.79999995f;
    }
    std::array<GainTriple, kCandidates> candidates;
    for (int32_t k = 0; k < kCandidates; ++k) {
        candidates[k] = plan.nearestCell ? TintFromNearestCell(cells.xs.data(), cells.ys.data(), p, p)
                                         : TintFromCellBox(cells.xs.data(), cells.ys.data(), p);
        p += 0.1f;
    }
    return candidates;
}

// How far apart the channels end at the top, from the
// limits trimmed by the histograms, their logs, or both (the tighter).
template <class Scale>
float Tolerance(const ModePlan& plan, const Histograms& h) {
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
            for (int32_t b = 0; b < Scale::kBins; ++b) h.logHist[c][b] = math::Log(h.hist[c][b] + 1.0f);
        trimWith(h.logHist);
    }
    return 2.0f * spread;
}

// The analysis shared by every variant. True with the gains in `out`,
// false when it gives up (`out` untouched).
template <class Scale>
bool Analyse(const PixelSet<typename Scale::Sample>& px, const ModePlan& plan, const Histograms& h,
            GainTriple* out) {
    if (!ChannelsMeasurable<Scale>(px, h)) return false;
    RankedCells cells;
    if (!RankCells<Scale>(px, plan, cells)) return false;
    if (plan.centroid) {
        *out = TintFromCentroid(cells.weights.data(), cells.xs.data(), cells.ys.data());
        return true;
    }
    const std::array<GainTriple, kCandidates> candidates = Candidates(cells, plan);
    // The first candidate whose second and third gains both lie within the
    // tolerance of 1.0, or the first one.
    const float tolerance = Tolerance<Scale>(plan, h);
    int32_t chosen = 0;
    for (int32_t k = 0; k < kCandidates; ++k) {
        if (std::fabs(candidates[k].second - 1.0f) <= tolerance &&
            std::fabs(candidates[k].third - 1.0f) <= tolerance) {
            chosen = k;
            break;
        }
    }
    *out = candidates[chosen];
    return true;
}

// The gains of an analysis, or 1.0 when it gave up.
bool Report(bool result, const GainTriple& g, float gains[3]) {
    const GainTriple r = result ? g : GainTriple{};
    gains[0] = r.first;
    gains[1] = r.second;
    gains[2] = r.third;
    return result;
}

// 8-bit variants: every table in the call's own storage.
bool Analyse8(const PixelSet<uint8_t>& px, int32_t tintMode, float gains[3]) {
    std::array<std::array<float, Scale8::kBins>, 3> hist;
    std::array<std::array<float, Scale8::kBins>, 3> logHist;
    const Histograms h{{hist[0].data(), hist[1].data(), hist[2].data()},
                       {logHist[0].data(), logHist[1].data(), logHist[2].data()}};
    GainTriple g;
    const bool result = Analyse<Scale8>(px, PlanFor(tintMode), h, &g);
    return Report(result, g, gains);
}

}  // namespace

bool EstimateTintGains(const ImageView<const uint8_t>& image, int32_t tintMode, float gains[3]) {
    return Analyse8(EveryPixel(image), tintMode, gains);
}

bool EstimateTintGainsBlob8(const ImageView<const uint8_t>& blob, int32_t tintMode, float gains[3]) {
    return Analyse8(BlobSample(blob), tintMode, gains);
}

bool EstimateTintGainsBlob16(const ImageView<const uint16_t>& blob, int32_t tintMode, float gains[3]) {
    const ModePlan plan = PlanFor(tintMode);
    // Three histograms, then three log histograms when the mode trims by log.
    const int blocks = plan.logTrim ? 6 : 3;
    HostArray<float> tables[6];
    for (int b = 0; b < blocks; ++b) {
        tables[b] = HostArray<float>::Allocate(Scale16::kBins);
        if (!tables[b]) return Report(false, {}, gains);  // owners release the rest
    }
    const Histograms h{{tables[0].data(), tables[1].data(), tables[2].data()},
                       {tables[3].data(), tables[4].data(), tables[5].data()}};
    GainTriple g;
    const bool result = Analyse<Scale16>(BlobSample(blob), plan, h, &g);
    return Report(result, g, gains);
}

}  // namespace lx
