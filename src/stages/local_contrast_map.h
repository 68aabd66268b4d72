// SPDX-License-Identifier: MIT
// The local-contrast map of both pipelines: the signed local detail of a
// value plane, scaled by how strong detail is around it, and the range that
// holds all but 1 % of it at either end. Pixels above their surroundings get
// positive values; the pipelines blend their two tone curves by where a
// pixel's value lies in the range.
//
//   detail  D = V - smooth(V)
//   level   L = smooth(|D|)
//   map     E = max(L, floor) x D / divisor        (product first)
//
// smooth is ExpSmoothPlane with the caller's SmoothNorm table and decay. E is
// counted in 2H + 1 bins: E >= H in the last, E <= -H in the first, else in
// trunc(E) + H - 1. Scanning from either end for the first bin where the
// running count passes N / 100 gives bins k (up) and m (down), and the range
// low = k - H, high = m - H - 2.
//
//   caller          floor   divisor   H
//   one-shot        8       256       1280 (5 x 256)
//   apply, 8-bit    8       255       1275
//   apply, 16-bit   2048    65280     326400
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdint>

#include "image/image_view.h"
#include "stages/detail_range.h"
#include "stages/exp_smooth_plane.h"

namespace lx {

// The smoothing radius of a W x H map: 20 % of its larger side (integer),
// and the decay a = exp(-1 / (0.5 r)) of the smoothing (0 for r = 0: no
// smoothing at all below 5 pixels).
int32_t SmoothingRadius(int32_t width, int32_t height);
float SmoothingDecay(int32_t radius);

struct LocalContrastScale {
    float floor;      // lower bound of the local detail level
    float divisor;
    int32_t half;     // H: the histogram has 2H + 1 bins
    int32_t Bins() const { return 2 * half + 1; }
};

struct ContrastRange {
    int32_t low = 0;
    int32_t high = 0;
};

// The bin of a map value: the last for E >= H, the first for E <= -H, else
// trunc(E) + H - 1 (|E| < H, so in range). h is H as a float.
inline int32_t ContrastBin(float v, float h, const LocalContrastScale& scale) {
    if (v >= h) return scale.Bins() - 1;
    if (v <= -h) return 0;
    return static_cast<int32_t>(v) + scale.half - 1;
}

namespace contrast_detail {

inline constexpr int32_t kBand = 16;      // rows smoothed along together: one SIMD row group
inline constexpr int32_t kStrip = 8192;   // columns walked up together: whole rows of most photos

// Counts map values into the histogram. A smooth map puts long runs of
// neighbours into one bin, and each count would wait on the one before; a
// histogram of a few thousand bins (8-bit scales) is therefore counted in
// four interleaved copies on the stack (40 KB), 32-bit, added to `hist` at
// least every 2^28 values and at the end.
template <class Count>
class BinCounter {
public:
    BinCounter(Count* hist, const LocalContrastScale& scale)
        : hist_(hist), scale_(scale), h_(static_cast<float>(scale.half)), split_(scale.Bins() <= kSplitBins) {
        if (split_) std::fill_n(&copies_[0][0], 4 * kSplitBins, 0u);
    }

    void Add(const float* v, int64_t n) {
        alignas(64) int32_t bins[kChunk];
        for (int64_t start = 0; start < n; start += kChunk) {
            const int32_t count = int32_t(std::min<int64_t>(kChunk, n - start));
            for (int32_t c = 0; c < count; ++c) bins[c] = ContrastBin(v[start + c], h_, scale_);
            AddBins(bins, count);
        }
    }

    // Counts n bins already worked out (n at most kChunk).
    void AddBins(const int32_t* bins, int32_t n) {
        if (!split_) {
            for (int32_t c = 0; c < n; ++c) ++hist_[bins[c]];
            return;
        }
        int32_t c = 0;
        for (; c + 4 <= n; c += 4) {
            ++copies_[0][bins[c]];
            ++copies_[1][bins[c + 1]];
            ++copies_[2][bins[c + 2]];
            ++copies_[3][bins[c + 3]];
        }
        for (; c < n; ++c) ++copies_[0][bins[c]];
        if ((pending_ += n) >= (int64_t{1} << 28)) Flush();
    }

    void Flush() {
        if (!split_) return;
        for (int32_t b = 0; b < scale_.Bins(); ++b) {
            hist_[b] += Count(copies_[0][b]) + Count(copies_[1][b]) + Count(copies_[2][b]) + Count(copies_[3][b]);
            copies_[0][b] = copies_[1][b] = copies_[2][b] = copies_[3][b] = 0;
        }
        pending_ = 0;
    }

    static constexpr int32_t kChunk = 512;  // bins counted at a time

private:
    static constexpr int32_t kSplitBins = 2561;  // the one-shot's 2 x 1280 + 1, the largest 8-bit scale

    Count* hist_;
    LocalContrastScale scale_;
    float h_;
    bool split_;
    int64_t pending_ = 0;
    uint32_t copies_[4][kSplitBins];
};

// The hardware prefetchers follow a row walked left to right, but not the
// jump to the row above when a plane is walked upwards: the next rows of
// the walk are asked for while the current ones are worked on.
inline void PrefetchRows(const float* a, const float* b, int64_t n) {
#if defined(__GNUC__)
    for (int64_t x = 0; x < n; x += 16) {  // one 64-byte line per 16 floats
        __builtin_prefetch(a + x);
        __builtin_prefetch(b + x);
    }
#else
    (void)a, (void)b, (void)n;
#endif
}

// One row of the walk up that takes D from V (the row-streamed forms): the
// raw backward column sum z = f x forward + a x below (the bottom row, below
// null: f x forward) from the row's raw forward sum f, then D = V - z x
// backward and |D|. `d` holds f on entry and D on return, `v` holds V,
// `magnitude` receives |D| (it may be `v`), `z` the raw sums for the row
// above.
void DetailRow(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n, float forward,
               float backward, float a);

// One row of the last walk up: the raw backward column sum of the smoothed
// |D|, z = l x forward + a x z (the bottom row: l x forward) from the raw
// forward sum l in `e`, then E = max(z x backward, floor) x D / divisor
// into `e` and E's bin (ContrastBin) into `bins`.
void MapRow(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
            const LocalContrastScale& scale, int32_t* bins);

}  // namespace contrast_detail

namespace contrast_detail {

// The walk down of a plane: each band of kBand rows filled by
// load(y0, rows, band) (rows y0 .. y0 + rows - 1, W floats each), smoothed
// along the rows, then each row's raw forward column sum
// (ColumnForwardStep; none for a plane one row high).
template <class Load>
void SmoothBandsDown(float* plane, int32_t W, int32_t H, const float* norm, float alpha, const Load& load) {
    const int64_t pitch = W;
    for (int32_t y0 = 0; y0 < H; y0 += kBand) {
        const int32_t rows = std::min(kBand, H - y0);
        float* band = plane + y0 * pitch;
        load(y0, rows, band);
        ExpSmoothRows(Plane{band, W, rows}, norm, alpha);
        if (H > 1)
            for (int32_t y = std::max(y0, 1); y < y0 + rows; ++y)
                ColumnForwardStep(plane + y * pitch, plane + (y - 1) * pitch, W, alpha);
    }
}

// The last two sweeps of the fast form, from D in `detail` and |D| in
// `map`: |D| smoothed along the rows and its forward column sums, then the
// backward column pass giving L, E and E's bin, in strips of up to kStrip
// columns whose raw sums stay on the stack. Returns the range.
template <class Count>
ContrastRange MapFromDetail(const Plane& detail, const Plane& map, Count* hist, const float* norm, float alpha,
                            const LocalContrastScale& scale) {
    const int32_t W = std::max(detail.width, 0), H = std::max(detail.height, 0);
    const int64_t pitch = W;
    const float* d = detail.data;
    float* e = map.data;
    const bool columns = H > 1;
    std::fill_n(hist, scale.Bins(), Count{0});
    SmoothBandsDown(e, W, H, norm, alpha, [](int32_t, int32_t, float*) {});
    BinCounter<Count> counter(hist, scale);
    alignas(64) float z[kStrip];
    for (int32_t x0 = 0; x0 < W; x0 += kStrip) {
        const int32_t cols = std::min(kStrip, W - x0);
        for (int32_t y = H - 1; y >= 0; --y) {
            const float* dr = d + y * pitch + x0;
            float* er = e + y * pitch + x0;
            if (!columns) {
                for (int32_t x = 0; x < cols; ++x) er[x] = std::max(er[x], scale.floor) * dr[x] / scale.divisor;
                counter.Add(er, cols);
            } else {
                const float forward = norm[y], backward = norm[H - 1 - y];
                alignas(64) int32_t bins[BinCounter<Count>::kChunk];
                for (int32_t c0 = 0; c0 < cols; c0 += BinCounter<Count>::kChunk) {
                    const int32_t n = std::min(BinCounter<Count>::kChunk, cols - c0);
                    MapRow(er + c0, dr + c0, z + c0, y == H - 1, n, forward, backward, alpha, scale, bins);
                    counter.AddBins(bins, n);
                }
            }
            if (y > 0) PrefetchRows(er - pitch, dr - pitch, cols);
        }
    }
    counter.Flush();
    const DetailBins bins = FindDetailBins(hist, scale.Bins(), detail.Size() / 100);
    return ContrastRange{bins.low - scale.half, bins.high - scale.half - 2};
}

}  // namespace contrast_detail

namespace contrast_detail {

// The row-streamed forms. kAgain: rows(y, out) may be called again for the
// walk up, which then reads V from a row of `z` instead of the map's rows.
template <bool kAgain, class Count, class Rows>
ContrastRange MapFromRows(const Rows& rows, const Plane& detail, const Plane& map, float* z, Count* hist,
                          const float* norm, float alpha, const LocalContrastScale& scale) {
    const int32_t W = std::max(detail.width, 0), H = std::max(detail.height, 0);
    float* d = detail.data;
    float* e = map.data;
    const int64_t pitch = W;

    SmoothBandsDown(d, W, H, norm, alpha, [&](int32_t y0, int32_t count, float* band) {
        for (int32_t r = 0; r < count; ++r) {
            float* row = band + r * pitch;
            rows(y0 + r, row);
            if (!kAgain) std::copy_n(row, W, e + (y0 + r) * pitch);
        }
    });
    float* zRows[2] = {z, z + pitch};
    float* again = z + 2 * pitch;
    for (int32_t y = H - 1; y >= 0; --y) {
        float* dr = d + y * pitch;
        float* er = e + y * pitch;  // |D| of the row (before it, V when rows are made once)
        const float* v = er;
        if (kAgain) {
            rows(y, again);
            v = again;
        }
        if (H == 1) {
            for (int32_t x = 0; x < W; ++x) {
                dr[x] = v[x] - dr[x];
                er[x] = std::fabs(dr[x]);
            }
            continue;
        }
        DetailRow(dr, v, er, zRows[y & 1], y == H - 1 ? nullptr : zRows[(y + 1) & 1], W, norm[y], norm[H - 1 - y],
                  alpha);
        if (y > 0) PrefetchRows(dr - pitch, er - pitch, W);
    }
    return MapFromDetail(detail, map, hist, norm, alpha, scale);
}

}  // namespace contrast_detail

// The fast form for values made a row at a time: rows(y, out) writes row y
// of V (W floats) and is called once per row, top to bottom. V waits in the
// map's rows until the walk up has taken D from it, and that walk's running
// sums go through `z` (2 W floats of scratch). The same float operations
// as the other forms, so the same map bit for bit.
template <class Count, class Rows>
ContrastRange BuildLocalContrastMapFromRows(const Rows& rows, const Plane& detail, const Plane& map, float* z,
                                            Count* hist, const float* norm, float alpha,
                                            const LocalContrastScale& scale) {
    return contrast_detail::MapFromRows<false>(rows, detail, map, z, hist, norm, alpha, scale);
}

// The same for rows that are cheap to make again (the one-shot stretches
// each row's bytes): rows(y, out) is called twice per row, top to bottom
// and then bottom to top, and V is not kept in the map meanwhile, which
// saves writing and reading back a float plane. `z` holds 3 W floats.
template <class Count, class Rows>
ContrastRange BuildLocalContrastMapFromRepeatedRows(const Rows& rows, const Plane& detail, const Plane& map, float* z,
                                                    Count* hist, const float* norm, float alpha,
                                                    const LocalContrastScale& scale) {
    return contrast_detail::MapFromRows<true>(rows, detail, map, z, hist, norm, alpha, scale);
}

// Builds E into `map` from the value plane V read through value(i) (entry i
// of the W x H plane, row after row), using `detail` as scratch; both planes
// have V's size. `hist` holds scale.Bins() counters, overwritten: a wide
// enough type for every pixel to land in one bin (64 bits for any image,
// 32 bits for images under 2^31 pixels). `norm` is SmoothNorm for `alpha`
// with max(W, H) entries. value(i) must not read `detail` or `map`; it is
// read twice per entry. Nothing is allocated.
// Runs the plain twin or the fast one (local_contrast_map_twins.h); the
// same map and range bit for bit.
template <class Count, class Value>
ContrastRange BuildLocalContrastMap(const Value& value, const Plane& detail, const Plane& map, Count* hist,
                                    const float* norm, float alpha, const LocalContrastScale& scale);

}  // namespace lx

// The chooser above and its twins are templates: their bodies come with the
// header.
#include "stages/local_contrast_map_twins.h"
