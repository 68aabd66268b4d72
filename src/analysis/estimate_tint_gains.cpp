// SPDX-License-Identifier: MIT
#include "analysis/estimate_tint_gains.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "analysis/analysis_helpers.h"
#include "analysis/image_param.h"
#include "host/host_buffers.h"
#include "math/float_math.h"
#include "stages/count_as_float.h"

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
// pointers; every sample read lowered by `black`.
template <class T>
struct PixelSet {
    const T* first;
    const T* second;
    const T* third;
    int32_t rows;
    int32_t cols;
    std::ptrdiff_t rowStep;
    std::ptrdiff_t pixelStep;
    int32_t black = 0;

    template <class F>
    void ForEach(F&& f) const {
        for (int32_t r = 0; r < rows; ++r) {
            const std::ptrdiff_t rowOffset = std::ptrdiff_t{r} * rowStep;
            for (int32_t c = 0; c < cols; ++c) {
                const std::ptrdiff_t o = rowOffset + std::ptrdiff_t{c} * pixelStep;
                f(int32_t{first[o]} - black, int32_t{second[o]} - black, int32_t{third[o]} - black);
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
PixelSet<T> BlobSample(const ImageView<const T>& blob, int32_t black = 0) {
    const int32_t rows = blob.height > 0 ? (blob.height - 1) / 8 + 1 : 0;
    const int32_t cols = blob.width > 0 ? (blob.width - 1) / 8 + 1 : 0;
    return {blob.channel[0], blob.channel[1], blob.channel[2], rows, cols, blob.rowStride * 8, 24, black};
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

// Lowers the starting channel limit by the mass near the top of table X,
// floor(X[i]) given by mass(i): S is the mass from the trimming start up to
// the limit; the limit steps down from the top until the bins passed hold
// S/200 (0.5 %), never below the trimming start.
template <class Scale, class Mass>
int32_t TrimmedLimit(const Mass& mass) {
    constexpr int32_t s = Scale::kTrimStart;
    int32_t limit = Scale::kLimit;
    int64_t total = 0;
    for (int32_t i = s; i <= limit; ++i) total += mass(i);
    const int64_t target = total / 200;
    if (target > 0) {
        int64_t sum = 0;
        int32_t i = limit;
        do {
            if (i <= s) break;
            sum += mass(i);
            --limit;
            --i;
        } while (sum < target);
    }
    return limit;
}

// floor(ln(count + 1)) as FloorCount(math::Log(count + 1)) gives it,
// without a logarithm per bin. Log is correctly rounded and so never
// decreases: Log(x) >= k exactly when x reaches the smallest float whose
// Log is k or more, and those thresholds (one per k up to the logarithm of
// the largest count) are found once, by bisection over the ordered bit
// patterns of the positive floats.
class FloorLogCount {
public:
    explicit FloorLogCount(float largestCount) {
        const float top = largestCount + 1.0f;
        while (count_ < kMaxK && math::Log(top) >= float(count_ + 1)) {
            const float k = float(count_ + 1);
            uint32_t lo = FloatBits(1.0f), hi = FloatBits(top);  // Log(lo) = 0 < k <= Log(hi)
            while (hi - lo > 1) {
                const uint32_t mid = lo + (hi - lo) / 2;
                (math::Log(BitsFloat(mid)) >= k ? hi : lo) = mid;
            }
            thresholds_[count_++] = BitsFloat(hi);
        }
    }

    // For counts up to the largest one given.
    int64_t operator()(float count) const {
        const float x = count + 1.0f;
        int64_t k = 0;
        while (k < count_ && x >= thresholds_[k]) ++k;
        return k;
    }

private:
    static constexpr int kMaxK = 64;  // ln of the largest float is 88.7; counts stop far below e^64
    static uint32_t FloatBits(float f) {
        uint32_t u;
        std::memcpy(&u, &f, sizeof u);
        return u;
    }
    static float BitsFloat(uint32_t u) {
        float f;
        std::memcpy(&f, &u, sizeof f);
        return f;
    }
    float thresholds_[kMaxK] = {};
    int count_ = 0;
};

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

// The grid cell a pixel counts in, or -1 when it is left out: too dark in
// any channel, or above the limit in any channel (loose grid: in all three).
template <class Scale>
int32_t GridCell(int32_t c0, int32_t c1, int32_t c2, bool loose) {
    constexpr int32_t lo = Scale::kDarkest, lim = Scale::kLimit;
    if (c0 < lo || c1 < lo || c2 < lo) return -1;
    if (loose ? (c0 > lim && c1 > lim && c2 > lim) : (c0 > lim || c1 > lim || c2 > lim)) return -1;
    return ChromaCoordinate(c1, c0) * kChromaSide + ChromaCoordinate(c2, c0);
}

// Adds the counted pixels to the grid; returns how many were counted.
template <class Scale, bool kLoose>
int64_t FillGrid(const PixelSet<typename Scale::Sample>& px, float* grid) {
    std::fill(grid, grid + kChromaCells, 0.0f);
    int64_t counted = 0;
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        const int32_t cell = GridCell<Scale>(c0, c1, c2, kLoose);
        if (cell < 0) return;
        grid[cell] += 1.0f;
        ++counted;
    });
    return counted;
}

// The same from counts made under the mode's rule: each cell the float that
// adding 1.0 once per pixel gives.
template <class Scale, bool kLoose>
int64_t FillGrid(const TintCounts& counts, float* grid) {
    uint64_t counted = 0;
    for (int32_t i = 0; i < kChromaCells; ++i) {
        grid[i] = CountAsFloatSum(counts.cells[i]);
        counted += counts.cells[i];
    }
    return static_cast<int64_t>(counted);
}

// The channel histograms: 1.0 added per pixel to the bin of its level.
template <class T>
void FillHistograms(const PixelSet<T>& px, const Histograms& h, int32_t bins) {
    for (float* hist : h.hist) std::fill(hist, hist + bins, 0.0f);
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        h.hist[0][c0] += 1.0f;
        h.hist[1][c1] += 1.0f;
        h.hist[2][c2] += 1.0f;
    });
}
void FillHistograms(const TintCounts& counts, const Histograms& h, int32_t /*bins: 256*/) {
    for (int c = 0; c < 3; ++c)
        for (int32_t b = 0; b < 256; ++b) h.hist[c][b] = CountAsFloatSum(counts.levels[c][b]);
}

// Whether the image can be measured at all, from its channel histograms. A
// channel piled up against an end of its range cannot; nor can clipping in
// one channel only, and that the brightest, which is itself a cast that the
// grid (it leaves clipped pixels out) would misread.
template <class Scale>
bool MeasurableHistograms(const Histograms& h) {
    constexpr int32_t kBins = Scale::kBins;
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

// Smooths the grid held in the weight array (entry x * 101 + y of the
// row-major grid is the list's entry for (x, y)) and ranks it. False in tint
// mode 2 when over 99.99 % of the grid has neither the second nor the third
// channel above the first (rows and columns 0..50).
bool RankGrid(const ModePlan& plan, RankedCells& cells) {
    float* grid = cells.weights.data();
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

// The chromaticity grid, smoothed and ranked. False when no pixel reaches the
// grid (nothing to measure a cast on; every ratio below would be 0/0), or
// when RankGrid refuses it.
template <class Scale, class Source>
bool RankCells(const Source& px, const ModePlan& plan, RankedCells& cells) {
    float* grid = cells.weights.data();
    const int64_t counted = plan.looseGrid ? FillGrid<Scale, true>(px, grid) : FillGrid<Scale, false>(px, grid);
    if (counted == 0) return false;
    return RankGrid(plan, cells);
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
        for (int c = 0; c < 3; ++c)
            limit[c] = TrimmedLimit<Scale>([t = tables[c]](int32_t i) { return FloorCount(t[i]); });
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

// The first candidate whose second and third gains both lie within the
// tolerance of 1.0, or the first one.
GainTriple Select(const std::array<GainTriple, kCandidates>& candidates, float tolerance) {
    for (int32_t k = 0; k < kCandidates; ++k) {
        if (std::fabs(candidates[k].second - 1.0f) <= tolerance && std::fabs(candidates[k].third - 1.0f) <= tolerance)
            return candidates[k];
    }
    return candidates[0];
}

// The analysis shared by every variant. True with the gains in `out`,
// false when it gives up (`out` untouched).
template <class Scale, class Source>
bool Analyse(const Source& px, const ModePlan& plan, const Histograms& h, GainTriple* out) {
    FillHistograms(px, h, Scale::kBins);
    if (!MeasurableHistograms<Scale>(h)) return false;
    RankedCells cells;
    if (!RankCells<Scale>(px, plan, cells)) return false;
    if (plan.centroid) {
        *out = TintFromCentroid(cells.weights.data(), cells.xs.data(), cells.ys.data());
        return true;
    }
    const std::array<GainTriple, kCandidates> candidates = Candidates(cells, plan);
    *out = Select(candidates, Tolerance<Scale>(plan, h));
    return true;
}

// The four tint modes 0..3 of one image at once, each giving exactly what
// Analyse gives it: one pass over the pixels counts the histograms and both
// grids (modes 0, 1 and 3 count pixels within the limits, mode 2 also
// pixels above them in one or two channels); the strict grid is ranked once
// for modes 0, 1 and 3, the loose one for mode 2; each channel limit is
// trimmed once by its histogram and once by its log histogram, the logs
// taken as they are read. `h.hist` receives the histograms; the log tables
// are not used. `cells` and `loose` are scratch.
template <class Scale>
void AnalyseAllModes(const PixelSet<typename Scale::Sample>& px, const Histograms& h, RankedCells& cells,
                     float* loose, GainTriple out[kTintModes], bool result[kTintModes]) {
    for (int m = 0; m < kTintModes; ++m) result[m] = false;
    constexpr int32_t kBins = Scale::kBins;
    for (float* hist : h.hist) std::fill(hist, hist + kBins, 0.0f);
    float* strict = cells.weights.data();
    std::fill(strict, strict + kChromaCells, 0.0f);
    std::fill(loose, loose + kChromaCells, 0.0f);
    int64_t strictCount = 0, looseCount = 0;
    px.ForEach([&](int32_t c0, int32_t c1, int32_t c2) {
        h.hist[0][c0] += 1.0f;
        h.hist[1][c1] += 1.0f;
        h.hist[2][c2] += 1.0f;
        constexpr int32_t lo = Scale::kDarkest, lim = Scale::kLimit;
        if (c0 < lo || c1 < lo || c2 < lo) return;
        const bool inStrict = c0 <= lim && c1 <= lim && c2 <= lim;
        const bool inLoose = c0 <= lim || c1 <= lim || c2 <= lim;
        if (!inLoose) return;
        const int32_t cell = ChromaCoordinate(c1, c0) * kChromaSide + ChromaCoordinate(c2, c0);
        loose[cell] += 1.0f;
        ++looseCount;
        if (inStrict) {
            strict[cell] += 1.0f;
            ++strictCount;
        }
    });
    if (!MeasurableHistograms<Scale>(h)) return;

    float largest = 0.0f;
    for (const float* hist : h.hist) largest = std::max(largest, *std::max_element(hist, hist + kBins));
    const FloorLogCount floorLog(largest);
    int32_t linear[3], logged[3];
    for (int c = 0; c < 3; ++c) {
        const float* hist = h.hist[c];
        linear[c] = TrimmedLimit<Scale>([hist](int32_t i) { return FloorCount(hist[i]); });
        logged[c] = TrimmedLimit<Scale>([hist, &floorLog](int32_t i) { return floorLog(hist[i]); });
    }
    const float linearSpread = LimitSpread(linear), logSpread = LimitSpread(logged);

    if (strictCount > 0) {
        RankGrid(PlanFor(0), cells);  // modes 0, 1 and 3 never refuse a grid
        out[3] = TintFromCentroid(cells.weights.data(), cells.xs.data(), cells.ys.data());
        out[0] = Select(Candidates(cells, PlanFor(0)), 2.0f * linearSpread);
        out[1] = Select(Candidates(cells, PlanFor(1)), 2.0f * logSpread);
        result[0] = result[1] = result[3] = true;
    }
    if (looseCount > 0) {
        std::copy(loose, loose + kChromaCells, cells.weights.data());
        const ModePlan plan = PlanFor(2);
        if (RankGrid(plan, cells)) {
            out[2] = Select(Candidates(cells, plan), 2.0f * std::min(linearSpread, logSpread));
            result[2] = true;
        }
    }
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
template <class Source>
bool Analyse8(const Source& px, int32_t tintMode, float gains[3]) {
    std::array<std::array<float, Scale8::kBins>, 3> hist;
    std::array<std::array<float, Scale8::kBins>, 3> logHist;
    const Histograms h{{hist[0].data(), hist[1].data(), hist[2].data()},
                       {logHist[0].data(), logHist[1].data(), logHist[2].data()}};
    GainTriple g;
    const bool result = Analyse<Scale8>(px, PlanFor(tintMode), h, &g);
    return Report(result, g, gains);
}

}  // namespace

void EstimateTintGainsBlobAllModes8(const ImageView<const uint8_t>& blob, int32_t black, float gains[][3],
                                    bool results[]) {
    std::array<std::array<float, Scale8::kBins>, 3> hist;
    const Histograms h{{hist[0].data(), hist[1].data(), hist[2].data()}, {nullptr, nullptr, nullptr}};
    RankedCells cells;
    std::array<float, kChromaCells> loose;
    GainTriple out[kTintModes];
    bool ok[kTintModes];
    AnalyseAllModes<Scale8>(BlobSample(blob, black), h, cells, loose.data(), out, ok);
    for (int m = 0; m < kTintModes; ++m) results[m] = Report(ok[m], out[m], gains[m]);
}

void EstimateTintGainsBlobAllModes16(const ImageView<const uint16_t>& blob, int32_t black, float gains[][3],
                                     bool results[]) {
    RankedCells cells;
    std::array<float, kChromaCells> loose;
    GainTriple out[kTintModes];
    bool ok[kTintModes];
    bool analysed = false;
    for (int m = 0; m < kTintModes; ++m) {
        // The blocks a call of this mode alone takes, in the same order; the
        // first mode that has them counts the histograms into its first three.
        const int blocks = PlanFor(m).logTrim ? 6 : 3;
        HostArray<float> tables[6];
        bool have = true;
        for (int b = 0; b < blocks && have; ++b) have = bool(tables[b] = HostArray<float>::Allocate(Scale16::kBins));
        if (!have) {
            results[m] = Report(false, {}, gains[m]);
            continue;
        }
        if (!analysed) {
            const Histograms h{{tables[0].data(), tables[1].data(), tables[2].data()}, {nullptr, nullptr, nullptr}};
            AnalyseAllModes<Scale16>(BlobSample(blob, black), h, cells, loose.data(), out, ok);
            analysed = true;
        }
        results[m] = Report(ok[m], out[m], gains[m]);
    }
}

bool EstimateTintGains(const ImageView<const uint8_t>& image, int32_t tintMode, float gains[3]) {
    return Analyse8(EveryPixel(image), tintMode, gains);
}

bool EstimateTintGainsBlob8(const ImageView<const uint8_t>& blob, int32_t tintMode, float gains[3]) {
    return Analyse8(BlobSample(blob), tintMode, gains);
}

int32_t TintGridCell8(int32_t c0, int32_t c1, int32_t c2, int32_t tintMode) {
    return GridCell<Scale8>(c0, c1, c2, PlanFor(tintMode).looseGrid);
}

bool EstimateTintGainsFromCounts(const TintCounts& counts, int32_t tintMode, float gains[3]) {
    return Analyse8(counts, tintMode, gains);
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
