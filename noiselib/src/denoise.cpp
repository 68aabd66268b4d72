// SPDX-License-Identifier: MIT
#include "denoise.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "sample_rows.h"
#include "work_memory.h"

namespace noiselib {
namespace {

constexpr int kStripRows = 32;      // level-0 strip rows; level s uses 32 >> s, at least 16
// Boxes over which the put-back measures removed energy: 7 x 7 (49 samples,
// which noise alone fills to within 20 %) for luma texture, 5 x 5 for
// chroma, whose noise at level 0 is smoother and rarely triggers it.
constexpr int kTextureRadius = 3;
constexpr int kChromaKeepRadius = 2;

// A float plane whose rows form a ring: Row(y) addresses row y of the level
// for the `rows` most recent rows y; columns [x0, x0 + width), x0 <= 0.
struct RingPlane {
    float* data = nullptr;
    int x0 = 0;
    int width = 0;
    int rows = 1;
    float* Row(int y) const {
        int k = y % rows;
        if (k < 0) k += rows;
        return data + std::ptrdiff_t(k) * width - x0;
    }
};

// Everything about one level that does not depend on the strip. The strip
// [a, b) of a level needs, from the inside out:
//   the band  the non-local means output [a - band, b + band): at level 0
//             the put-back's box radius (2, or 3 with the texture put-back)
//             plus the guided filter's 2 rc; at levels 1 and 2 the chroma
//             put-back's 2;
//   the input the band's weights need rs + 1 input rows and 2 rs + 1 input
//             columns beyond it (neighbours up to rs away, 3 x 3 patches,
//             half of the offsets visited from both ends).
struct LevelGeometry {
    int width = 0, height = 0;
    int stripRows = 0;
    int rs = 1;
    bool filter = false;  // non-local means at this level
    float sigma = 0.0f;
    int band = 0;
    int rowMargin() const { return band + rs + 1; }
    int colMargin() const { return band + 2 * rs + 1; }
    int inRows() const { return stripRows + 2 * rowMargin(); }
    int inWidth() const { return width + 2 * colMargin(); }
    int accMargin() const { return band + 2 * rs; }
    int accRows() const { return stripRows + 2 * band + 2 * rs; }
    int accWidth() const { return width + 2 * accMargin(); }
    int outRows() const { return stripRows + 2 * band; }
    int outWidth() const { return width + 2 * band; }
};

struct Geometry {
    int levels = 1;  // levels built: 1 + the coarsest that filters
    LevelGeometry level[kLevels];
    int chromaRadius = 1;  // rc
    bool putBack = false;  // luma texture or chroma put back
    // Rows of K (a level's change, kept for the finer level) that level s
    // keeps: two of its strips plus the finer level's margin, with room to
    // spare (see Ensure).
    int keptRows(int s) const { return 2 * level[s].stripRows + level[s - 1].rowMargin() + 8; }
};

Geometry MakeGeometry(int width, int height, const DenoiseSettings& s) {
    Geometry g;
    g.chromaRadius = std::clamp(s.chromaRadius, 1, 6);
    g.putBack = s.texture > 0.0f || s.chromaKeep > 0.0f;
    for (int k = 0; k < kLevels; ++k) {
        LevelGeometry& l = g.level[k];
        l.width = k == 0 ? width : (g.level[k - 1].width + 1) / 2;
        l.height = k == 0 ? height : (g.level[k - 1].height + 1) / 2;
        l.stripRows = std::min(std::max(kStripRows >> k, 16), l.height);
        l.rs = std::clamp(s.searchRadius[k], 1, 4);
        l.sigma = s.sigma[k];
        l.filter = l.sigma >= kMinSigma;
        if (l.filter) g.levels = k + 1;
    }
    const int chromaKeep = s.chromaKeep > 0.0f ? kChromaKeepRadius : 0;
    g.level[0].band = 2 * g.chromaRadius + std::max(s.texture > 0.0f ? kTextureRadius : 0, chromaKeep);
    for (int k = 1; k < kLevels; ++k) g.level[k].band = chromaKeep;
    return g;
}

// max(v, 0) without a branch or a comparison, so the loops below vectorise
// under strict IEEE flags; exact for every finite v.
inline float PositivePart(float v) { return 0.5f * (v + std::fabs(v)); }

int64_t PlaneBytes(int64_t width, int64_t rows) { return Carver::Aligned(width * rows * int64_t(sizeof(float))); }

// Put-back scratch: one row of the removed part squared, a ring of
// 2R + 1 rows of its row sums, one row of its box mean.
struct PutBackWork {
    float* removed = nullptr;
    RingPlane hsum;
    float* energy = nullptr;
};

// Working planes of one level.
struct LevelWork {
    LevelGeometry geo;
    RingPlane in[3];   // Y, Cb, Cr of G' (the level, corrected from below)
    RingPlane up[3];   // up(K) of the coarser level, row for row with `in`
    RingPlane acc[4];  // sums of w Y (w Cb, w Cr) and w, on the band
    RingPlane out[3];  // non-local means of the band (level 0: luma only)
    RingPlane k[3];    // K = D - G, columns [-1, width + 1) (levels 1, 2)
    float* diff = nullptr;
    float* weight = nullptr;
    float* rows = nullptr;  // squared patch-row differences: 3 rows per offset
    int inputEnd = INT_MIN;  // rows below this are in `in`
    int outEnd = INT_MIN;    // rows below this are in `out`
    PutBackWork putBack;     // levels 1, 2: chroma put-back
    RingPlane kept[2];       // levels 1, 2: chroma after put-back, the strip's rows
    int produced = 0;        // rows [0, produced) of K are done
};

// Level 0's guided filter and put-back planes.
struct FinishWork {
    // Guided filter: rings of 2 rc + 1 rows of row sums of I, I^2, Cb, Cr,
    // I Cb, I Cr and of a and b; one row of a and b; row buffers.
    RingPlane h[6], hab[4];
    float* ab[4] = {};
    float* rows[6] = {};
    RingPlane chroma[2];  // guided-filter output, band minus the filter's margins
    PutBackWork putBack;
    RingPlane kept[3];    // put-back results, the strip's rows
};

struct Workspace {
    LevelWork level[kLevels];
    FinishWork finish;
    int32_t* sums = nullptr;  // one level row of R, G, B sums (levels 1, 2)
    float* kRow = nullptr;    // one K row blended vertically, for up-sampling
    float* upRow = nullptr;   // one row of up(K)
};

// Carves (when `carve` has memory) or only counts the workspace.
struct Layout {
    Carver* carve = nullptr;
    int64_t bytes = 0;
    RingPlane Plane(int x0, int width, int rows) {
        bytes += PlaneBytes(width, rows);
        RingPlane p;
        p.x0 = x0;
        p.width = width;
        p.rows = rows;
        if (carve != nullptr) p.data = carve->Take<float>(int64_t{width} * rows);
        return p;
    }
    float* Row(int64_t n) {
        bytes += PlaneBytes(n, 1);
        return carve != nullptr ? carve->Take<float>(n) : nullptr;
    }
};

PutBackWork PutBackPlanes(Layout& lay, int width) {
    PutBackWork p;
    p.removed = lay.Row(width + 2 * kTextureRadius);
    p.hsum = lay.Plane(0, width, 2 * kTextureRadius + 1);
    p.energy = lay.Row(width);
    return p;
}

void LayOut(const Geometry& g, Layout& lay, Workspace& w) {
    int widest = 0;
    for (int k = 0; k < g.levels; ++k) {
        const LevelGeometry& l = g.level[k];
        LevelWork& lw = w.level[k];
        lw.geo = l;
        const int channels = k == 0 ? 1 : 3;
        for (auto& p : lw.in) p = lay.Plane(-l.colMargin(), l.inWidth(), l.inRows());
        if (k > 0 && k + 1 < g.levels)
            for (auto& p : lw.up) p = lay.Plane(0, l.width, l.inRows());
        if (l.filter) {
            for (int c = 0; c < channels; ++c) lw.acc[c] = lay.Plane(-l.accMargin(), l.accWidth(), l.accRows());
            lw.acc[3] = lay.Plane(-l.accMargin(), l.accWidth(), l.accRows());
            lw.diff = lay.Row(l.accWidth());
            lw.weight = lay.Row(l.accWidth());
            lw.rows = lay.Row(int64_t{2 * l.rs * (l.rs + 1)} * 3 * (l.accWidth() + 2));
        }
        for (int c = 0; c < channels; ++c) lw.out[c] = lay.Plane(-l.band, l.outWidth(), l.outRows());
        if (k > 0) {
            for (auto& p : lw.k) p = lay.Plane(-1, l.width + 2, g.keptRows(k));
            if (l.band > 0) {
                lw.putBack = PutBackPlanes(lay, l.width);
                for (int c = 0; c < 2; ++c) lw.kept[c] = lay.Plane(0, l.width, l.stripRows);
            }
        }
        widest = std::max(widest, l.width + 2);
    }
    // Level 0's finish: the guided filter works on the band less rc (first
    // box pass) and less 2 rc (second), the put-back on its outputs.
    const LevelGeometry& l0 = g.level[0];
    const int rc = g.chromaRadius, pb = l0.band - 2 * rc;
    FinishWork& f = w.finish;
    const int firstX = -(pb + rc), firstW = l0.width + 2 * (pb + rc);
    for (auto& p : f.h) p = lay.Plane(firstX, firstW, 2 * rc + 1);
    for (auto& p : f.hab) p = lay.Plane(-pb, l0.width + 2 * pb, 2 * rc + 1);
    for (auto& r : f.ab) r = lay.Row(firstW);
    for (auto& r : f.rows) r = lay.Row(firstW + 2 * rc);
    for (auto& p : f.chroma) p = lay.Plane(-pb, l0.width + 2 * pb, l0.stripRows + 2 * pb);
    if (g.putBack) {
        f.putBack = PutBackPlanes(lay, l0.width);
        for (auto& p : f.kept) p = lay.Plane(0, l0.width, l0.stripRows);
    }
    if (g.levels > 1) {
        w.sums = reinterpret_cast<int32_t*>(lay.Row(3 * int64_t{g.level[1].width}));
        w.kRow = lay.Row(widest);
        w.upRow = lay.Row(widest);
    }
}

// ---------------------------------------------------------------------------
// Filling a level's input rows.

// Row y (0 <= y < height) of level s: the means of 2^s x 2^s source pixels
// (the last ones cut at the image edge and filled with its last row and
// column), summed exactly as integers and converted once. Level 0 is the
// source row itself.
template <class T>
void LevelRow(const uint8_t* buffer, int64_t rowStride, bool redFirst, int sourceWidth, int sourceHeight, int s,
              int y, const LevelGeometry& l, int32_t* sums, float* const dst[3]) {
    if (s == 0) {
        RowToYCbCr<T>(buffer + int64_t{y} * rowStride, sourceWidth, redFirst, dst[0], dst[1], dst[2]);
        return;
    }
    const int n = 1 << s;
    const int whole = sourceWidth / n;  // level pixels with all n columns inside
    for (int j = 0; j < n; ++j) {
        const uint8_t* row = buffer + int64_t{std::min(y * n + j, sourceHeight - 1)} * rowStride;
        for (int x = 0; x < l.width; ++x) {
            int32_t sum[3] = {};
            for (int i = 0; i < n; ++i) {
                const int sx = x < whole ? x * n + i : std::min(x * n + i, sourceWidth - 1);
                const uint8_t* p = row + std::size_t(sx) * 3 * sizeof(T);
                for (int c = 0; c < 3; ++c) sum[c] += int32_t(LoadSample<T>(p + c * sizeof(T)));
            }
            int32_t* total = sums + 3 * x;
            for (int c = 0; c < 3; ++c) total[c] = j == 0 ? sum[c] : total[c] + sum[c];
        }
    }
    // At most 16 x 65535 per sum: exact in float.
    const float scale = SampleTraits<T>::kToWork / float(n * n);
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    for (int x = 0; x < l.width; ++x) {
        const int32_t* sum = sums + 3 * x;
        ToYCbCr(float(sum[ri]) * scale, float(sum[1]) * scale, float(sum[bi]) * scale, dst[0][x], dst[1][x],
                dst[2][x]);
    }
}

// dst = up(K)(y): the coarser level's K (height kHeight, its columns
// [-1, kWidth] filled) interpolated to row y of this level with weights
// 1/4, 3/4 (even y, x) and 3/4, 1/4 (odd): coarse sample j sits at 2 j + 1/2.
void UpRow(const RingPlane& k, int kHeight, int y, int width, float* tmp, float* dst) {
    const int j = y >> 1;
    const int near = j, far = std::clamp((y & 1) ? j + 1 : j - 1, 0, kHeight - 1);
    const float* a = k.Row(near);
    const float* b = k.Row(far);
    for (int x = -1; x <= k.width - 2; ++x) tmp[x + 1] = 0.75f * a[x] + 0.25f * b[x];
    const float* t = tmp + 1;  // t[-1 .. kWidth]
    for (int i = 0; i < width / 2; ++i) {
        dst[2 * i] = 0.25f * t[i - 1] + 0.75f * t[i];
        dst[2 * i + 1] = 0.75f * t[i] + 0.25f * t[i + 1];
    }
    if (width & 1) {
        const int i = width / 2;
        dst[width - 1] = 0.25f * t[i - 1] + 0.75f * t[i];
    }
}

// row += u.
void AddRow(int n, const float* __restrict u, float* __restrict row) {
    for (int x = 0; x < n; ++x) row[x] += u[x];
}

// k = (d - in) + u (u may be null: no coarser level).
void ChangeRow(int n, const float* __restrict d, const float* __restrict in, const float* __restrict u,
               float* __restrict k) {
    if (u != nullptr) {
        for (int x = 0; x < n; ++x) k[x] = (d[x] - in[x]) + u[x];
    } else {
        for (int x = 0; x < n; ++x) k[x] = d[x] - in[x];
    }
}

// ---------------------------------------------------------------------------
// Non-local means.

// d = (p - q)^2 for n + 2 pixels: one row of a patch difference.
void RowSquaredDifference(int n, const float* __restrict p, const float* __restrict q, float* __restrict d) {
    for (int i = 0; i < n + 2; ++i) {
        const float v = p[i] - q[i];
        d[i] = v * v;
    }
}

// Weights of neighbour offset (dx, dy) for n pixels of one row:
//   e = max(mean squared 3x3 patch difference - 2 sigma^2, 0) / (h sigma)^2
//   w = max(1 - e, 0)^2
// d0 and d1 are the squared differences of the patch rows above and at the
// pixels (kept from the rows before), p2 and q2 the rows below them for the
// pixels and the neighbours, one column to the left of the first; d2
// receives that row's squared differences for the rows after.
void PatchWeights(int n, const float* __restrict d0, const float* __restrict d1, const float* __restrict p2,
                  const float* __restrict q2, float* __restrict d2, float* __restrict diff, float* __restrict weight,
                  float twoSigma2, float invH2) {
    for (int i = 0; i < n + 2; ++i) {
        const float v = p2[i] - q2[i];
        const float s2 = v * v;
        d2[i] = s2;
        diff[i] = d0[i] + d1[i] + s2;
    }
    constexpr float kInvPatch = 1.0f / 9.0f;
    for (int i = 0; i < n; ++i) {
        const float dist = (diff[i] + diff[i + 1] + diff[i + 2]) * kInvPatch;
        const float e = PositivePart(dist - twoSigma2) * invH2;
        const float t = PositivePart(1.0f - e);
        weight[i] = t * t;
    }
}

void Accumulate1(int n, const float* __restrict weight, const float* __restrict y, float* __restrict aY,
                 float* __restrict aW) {
    for (int i = 0; i < n; ++i) {
        const float wt = weight[i];
        aY[i] += wt * y[i];
        aW[i] += wt;
    }
}

void Accumulate3(int n, const float* __restrict weight, const float* __restrict y, const float* __restrict cb,
                 const float* __restrict cr, float* __restrict aY, float* __restrict aCb, float* __restrict aCr,
                 float* __restrict aW) {
    for (int i = 0; i < n; ++i) {
        const float wt = weight[i];
        aY[i] += wt * y[i];
        aCb[i] += wt * cb[i];
        aCr[i] += wt * cr[i];
        aW[i] += wt;
    }
}

// Non-local means of rows [ya, yb), columns [xa, xb) of the level's `in`
// into `out`, for `channels` (1: luma, 3: with chroma). Every neighbour q of
// a pixel p within the search window is averaged in with the weight of
// PatchWeights, p itself with weight 1; the chroma shares the luma's
// weights. The weight of the pair (p, p + o) serves both p and p + o, so
// only half the offsets are visited, on a band rs rows and columns wider
// than the output.
void NonLocalMeans(const LevelWork& w, int channels, float lumaH, int xa, int xb, int ya, int yb) {
    const int rs = w.geo.rs;
    const float sigma = w.geo.sigma;
    const float twoSigma2 = 2.0f * sigma * sigma;
    const float h = lumaH * sigma;
    const float invH2 = 1.0f / (h * h);
    const RingPlane* in = w.in;
    const RingPlane& aW = w.acc[3];

    // Every sum starts with the pixel's own value at weight 1.
    for (int r = ya - rs; r < yb + rs; ++r) {
        for (int c = 0; c < channels; ++c)
            std::copy(in[c].Row(r) + xa - 2 * rs, in[c].Row(r) + xb + 2 * rs, w.acc[c].Row(r) + xa - 2 * rs);
        std::fill(aW.Row(r) + xa - 2 * rs, aW.Row(r) + xb + 2 * rs, 1.0f);
    }

    const int x0 = xa - rs;  // weights for columns [x0, x0 + n)
    const int n = xb - xa + 2 * rs;
    // The squared differences of a patch row serve the three pixel rows
    // whose patches hold it: each offset keeps the last three rows' in
    // `rows`, and each pixel row adds one.
    const int stride = n + 2;
    auto rowOf = [&](int offset, int row) {
        return w.rows + (std::ptrdiff_t(offset) * 3 + (row - (ya - rs) + 3) % 3) * stride;
    };
    for (int r = ya - rs; r < yb; ++r) {
        int offset = 0;
        for (int dy = 0; dy <= rs; ++dy) {
            for (int dx = dy == 0 ? 1 : -rs; dx <= rs; ++dx, ++offset) {
                if (r == ya - rs)
                    for (int j = r - 1; j <= r; ++j)
                        RowSquaredDifference(n, in[0].Row(j) + x0 - 1, in[0].Row(j + dy) + x0 - 1 + dx,
                                             rowOf(offset, j));
                PatchWeights(n, rowOf(offset, r - 1), rowOf(offset, r), in[0].Row(r + 1) + x0 - 1,
                             in[0].Row(r + 1 + dy) + x0 - 1 + dx, rowOf(offset, r + 1), w.diff, w.weight, twoSigma2,
                             invH2);
                const int q = r + dy, qx = x0 + dx;
                if (channels == 1) {
                    // p gains its neighbour p + o, and p + o gains p, with the same weight.
                    Accumulate1(n, w.weight, in[0].Row(q) + qx, w.acc[0].Row(r) + x0, aW.Row(r) + x0);
                    Accumulate1(n, w.weight, in[0].Row(r) + x0, w.acc[0].Row(q) + qx, aW.Row(q) + qx);
                } else {
                    Accumulate3(n, w.weight, in[0].Row(q) + qx, in[1].Row(q) + qx, in[2].Row(q) + qx,
                                w.acc[0].Row(r) + x0, w.acc[1].Row(r) + x0, w.acc[2].Row(r) + x0, aW.Row(r) + x0);
                    Accumulate3(n, w.weight, in[0].Row(r) + x0, in[1].Row(r) + x0, in[2].Row(r) + x0,
                                w.acc[0].Row(q) + qx, w.acc[1].Row(q) + qx, w.acc[2].Row(q) + qx, aW.Row(q) + qx);
                }
            }
        }
    }

    for (int r = ya; r < yb; ++r) {
        const float* sw = aW.Row(r);
        for (int c = 0; c < channels; ++c) {
            const float* a = w.acc[c].Row(r);
            float* o = w.out[c].Row(r);
            // sw >= 1: the pixel's own weight.
            for (int x = xa; x < xb; ++x) o[x] = a[x] / sw[x];
        }
    }
}

// Copies rows [ya, yb), columns [xa, xb) of `in` to `out` (a level that is
// not filtered).
void CopyBand(const LevelWork& w, int channels, int xa, int xb, int ya, int yb) {
    for (int r = ya; r < yb; ++r)
        for (int c = 0; c < channels; ++c) std::copy(w.in[c].Row(r) + xa, w.in[c].Row(r) + xb, w.out[c].Row(r) + xa);
}

// ---------------------------------------------------------------------------
// Level 0's finish: guided filter on the chroma, put-back, store.

// Guided filter (guide I = denoised luma, inputs p = Cb and Cr of G0'):
//   a = cov(I, p) / (var(I) + eps),  b = mean(p) - a mean(I)  per box,
//   p' = mean(a) I + mean(b),
// for the area [xa, xb) x [ya, yb), with (2R + 1)^2 boxes. In flat luma a
// is near 0 and p' is the box mean of p; across luma edges p follows I, so
// colour edges that coincide with them stay put. The box sums of I, I^2,
// p and I p for both channels are formed together, rows then columns
// (direct sums of at most 13 terms in float, so nothing drifts), then those
// of a and b: four passes over the strip in all.
// Row sums over 2R + 1 samples: h[x] = s[x - R] + ... + s[x + R], x in [0, n).
template <int R> inline void RowSums(const float* s, int n, float* __restrict h) {
    for (int x = 0; x < n; ++x) {
        float sum = s[x - R];
        for (int k = 1 - R; k <= R; ++k) sum += s[x + k];
        h[x] = sum;
    }
}

// Column means over 2R + 1 rows of `plane` around row y: m[x], x in [0, n)
// from column x0.
template <int R> inline void ColumnMeans(const RingPlane& plane, int y, int x0, int n, float* __restrict m) {
    constexpr float kInv = 1.0f / float((2 * R + 1) * (2 * R + 1));
    const float* rows[2 * R + 1];
    for (int k = -R; k <= R; ++k) rows[k + R] = plane.Row(y + k) + x0;
    for (int x = 0; x < n; ++x) {
        float sum = rows[0][x];
        for (int k = 1; k <= 2 * R; ++k) sum += rows[k][x];
        m[x] = sum * kInv;
    }
}

// The guided filter's pointwise steps, on rows.
void GuideProducts(int n, const float* __restrict i, const float* __restrict p0, const float* __restrict p1,
                   float* __restrict ii, float* __restrict i0, float* __restrict i1) {
    for (int x = 0; x < n; ++x) {
        ii[x] = i[x] * i[x];
        i0[x] = i[x] * p0[x];
        i1[x] = i[x] * p1[x];
    }
}

void GuideCoefficients(int n, float eps, const float* __restrict mI, const float* __restrict mII,
                       const float* __restrict m0, const float* __restrict m1, const float* __restrict mI0,
                       const float* __restrict mI1, float* __restrict a0, float* __restrict b0, float* __restrict a1,
                       float* __restrict b1) {
    for (int x = 0; x < n; ++x) {
        const float mi = mI[x];
        const float var = PositivePart(mII[x] - mi * mi);  // rounding can dip below 0
        const float c0 = (mI0[x] - mi * m0[x]) / (var + eps);
        const float c1 = (mI1[x] - mi * m1[x]) / (var + eps);
        a0[x] = c0;
        b0[x] = m0[x] - c0 * mi;
        a1[x] = c1;
        b1[x] = m1[x] - c1 * mi;
    }
}

void GuideApply(int n, const float* __restrict i, const float* __restrict ma, const float* __restrict mb,
                float* __restrict out) {
    for (int x = 0; x < n; ++x) out[x] = ma[x] * i[x] + mb[x];
}

template <int R>
void GuidedChromaR(FinishWork& f, const RingPlane& I, const RingPlane* P, float eps, int xa, int xb, int ya, int yb) {
    const int fa = xa - R, fb = xb + R, fy0 = ya - R, fy1 = yb + R;  // area of a and b
    const int n = fb - fa, m = xb - xa;
    float* const* t = f.rows;  // row buffers, columns from fa - R

    // One pass down the rows, each stage 2R rows behind the one before, so
    // that every row sum is still in cache when its column sums need it:
    //   row y:       row sums of I, I^2, Cb, Cr, I Cb, I Cr (products through
    //                row buffers)
    //   row y - R:   their column means, a and b of both channels, and the
    //                row sums of a and b
    //   row y - 2R:  the column means of those, and the result.
    for (int y = fy0 - R; y < yb + 2 * R; ++y) {
        if (y < fy1 + R) {
            const float* i = I.Row(y) + fa - R;
            const float* p0 = P[0].Row(y) + fa - R;
            const float* p1 = P[1].Row(y) + fa - R;
            GuideProducts(n + 2 * R, i, p0, p1, t[0], t[1], t[2]);
            RowSums<R>(i + R, n, f.h[0].Row(y) + fa);
            RowSums<R>(t[0] + R, n, f.h[1].Row(y) + fa);
            RowSums<R>(p0 + R, n, f.h[2].Row(y) + fa);
            RowSums<R>(p1 + R, n, f.h[3].Row(y) + fa);
            RowSums<R>(t[1] + R, n, f.h[4].Row(y) + fa);
            RowSums<R>(t[2] + R, n, f.h[5].Row(y) + fa);
        }
        const int yc = y - R;
        if (yc >= fy0 && yc < fy1) {
            for (int k = 0; k < 6; ++k) ColumnMeans<R>(f.h[k], yc, fa, n, t[k]);
            GuideCoefficients(n, eps, t[0], t[1], t[2], t[3], t[4], t[5], f.ab[0], f.ab[1], f.ab[2], f.ab[3]);
            for (int k = 0; k < 4; ++k) RowSums<R>(f.ab[k] + R, m, f.hab[k].Row(yc) + xa);
        }
        const int yo = y - 2 * R;
        if (yo >= ya && yo < yb) {
            for (int k = 0; k < 4; ++k) ColumnMeans<R>(f.hab[k], yo, xa, m, t[k]);
            GuideApply(m, I.Row(yo) + xa, t[0], t[1], f.chroma[0].Row(yo) + xa);
            GuideApply(m, I.Row(yo) + xa, t[2], t[3], f.chroma[1].Row(yo) + xa);
        }
    }
}

void GuidedChroma(FinishWork& f, const RingPlane& I, const RingPlane* P, int rc, float eps, int xa, int xb, int ya,
                  int yb) {
    switch (rc) {
        case 1: return GuidedChromaR<1>(f, I, P, eps, xa, xb, ya, yb);
        case 2: return GuidedChromaR<2>(f, I, P, eps, xa, xb, ya, yb);
        case 3: return GuidedChromaR<3>(f, I, P, eps, xa, xb, ya, yb);
        case 4: return GuidedChromaR<4>(f, I, P, eps, xa, xb, ya, yb);
        case 5: return GuidedChromaR<5>(f, I, P, eps, xa, xb, ya, yb);
        default: return GuidedChromaR<6>(f, I, P, eps, xa, xb, ya, yb);  // radii are clamped to 1..6
    }
}

// d = (a - b)^2.
void SquaredDifference(int n, const float* __restrict a, const float* __restrict b, float* __restrict d) {
    for (int x = 0; x < n; ++x) {
        const float r = a[x] - b[x];
        d[x] = r * r;
    }
}

// out = b + share * excess / E * (a - b) for E the mean removed energy.
void Restore(int n, float share, float s2, const float* __restrict energy, const float* __restrict a,
             const float* __restrict b, float* __restrict out) {
    for (int x = 0; x < n; ++x) {
        const float excess = PositivePart(energy[x] - s2);
        // excess + s2 = E when E > s2; the 1e-6 keeps 0 / 0 away when both vanish.
        const float keep = share * excess / (excess + s2 + 1e-6f);
        out[x] = b[x] + keep * (a[x] - b[x]);
    }
}

// Put-back: out = filtered + share * excess * (in - filtered), where excess
// = (E - s^2) / E for the mean E of (in - filtered)^2 over the box of radius R
// when E > s^2, else 0: where the filter removed no more than noise of
// deviation s nothing comes back; where it removed much more (texture it
// took for noise) nearly `share` of it does. Rows [ya, yb), columns [0, W);
// `filtered` and `in` must cover them grown by the box radius.
template <int R>
void PutBack(const PutBackWork& f, const RingPlane& in, const RingPlane& filtered, float share, float s, int width,
             int ya, int yb, const RingPlane& out) {
    const float s2 = s * s;
    // Row sums of the squared difference for row y, the result for row
    // y - R (its column sums need rows up to y; the ring holds 2R + 1).
    for (int y = ya - R; y < yb + R; ++y) {
        SquaredDifference(width + 2 * R, in.Row(y) - R, filtered.Row(y) - R, f.removed);
        RowSums<R>(f.removed + R, width, f.hsum.Row(y));
        const int yo = y - R;
        if (yo < ya) continue;
        ColumnMeans<R>(f.hsum, yo, 0, width, f.energy);
        Restore(width, share, s2, f.energy, in.Row(yo), filtered.Row(yo), out.Row(yo));
    }
}

// ---------------------------------------------------------------------------
// The levels, driven from level 0.

template <class T>
struct Pyramid {
    uint8_t* buffer;
    int64_t rowStride;
    bool redFirst;
    const Geometry& g;
    const DenoiseSettings& settings;
    Workspace& w;

    // Fills the input rows of level s up to row `end` (exclusive), from
    // `from` on: G(y) + up(K)(y) at the row y clamped to the level.
    void FillInput(int s, int from, int end) {
        LevelWork& l = w.level[s];
        const LevelGeometry& geo = l.geo;
        const int m = geo.colMargin();
        const bool coarser = s + 1 < g.levels;
        for (int y = std::max(from, l.inputEnd); y < end; ++y) {
            const int yc = std::clamp(y, 0, geo.height - 1);
            float* row[3] = {l.in[0].Row(y), l.in[1].Row(y), l.in[2].Row(y)};
            LevelRow<T>(buffer, rowStride, redFirst, g.level[0].width, g.level[0].height, s, yc, geo, w.sums, row);
            if (coarser) {
                // Level 0 needs up(K) only here; the coarser levels keep it
                // for their own K.
                const LevelWork& c = w.level[s + 1];
                for (int ch = 0; ch < 3; ++ch) {
                    float* u = s > 0 ? l.up[ch].Row(y) : w.upRow;
                    UpRow(c.k[ch], c.geo.height, yc, geo.width, w.kRow, u);
                    AddRow(geo.width, u, row[ch]);
                }
            }
            for (float* r : row) {
                std::fill(r - m, r, r[0]);
                std::fill(r + geo.width, r + geo.width + m, r[geo.width - 1]);
            }
        }
        l.inputEnd = std::max(l.inputEnd, end);
    }

    // Makes sure level s (s >= 1) has produced K rows [0, rows).
    void Ensure(int s, int rows) {
        LevelWork& l = w.level[s];
        while (l.produced < rows) {
            const int a = l.produced, b = std::min(l.geo.height, a + l.geo.stripRows);
            CoarseStrip(s, a, b);
            l.produced = b;
        }
    }

    // The K rows level s + 1 must hold before level s fills its input up to
    // row `end`: up(K)(y) reads coarse rows y / 2 - 1 .. y / 2 + 1.
    void EnsureBelow(int s, int end) {
        if (s + 1 >= g.levels) return;
        const int last = std::clamp(end - 1, 0, g.level[s].height - 1);
        Ensure(s + 1, std::min(g.level[s + 1].height, (last >> 1) + 2));
    }

    // Strip [a, b) of level s >= 1: denoise G' (the band's rows above
    // a + band were filtered with the strip before), put back chroma the
    // filter took for noise, then K = D - G' + up(K').
    void CoarseStrip(int s, int a, int b) {
        LevelWork& l = w.level[s];
        const LevelGeometry& geo = l.geo;
        const int end = b + geo.rowMargin(), band = geo.band;
        EnsureBelow(s, end);
        FillInput(s, a - geo.rowMargin(), end);
        const int from = std::max(l.outEnd, a - band);
        if (geo.filter) NonLocalMeans(l, 3, settings.lumaH, -band, geo.width + band, from, b + band);
        else CopyBand(l, 3, -band, geo.width + band, from, b + band);
        l.outEnd = b + band;
        const RingPlane* d[3] = {&l.out[0], &l.out[1], &l.out[2]};
        if (band > 0) {
            for (int c = 0; c < 2; ++c) {
                PutBack<kChromaKeepRadius>(l.putBack, l.in[1 + c], l.out[1 + c], settings.chromaKeep,
                                           settings.chromaSigma[s], geo.width, a, b, l.kept[c]);
                d[1 + c] = &l.kept[c];
            }
        }
        const bool coarser = s + 1 < g.levels;
        for (int y = a; y < b; ++y) {
            for (int c = 0; c < 3; ++c) {
                float* k = l.k[c].Row(y);
                ChangeRow(geo.width, d[c]->Row(y), l.in[c].Row(y), coarser ? l.up[c].Row(y) : nullptr, k);
                k[-1] = k[0];
                k[geo.width] = k[geo.width - 1];
            }
        }
    }

    // Strip [a, b) of level 0, written back to the buffer.
    void FineStrip(int a, int b) {
        LevelWork& l = w.level[0];
        const LevelGeometry& geo = l.geo;
        const int W = geo.width, band = geo.band, rc = g.chromaRadius, pb = band - 2 * rc;
        const int end = b + geo.rowMargin();
        EnsureBelow(0, end);
        FillInput(0, a - geo.rowMargin(), end);
        // The band's rows above a + band were filtered with the strip before.
        const int from = std::max(l.outEnd, a - band);
        if (geo.filter) NonLocalMeans(l, 1, settings.lumaH, -band, W + band, from, b + band);
        else CopyBand(l, 1, -band, W + band, from, b + band);
        l.outEnd = b + band;

        FinishWork& f = w.finish;
        GuidedChroma(f, l.out[0], &l.in[1], rc, settings.chromaEps, -pb, W + pb, a - pb, b + pb);
        const RingPlane* outY = &l.out[0];
        const RingPlane* outC[2] = {&f.chroma[0], &f.chroma[1]};
        if (settings.texture > 0.0f) {
            PutBack<kTextureRadius>(f.putBack, l.in[0], l.out[0], settings.texture, settings.textureSigma, W, a, b,
                                    f.kept[0]);
            outY = &f.kept[0];
        }
        if (settings.chromaKeep > 0.0f) {
            for (int c = 0; c < 2; ++c) {
                PutBack<kChromaKeepRadius>(f.putBack, l.in[1 + c], *outC[c], settings.chromaKeep,
                                           settings.chromaSigma[0], W, a, b, f.kept[1 + c]);
                outC[c] = &f.kept[1 + c];
            }
        }
        for (int y = a; y < b; ++y)
            YCbCrToRow<T>(outY->Row(y), outC[0]->Row(y), outC[1]->Row(y), W, redFirst,
                          buffer + int64_t{y} * rowStride);
    }
};

}  // namespace

int64_t DenoiseScratchBytes(int width, int height, int /*bytesPerSample*/, const DenoiseSettings& settings) {
    if (width <= 0 || height <= 0) return 0;
    const Geometry g = MakeGeometry(width, height, settings);
    Layout lay;
    Workspace w;
    LayOut(g, lay, w);
    return lay.bytes;
}

template <class T>
void Denoise(uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
             const DenoiseSettings& settings, void* scratch) {
    const Geometry g = MakeGeometry(width, height, settings);
    Layout count;
    Workspace w;
    LayOut(g, count, w);
    Carver carve(scratch, std::size_t(count.bytes));
    Layout lay{&carve, 0};
    LayOut(g, lay, w);

    Pyramid<T> p{buffer, rowStride, redFirst, g, settings, w};
    for (int a = 0; a < height; a += g.level[0].stripRows) p.FineStrip(a, std::min(height, a + g.level[0].stripRows));
}

template void Denoise<uint8_t>(uint8_t*, int, int, int64_t, bool, const DenoiseSettings&, void*);
template void Denoise<uint16_t>(uint8_t*, int, int, int64_t, bool, const DenoiseSettings&, void*);

}  // namespace noiselib
