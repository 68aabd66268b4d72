// SPDX-License-Identifier: MIT
#include "oneshot/lumarex_comprehensive.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>

#include "analysis/estimate_tint_gains.h"
#include "host/heap_array.h"
#include "image/image_view.h"
#include "oneshot/one_shot_rows.h"
#include "oneshot/sharpen_max_channel.h"
#include "platform/float_convert.h"
#include "simd/kernels.h"
#include "simd/own_samples.h"
#include "stages/color_cube.h"
#include "stages/color_restore.h"
#include "stages/detail_range.h"
#include "stages/exp_smooth_plane.h"
#include "stages/local_contrast_map_twins.h"
#include "stages/log_exp_gain_tables.h"
#include "stages/log_gain_tables.h"
#include "stages/tint_factors.h"
#include "stages/tone_strength.h"
#include "stages/warm_tone.h"

namespace lx {
namespace {

constexpr int kLevels = 256;
// Local detail is binned in units of 1/T, T = 256, over +-5T.
constexpr LocalContrastScale kDetailScale{8.0f, 256.0f, 5 * 256};

using Table = std::array<float, kLevels>;

// Centre weight of a pixel = (qx[x / 64] + qy[y / 64]) * 2: 4.0 at the centre
// blocks, falling linearly toward the borders (slightly below 0 in the last
// block column or row, exactly 0 in the corner blocks). Images under 384
// pixels in either direction weigh every pixel 1.0.
struct CentreWeights {
    bool uniform;
    int32_t blocks;           // 64-pixel block columns, the last one partial
    HeapArray<float> qx, qy;  // per 64-pixel block column / row

    bool Init(int32_t width, int32_t height) {
        const int32_t cx = (width / 64) / 2, cy = (height / 64) / 2;
        uniform = !(cx > 2 && cy > 2);
        blocks = width / 64 + 1;
        if (uniform) return true;
        const int32_t by = height / 64 + 1;
        qx = HeapArray<float>::Allocate(blocks);
        qy = HeapArray<float>::Allocate(by);
        if (!qx || !qy) return false;
        for (int32_t i = 0; i < blocks; ++i) qx[i] = float(cx - std::abs(i - cx)) / float(cx);
        for (int32_t j = 0; j < by; ++j) qy[j] = float(cy - std::abs(j - cy)) / float(cy);
        return true;
    }
    float At(int32_t x, int32_t y) const { return uniform ? 1.0f : (qx[x / 64] + qy[y / 64]) * 2.0f; }
    // The weights of row y per block column: out[x / 64] == At(x, y).
    void Row(int32_t y, float* out) const {
        for (int32_t i = 0; i < blocks; ++i) out[i] = uniform ? 1.0f : (qx[i] + qy[y / 64]) * 2.0f;
    }
};

// Counts of N entries in four 32-bit copies, one for every fourth item of a
// row, so that neighbouring items of one entry (a smooth area) do not wait
// on each other's increments. The copies go into 64-bit totals once 2^31
// items have been added, before any copy can reach 2^32 (an image can hold
// more items of one entry than that).
template <size_t N>
struct SplitCounts {
    std::array<uint64_t, N> total{};
    std::array<uint32_t, N> copy[4]{};
    int64_t pending = 0;

    // After a row's n items have been counted into the copies.
    void Added(int32_t n) {
        if ((pending += n) < (int64_t{1} << 31)) return;
        for (size_t i = 0; i < N; ++i) total[i] += uint64_t{copy[0][i]} + copy[1][i] + copy[2][i] + copy[3][i];
        for (auto& c : copy) c.fill(0);
        pending = 0;
    }
    uint64_t At(size_t i) const { return total[i] + copy[0][i] + copy[1][i] + copy[2][i] + copy[3][i]; }
};

// Per-level sample counts per channel.
struct LevelCounts {
    SplitCounts<256> c[3];

    void AddRow(const uint8_t* const px[3], int32_t n) {
        int32_t x = 0;
        for (; x + 3 < n; x += 4)
            for (int k = 0; k < 3; ++k) {
                const uint8_t* v = px[k] + x;
                ++c[k].copy[0][v[0]], ++c[k].copy[1][v[1]], ++c[k].copy[2][v[2]], ++c[k].copy[3][v[3]];
            }
        for (; x < n; ++x)
            for (int k = 0; k < 3; ++k) ++c[k].copy[0][px[k][x]];
        for (auto& channel : c) channel.Added(n);
    }
    uint64_t At(int channel, int level) const { return c[channel].At(size_t(level)); }
    // The float histogram of all three channels that adding 1.0f once per
    // sample would give.
    Table AsFloat() const {
        Table hist;
        for (int i = 0; i < 256; ++i) hist[i] = CountAsFloatSum(At(0, i) + At(1, i) + At(2, i));
        return hist;
    }
};

// Chromaticity cells counted the same way. Pixels left out (cell -1) count
// in a spare entry past the cells, so that the loop has no branch.
struct CellCounts {
    static constexpr int32_t kSpare = kChromaCells;
    SplitCounts<kChromaCells + 1> c;

    void AddRow(const int16_t* cells, int32_t n) {
        // -1 becomes 65535 as an unsigned 16-bit value, then the spare.
        const auto slot = [](int16_t cell) { return std::min<uint32_t>(uint16_t(cell), kSpare); };
        int32_t x = 0;
        for (; x + 3 < n; x += 4)
            ++c.copy[0][slot(cells[x])], ++c.copy[1][slot(cells[x + 1])], ++c.copy[2][slot(cells[x + 2])],
                ++c.copy[3][slot(cells[x + 3])];
        for (; x < n; ++x) ++c.copy[0][slot(cells[x])];
        c.Added(n);
    }
    uint64_t At(int32_t cell) const { return c.At(size_t(cell)); }
};

// Each pixel's centre weight added to the bin of its largest level, in row
// order: the float sums are those of adding one pixel at a time.
void AddWeightedRow(Table& hist, const uint8_t* largest, int32_t n, const float* rowWeights) {
    for (int32_t x0 = 0; x0 < n; x0 += 64) {
        const float w = rowWeights[x0 >> 6];
        for (int32_t x = x0, end = std::min(x0 + 64, n); x < end; ++x) hist[largest[x]] += w;
    }
}

// Everything the correction needs from the heap, taken before the image is
// touched so that running out of memory leaves it as it was. The local-
// contrast map is made only when the blend reads it.
struct OneShot {
    ImageView<uint8_t> p;
    const OneShotSettings* s;
    int32_t W, H;
    int64_t N;
    bool contrast;
    bool disjoint;     // the samples are the image's own: passes may be merged
    bool clip;         // the low clip reads the channel histogram
    bool streamed = !simd::ReferenceKernels();  // the map streamed by rows (else the plain form)
    CentreWeights weights;
    HeapArray<float> rowWeights;
    HeapArray<uint8_t> rows;   // three planar rows and each pixel's largest
    HeapArray<int16_t> cells;  // chromaticity cells of a row
    // V before the stretch, each pixel's largest level: its own plane for
    // the plain map, else the first quarter of the map's plane (ValuesAt).
    HeapArray<uint8_t> values;
    HeapArray<float> detail, map, norm;
    HeapArray<float> sums;          // two rows of running sums and a row of values for the streamed map
    HeapArray<int64_t> detailHist;  // a bin can count more than 2^31 pixels
    // The cast analysis' counts, made while the black offset goes, and
    // their sums as the analysis takes them.
    HeapArray<LevelCounts> tintLevels;
    HeapArray<CellCounts> tintCells;
    HeapArray<TintCounts> tintCounts;

    Table weightedHist{};  // centre-weighted counts of each pixel's largest channel
    LevelCounts counts;    // all samples, for the channel histogram
    // Or, after the cast where the counts before it were kept: the samples
    // per level of all three channels.
    bool castCounted = false;
    std::array<uint64_t, kLevels> castLevels{};

    // The histogram of all samples that adding 1.0f once per sample would give.
    Table ChannelHistogram() const {
        if (!castCounted) return counts.AsFloat();
        Table hist;
        for (int i = 0; i < kLevels; ++i) hist[i] = CountAsFloatSum(castLevels[i]);
        return hist;
    }

    int64_t rowCapacity = 0;
    uint8_t* planar[3] = {};  // the three planar rows in `rows`
    uint8_t* Largest() const { return rows.data() + 3 * rowCapacity; }

    bool Allocate() {
        rowCapacity = RowCapacity(W);
        rowWeights = HeapArray<float>::Allocate(W / 64 + 1);
        rows = HeapArray<uint8_t>::Allocate(4 * rowCapacity);
        if (rows) {
            std::fill_n(rows.data(), 4 * rowCapacity, uint8_t{0});  // padding lanes read defined bytes
            for (int k = 0; k < 3; ++k) planar[k] = rows.data() + k * rowCapacity;
        }
        bool ok = weights.Init(W, H) && rowWeights && rows;
        if (s->tintCorrection != 0 && disjoint) {
            cells = HeapArray<int16_t>::Allocate(rowCapacity);
            tintLevels = HeapArray<LevelCounts>::Allocate(1);
            tintCells = HeapArray<CellCounts>::Allocate(1);
            tintCounts = HeapArray<TintCounts>::Allocate(1);
            ok = ok && cells && tintLevels && tintCells && tintCounts;
        }
        if (contrast) {
            if (!streamed) values = HeapArray<uint8_t>::Allocate(N);
            detail = HeapArray<float>::Allocate(N);
            map = HeapArray<float>::Allocate(N);
            norm = HeapArray<float>::Allocate(std::max(W, H));
            sums = HeapArray<float>::Allocate(3 * int64_t{W});
            detailHist = HeapArray<int64_t>::Allocate(kDetailScale.Bins());
            ok = ok && (values || streamed) && detail && map && norm && sums && detailHist;
        }
        return ok;
    }
    // The streamed map walks up with the values of row y made again from
    // bytes y W .. y W + W - 1 just before it writes the map's row y (bytes
    // 4 y W onward), so every row's values are read before any map row
    // covers them, and the map plane can hold them until then. The plain
    // map writes the map plane while it still reads values further on.
    uint8_t* ValuesAt(int32_t y) const {
        uint8_t* base = values ? values.data() : reinterpret_cast<uint8_t*>(map.data());
        return base + y * int64_t{W};
    }
};

// Lowest sample of any channel (the lowest non-empty level of the channel
// histogram); stops at the first 0.
uint8_t LowestLevel(const OneShot& o) {
    uint8_t lowest = 255;
    for (int32_t y = 0; y < o.H && lowest > 0; ++y) lowest = RowMinimum(o.p, y, lowest);
    return lowest;
}

// Highest level with a non-zero count; 0 when none.
int HighestNonZero(const Table& hist) {
    for (int i = kLevels - 1; i > 0; --i)
        if (hist[i] != 0.0f) return i;
    return 0;
}

// The highest level whose weighted count is not 0, from the highest level
// met under a positive weight and the highest met under a negative one: a
// sum of weights of one sign never comes to 0, and zero weights add nothing.
// Only a level met under both signs needs its sum, which `exact` gives.
template <class Exact>
int HighestWeightedLevel(int positive, int negative, Exact&& exact) {
    if (positive != negative) return std::max({positive, negative, 0});
    if (positive <= 0) return 0;
    return HighestNonZero(exact());
}

// The black offset removed; V, and what the later steps need of the
// samples as they now are: the cast analysis' counts when a cast is to be
// measured (the weighted histogram then waits for the cast, and only the
// highest weighted level is kept now), else the weighted histogram of each
// pixel's largest channel and, for the low clip, the channel histogram.
// Returns the stretch of V, 255 / its highest weighted level (0 for an image
// black after the offset, which has nothing to stretch).
float RemoveBlackOffset(OneShot& o) {
    const uint8_t black = LowestLevel(o);
    uint8_t* const* px = o.planar;
    uint8_t* largest = o.Largest();
    const bool tint = bool(o.tintLevels);
    const bool count = o.s->tintCorrection == 0 && o.clip;
    int positive = -1, negative = -1;  // highest levels under each sign of weight
    for (int32_t y = 0; y < o.H; ++y) {
        // Without an offset the samples stay as they are and are only read.
        if (black != 0) RemoveBlackRow(o.p, y, black, px, largest);
        else ReadRow(o.p, y, px, largest);
        o.weights.Row(y, o.rowWeights.data());
        if (o.contrast) std::memcpy(o.ValuesAt(y), largest, size_t(o.W));
        if (count) o.counts.AddRow(px, o.W);
        if (!tint) {
            AddWeightedRow(o.weightedHist, largest, o.W, o.rowWeights.data());
            continue;
        }
        for (int32_t x0 = 0; x0 < o.W; x0 += 64) {
            const float w = o.rowWeights[x0 >> 6];
            if (w == 0.0f) continue;
            uint8_t m = 0;
            for (int32_t x = x0, end = std::min(x0 + 64, o.W); x < end; ++x) m = std::max(m, largest[x]);
            int& highest = w > 0.0f ? positive : negative;
            highest = std::max(highest, int{m});
        }
        o.tintLevels->AddRow(px, o.W);
        ChromaCellsRow(px, o.W, o.s->tintMode, o.cells.data());
        o.tintCells->AddRow(o.cells.data(), o.W);
    }
    const int maxV = !tint ? HighestNonZero(o.weightedHist) : HighestWeightedLevel(positive, negative, [&] {
        Table hist{};
        for (int32_t y = 0; y < o.H; ++y) {
            ReadRow(o.p, y, px, largest);
            o.weights.Row(y, o.rowWeights.data());
            AddWeightedRow(hist, largest, o.W, o.rowWeights.data());
        }
        return hist;
    });
    return maxV > 0 ? 255.0f / float(maxV) : 0.0f;
}

// The histograms of the samples as they are, when the cast is not applied:
// the weighted one unless it was made with the black offset.
void MeasureUncast(OneShot& o) {
    const bool weigh = bool(o.tintLevels);
    if (!weigh && !o.clip) return;
    uint8_t* const* px = o.planar;
    uint8_t* largest = o.Largest();
    for (int32_t y = 0; y < o.H; ++y) {
        ReadRow(o.p, y, px, largest);
        if (o.clip) o.counts.AddRow(px, o.W);
        if (!weigh) continue;
        o.weights.Row(y, o.rowWeights.data());
        AddWeightedRow(o.weightedHist, largest, o.W, o.rowWeights.data());
    }
}

// The cast analysis from the counts made with the black offset, or from the
// image when they could not be made.
bool MeasureCast(OneShot& o, float g[3]) {
    if (!o.tintLevels) return EstimateTintGains(o.p, o.s->tintMode, g);
    TintCounts& counts = o.tintCounts[0];
    for (int k = 0; k < 3; ++k)
        for (int i = 0; i < 256; ++i) counts.levels[k][i] = o.tintLevels->At(k, i);
    for (int32_t i = 0; i < kChromaCells; ++i) counts.cells[i] = o.tintCells->At(i);
    return EstimateTintGainsFromCounts(counts, o.s->tintMode, g);
}

// The colour cast, applied in fixed point, then the histograms of the
// result. Without it the samples are those measured with the black offset.
void RemoveCast(OneShot& o) {
    const OneShotSettings& s = *o.s;
    if (s.tintCorrection == 0) return;
    float g[3];
    if (!MeasureCast(o, g)) {
        MeasureUncast(o);
        return;
    }
    const float softened[3] = {SoftenedGain(g[0], s.tintStrength), SoftenedGain(g[1], s.tintStrength),
                               SoftenedGain(g[2], s.tintStrength)};
    int32_t k[3];
    TintFactorsPerMille(softened, k);
    const TintTables tables(k);
    o.weightedHist.fill(0.0f);
    uint8_t* const* px = o.planar;
    uint8_t* largest = o.Largest();
    // The samples' histogram after the cast from the one before it: each
    // level moves to level x factor / 1000 (clamped), and the compression
    // of highlights moves a few samples further, which the rows tally.
    const bool push = o.clip && o.tintLevels;
    std::array<int64_t, kLevels> moved{};
    for (int32_t y = 0; y < o.H; ++y) {
        ApplyTintRow(o.p, y, tables, px, largest, push ? moved.data() : nullptr);
        if (o.clip && !push) o.counts.AddRow(px, o.W);
        o.weights.Row(y, o.rowWeights.data());
        AddWeightedRow(o.weightedHist, largest, o.W, o.rowWeights.data());
    }
    if (push) {
        for (int c = 0; c < 3; ++c)
            for (int i = 0; i < kLevels; ++i)
                o.castLevels[std::clamp<int64_t>(tables.scaled[c][i], 0, 255)] += o.tintLevels->At(c, i);
        for (int i = 0; i < kLevels; ++i) o.castLevels[i] += uint64_t(moved[i]);
        o.castCounted = true;
    }
}

struct LevelRange {
    int32_t low = 0;      // c0: levels up to it clip to black
    int32_t scale = 1000; // per mille: 255 / (white - c0)
};

// The low clip c0 (the level below which the share of all samples
// lies) and the white level (above which 0.256 of the weighted pixels lie,
// N x 256 / 1000).
LevelRange FindLevels(const OneShot& o) {
    const OneShotSettings& s = *o.s;
    int32_t c0 = 0;
    if (o.clip) {
        const Table channelHist = o.ChannelHistogram();
        const float t = ShadowClipThreshold(s.shadowClipPermille, o.N);
        // A share of 1000 per mille or more is never passed: everything clips.
        c0 = t < 0.0f ? -1 : kLevels - 1;
        float sum = 0.0f;
        for (int i = 0; t >= 0.0f && i < kLevels; ++i)
            if ((sum += channelHist[i]) > t) {
                c0 = i;
                break;
            }
    }
    int32_t white = 0;
    const float t = ProductToFloat(o.N, 256) / 1000.0f;
    float sum = 0.0f;
    for (int i = kLevels - 1; i >= 0; --i)
        if ((sum += o.weightedHist[i]) > t) {
            white = i;
            break;
        }
    // A white level at or below the low clip leaves no range to stretch: the
    // levels are then kept as they are.
    if (white <= c0) c0 = 0, white = 255;
    return LevelRange{c0, static_cast<int32_t>(255.0f / float(white - c0) * 1000.0f)};  // |scale| <= 255000
}

// The lift strength that moves the weighted mean of the pixel
// maxima to the target brightness, measured with a full-strength trial curve.
int32_t AutoToneStrength(const Table& weightedHist, int32_t toneTarget, int32_t strengthLimit) {
    Table trial, unused;
    BuildLogGainTables(trial.data(), unused.data(), 12, 1, 100, 0.0f, kLevels);
    std::array<int32_t, kLevels> w, h;
    const LiftMeans means = TrialLiftMeans(weightedHist.data(), kLevels, 0.00390625f, trial.data(), w.data(), h.data());
    const float target = float(int64_t{toneTarget} * 5 + 55) * 255.0f / 100.0f;
    return std::min(LiftStrength(target, means), strengthLimit);
}

// The local-contrast map of V stretched as min(V x stretch, 255) (see
// BuildLocalContrastMap), with the range that holds all but 1 % of it at
// either end.
ContrastRange ContrastMap(OneShot& o, float stretch) {
    const int32_t n = std::max(o.W, o.H);
    const float a = SmoothingDecay(SmoothingRadius(o.W, o.H));
    BuildSmoothNorm(o.norm.data(), n, a);
    const uint8_t* v = o.ValuesAt(0);
    const Plane detail{o.detail.data(), o.W, o.H}, map{o.map.data(), o.W, o.H};
    if (o.streamed) {
        // Streamed a row at a time; each stretched value is computed as the
        // table below holds it.
        const int32_t W = o.W;
        return BuildLocalContrastMapFromRepeatedRows(
            [v, W, stretch](int32_t y, float* out) { StretchValuesRow(v + y * int64_t{W}, W, stretch, out); },
            detail, map, o.sums.data(), o.detailHist.data(), o.norm.data(), a, kDetailScale);
    }
    float stretched[kLevels];
    for (int i = 0; i < kLevels; ++i) stretched[i] = std::min(float(i) * stretch, 255.0f);
    return BuildLocalContrastMapPlain([&stretched, v](int64_t i) { return stretched[v[i]]; }, detail, map,
                                      o.detailHist.data(), o.norm.data(), a, kDetailScale);
}

// The level stretch, then every pixel brightened by the gain
// at its largest channel, blended between the two tables by the map when
// local contrast is on. Nothing reads the samples between the two steps.
void Brighten(OneShot& o, const LevelRange& levels, const Table& primary, const Table& secondary,
              const ContrastRange& range) {
    const BrightenTables t(levels.low, levels.scale, primary.data(), secondary.data(), range.low, range.high);
    for (int32_t y = 0; y < o.H; ++y)
        BrightenRow(o.p, y, o.contrast ? o.map.data() + y * int64_t{o.W} : nullptr, t, o.planar);
}

// The finishing stages, in order, each when enabled.
void Finish(const ImageView<uint8_t>& p, const FinishingSettings& s) {
    if (s.sharpen != 0) SharpenMaxChannel8(p, s.sharpenAmount);
    if (s.colorMode != 0) ColorRestore8(p, s.colorMode, s.colorAmount);
    if (s.warmTone != 0) WarmToneCorrect8(p, s.warmToneStrength);
    ColorTables(s.colorCube, s.cubeSelect, s.cubeAlsoC, p);
}

}  // namespace

float ShadowClipThreshold(int32_t permille, int64_t pixels) {
    return ProductToFloat(int64_t{permille} * 3, pixels) / 1000.0f;
}

float CentreWeight(int32_t x, int32_t y, int32_t width, int32_t height) {
    CentreWeights w;
    if (!w.Init(width, height)) return 1.0f;
    return w.At(x, y);
}

int32_t LumarexComprehensive8(const ImageDesc& image, const OneShotSettings& s) {
    if (image.width <= 0 || image.height <= 0) return 0;  // no pixels: nothing to measure
    OneShot o;
    o.p = ViewOf<uint8_t>(image), o.s = &s;
    o.W = image.width, o.H = image.height, o.N = int64_t{o.W} * o.H;
    o.contrast = s.localContrast != 0;
    o.disjoint = simd::SamplesAreOwn(o.p);
    o.clip = s.shadowClip != 0 && s.shadowClipPermille != 0;
    if (!o.Allocate()) return 0;

    // V after the stretch is min(V x stretch, 255).
    const float stretch = RemoveBlackOffset(o);
    RemoveCast(o);
    const LevelRange levels = FindLevels(o);
    // A missing strength pointer reads as 0 and receives nothing.
    int32_t strength = s.toneStrength != nullptr ? *s.toneStrength : 0;
    if (s.autoTone != 0) {
        strength = AutoToneStrength(o.weightedHist, s.toneTarget, s.strengthLimit);
        if (s.toneStrength != nullptr) *s.toneStrength = strength;
    }
    const ContrastRange range = o.contrast ? ContrastMap(o, stretch) : ContrastRange{};

    // Tables start as identity gains, so a builder that fails for want of
    // host memory leaves the image unbrightened.
    Table primary, secondary;
    primary.fill(1.0f), secondary.fill(1.0f);
    const float amount = float(100 - int64_t{s.curveReduction}) / 100.0f;
    if (s.curveFamily == 1) BuildLogExpGainTables(primary.data(), secondary.data(), s.curveBlack, strength, amount, kLevels);
    else BuildLogGainTables(primary.data(), secondary.data(), s.curveBlack, 1, strength, amount, kLevels);
    Brighten(o, levels, primary, secondary, range);

    const ImageView<uint8_t> p = o.p;
    o = OneShot{};  // working data goes before the finishing stages run
    Finish(p, s.finish);
    return 0;
}

}  // namespace lx
