// SPDX-License-Identifier: MIT
#include "denoise.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstring>

#include "sample_rows.h"
#include "work_memory.h"

namespace noiselib {
namespace {

constexpr int kPatchRadius = 1;  // 3 x 3 patches
constexpr int kStripRows = 64;   // core rows per strip; must exceed every margin (at most 19)

// A float plane covering columns [x0, x0 + width) and `rows` rows from image
// row y0; Row(y)[x] addresses image pixel (x, y).
struct Plane {
    float* data = nullptr;
    int x0 = 0;
    int width = 0;
    int rows = 0;
    int y0 = 0;
    float* Row(int y) const { return data + std::ptrdiff_t(y - y0) * width - x0; }
};

// Sizes of everything, from the image width and the settings. The strip's
// rows [ys, ye) need, from the inside out:
//   guided filter    nlm rows/columns beyond the strip: g = 2 rc (two box passes)
//   non-local means  weights on a band rs wider still, patches 1 wider again,
//                    and neighbours up to rs away: in margin g + 2 rs + 1
struct Geometry {
    int width = 0, height = 0;
    int searchRadius = 1;  // rs
    int chromaRadius = 1;  // rc
    int nlmMargin = 0;     // g
    int accMargin = 0;     // g + 2 rs: where weights are summed
    int inMargin = 0;      // g + 2 rs + 1: input columns/rows beyond the strip
    int stripRows = 0;
    int inWidth() const { return width + 2 * inMargin; }
    int inRows() const { return stripRows + 2 * inMargin; }
    int accWidth() const { return width + 2 * accMargin; }
    int accRows() const { return stripRows + 2 * nlmMargin + 2 * searchRadius; }
    int nlmWidth() const { return width + 2 * nlmMargin; }
    int nlmRows() const { return stripRows + 2 * nlmMargin; }
    int boxWidth() const { return width + 2 * chromaRadius; }
    int boxRows() const { return stripRows + 2 * chromaRadius; }
};

Geometry MakeGeometry(int width, int height, const DenoiseSettings& s) {
    Geometry g;
    g.width = width;
    g.height = height;
    g.searchRadius = std::clamp(s.searchRadius, 1, 3);
    g.chromaRadius = std::clamp(s.chromaRadius, 1, 6);
    g.nlmMargin = 2 * g.chromaRadius;
    g.accMargin = g.nlmMargin + 2 * g.searchRadius;
    g.inMargin = g.accMargin + kPatchRadius;
    g.stripRows = std::min(kStripRows, height);
    return g;
}

int64_t PlaneBytes(int64_t width, int64_t rows, int64_t elementBytes) {
    return Carver::Aligned(width * rows * elementBytes);
}

// Every piece of working memory, carved from one block.
struct Workspace {
    Plane in[3];   // Y, Cb, Cr of the strip with all margins
    Plane acc[4];  // sums of w Y, w Cb, w Cr and w
    Plane nlm[3];  // after non-local means, strip plus guided-filter margins
    Plane prod;    // guide times input, on the non-local-means extent
    Plane meanI, meanII, meanP, meanIP;  // first box pass, strip plus rc
    Plane meanA, meanB;                  // second box pass, the strip
    Plane hsum;                          // horizontal box sums
    float* diff = nullptr;    // one row of patch column differences
    float* weight = nullptr;  // one row of weights
    uint8_t* pending = nullptr;  // finished strip, waiting to be written back
};

int64_t WorkspaceBytes(const Geometry& g, int bytesPerSample) {
    const int64_t f = sizeof(float);
    int64_t bytes = 3 * PlaneBytes(g.inWidth(), g.inRows(), f);
    bytes += 4 * PlaneBytes(g.accWidth(), g.accRows(), f);
    bytes += 4 * PlaneBytes(g.nlmWidth(), g.nlmRows(), f);
    bytes += 4 * PlaneBytes(g.boxWidth(), g.boxRows(), f);
    bytes += 2 * PlaneBytes(g.width, g.stripRows, f);
    bytes += PlaneBytes(g.boxWidth(), g.nlmRows(), f);
    bytes += 2 * PlaneBytes(g.accWidth(), 1, f);
    bytes += PlaneBytes(int64_t{g.width} * 3 * bytesPerSample, g.stripRows, 1);
    return bytes;
}

Plane TakePlane(Carver& carve, int x0, int width, int rows) {
    Plane p;
    p.data = carve.Take<float>(int64_t{width} * rows);
    p.x0 = x0;
    p.width = width;
    p.rows = rows;
    return p;
}

Workspace CarveWorkspace(const Geometry& g, void* scratch, int bytesPerSample) {
    Carver carve(scratch, std::size_t(WorkspaceBytes(g, bytesPerSample)));
    Workspace w;
    for (auto& p : w.in) p = TakePlane(carve, -g.inMargin, g.inWidth(), g.inRows());
    for (auto& p : w.acc) p = TakePlane(carve, -g.accMargin, g.accWidth(), g.accRows());
    for (auto& p : w.nlm) p = TakePlane(carve, -g.nlmMargin, g.nlmWidth(), g.nlmRows());
    w.prod = TakePlane(carve, -g.nlmMargin, g.nlmWidth(), g.nlmRows());
    for (Plane* p : {&w.meanI, &w.meanII, &w.meanP, &w.meanIP})
        *p = TakePlane(carve, -g.chromaRadius, g.boxWidth(), g.boxRows());
    w.meanA = TakePlane(carve, 0, g.width, g.stripRows);
    w.meanB = TakePlane(carve, 0, g.width, g.stripRows);
    w.hsum = TakePlane(carve, -g.chromaRadius, g.boxWidth(), g.nlmRows());
    w.diff = carve.Take<float>(g.accWidth());
    w.weight = carve.Take<float>(g.accWidth());
    w.pending = carve.Take<uint8_t>(int64_t{g.width} * 3 * bytesPerSample * g.stripRows);
    return w;
}

// Places the strip's planes so that each starts its margin above row ys.
void SetStripOrigin(Workspace& w, const Geometry& g, int ys) {
    for (auto& p : w.in) p.y0 = ys - g.inMargin;
    for (auto& p : w.acc) p.y0 = ys - g.nlmMargin - g.searchRadius;
    for (auto& p : w.nlm) p.y0 = ys - g.nlmMargin;
    w.prod.y0 = ys - g.nlmMargin;
    for (Plane* p : {&w.meanI, &w.meanII, &w.meanP, &w.meanIP}) p->y0 = ys - g.chromaRadius;
    w.meanA.y0 = ys;
    w.meanB.y0 = ys;
    w.hsum.y0 = ys - g.nlmMargin;
}

// Converts rows [ys - inMargin, ye + inMargin) into Y, Cb, Cr; rows above and
// below the image repeat its first and last row, columns its first and last
// column.
template <class T>
void LoadStrip(const uint8_t* buffer, int64_t rowStride, bool redFirst, const Geometry& g, Workspace& w, int ys,
               int ye) {
    const int m = g.inMargin;
    for (int y = ys - m; y < ye + m; ++y) {
        const int source = std::clamp(y, 0, g.height - 1);
        float* rows[3] = {w.in[0].Row(y), w.in[1].Row(y), w.in[2].Row(y)};
        RowToYCbCr<T>(buffer + source * rowStride, g.width, redFirst, rows[0], rows[1], rows[2]);
        for (float* r : rows) {
            std::fill(r - m, r, r[0]);
            std::fill(r + g.width, r + g.width + m, r[g.width - 1]);
        }
    }
}

// max(v, 0) without a branch or a comparison, so the loops below vectorise
// under strict IEEE flags; exact for every finite v.
inline float PositivePart(float v) { return 0.5f * (v + std::fabs(v)); }

// Weights of neighbour offset (dx, dy) for n pixels of one row:
//   e = max(mean squared 3x3 patch difference - 2 sigma^2, 0) / (h sigma)^2
//   w = max(1 - e, 0)^2
// p0..p2 are the patch rows above, at and below the pixels, one column to
// the left of the first; q0..q2 the same for the neighbours.
void PatchWeights(int n, const float* __restrict p0, const float* __restrict p1, const float* __restrict p2,
                  const float* __restrict q0, const float* __restrict q1, const float* __restrict q2,
                  float* __restrict diff, float* __restrict weight, float twoSigma2, float invH2) {
    for (int i = 0; i < n + 2; ++i) {
        const float d0 = p0[i] - q0[i];
        const float d1 = p1[i] - q1[i];
        const float d2 = p2[i] - q2[i];
        diff[i] = d0 * d0 + d1 * d1 + d2 * d2;
    }
    constexpr float kInvPatch = 1.0f / 9.0f;
    for (int i = 0; i < n; ++i) {
        const float dist = (diff[i] + diff[i + 1] + diff[i + 2]) * kInvPatch;
        const float e = PositivePart(dist - twoSigma2) * invH2;
        const float t = PositivePart(1.0f - e);
        weight[i] = t * t;
    }
}

// a += weight * v for the three channels, and the weight sum.
void Accumulate(int n, const float* __restrict weight, const float* __restrict y, const float* __restrict cb,
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

// Non-local means of the strip's rows [ys - g, ye + g), columns [-g, W + g).
// Every neighbour q of a pixel p within the search window is averaged in
// with the weight of PatchWeights, p itself with weight 1; Y, Cb and Cr share
// the weights, so the chroma follows the luma's structure. The weight of the
// pair (p, p + o) serves both p and p + o, so only half the offsets are
// visited, on a band rs rows and columns wider than the output.
void NonLocalMeans(const Workspace& w, const Geometry& g, const DenoiseSettings& s, int ys, int ye) {
    const int rs = g.searchRadius;
    const float twoSigma2 = 2.0f * s.sigma * s.sigma;
    const float h = s.lumaH * s.sigma;
    const float invH2 = 1.0f / (h * h);

    // Every sum starts with the pixel's own value at weight 1.
    for (int r = ys - g.nlmMargin - rs; r < ye + g.nlmMargin + rs; ++r) {
        for (int c = 0; c < 3; ++c)
            std::copy(w.in[c].Row(r) - g.accMargin, w.in[c].Row(r) + g.width + g.accMargin,
                      w.acc[c].Row(r) - g.accMargin);
        std::fill(w.acc[3].Row(r) - g.accMargin, w.acc[3].Row(r) + g.width + g.accMargin, 1.0f);
    }

    const int xa = -g.nlmMargin - rs;  // weights for columns [xa, xa + n)
    const int n = g.width + 2 * (g.nlmMargin + rs);
    for (int r = ys - g.nlmMargin - rs; r < ye + g.nlmMargin; ++r) {
        const Plane* in = w.in;
        for (int dy = 0; dy <= rs; ++dy) {
            for (int dx = dy == 0 ? 1 : -rs; dx <= rs; ++dx) {
                PatchWeights(n, in[0].Row(r - 1) + xa - 1, in[0].Row(r) + xa - 1, in[0].Row(r + 1) + xa - 1,
                             in[0].Row(r - 1 + dy) + xa - 1 + dx, in[0].Row(r + dy) + xa - 1 + dx,
                             in[0].Row(r + 1 + dy) + xa - 1 + dx, w.diff, w.weight, twoSigma2, invH2);
                // p gains its neighbour p + o ...
                Accumulate(n, w.weight, in[0].Row(r + dy) + xa + dx, in[1].Row(r + dy) + xa + dx,
                           in[2].Row(r + dy) + xa + dx, w.acc[0].Row(r) + xa, w.acc[1].Row(r) + xa,
                           w.acc[2].Row(r) + xa, w.acc[3].Row(r) + xa);
                // ... and p + o gains p, with the same weight.
                Accumulate(n, w.weight, in[0].Row(r) + xa, in[1].Row(r) + xa, in[2].Row(r) + xa,
                           w.acc[0].Row(r + dy) + xa + dx, w.acc[1].Row(r + dy) + xa + dx,
                           w.acc[2].Row(r + dy) + xa + dx, w.acc[3].Row(r + dy) + xa + dx);
            }
        }
    }

    for (int r = ys - g.nlmMargin; r < ye + g.nlmMargin; ++r) {
        const float* aW = w.acc[3].Row(r);
        for (int c = 0; c < 3; ++c) {
            const float* a = w.acc[c].Row(r);
            float* o = w.nlm[c].Row(r);
            // aW >= 1: the pixel's own weight.
            for (int x = -g.nlmMargin; x < g.width + g.nlmMargin; ++x) o[x] = a[x] / aW[x];
        }
    }
}

// dst = mean of src over the (2 R + 1)^2 box around each pixel of
// [xa, xb) x [ya, yb); src must cover that area grown by R. Direct sums, rows
// then columns, in float: at most 13 terms each, so nothing drifts, and with
// R fixed at compile time the loops unroll and vectorise.
template <int R>
void BoxMeanR(const Plane& src, const Plane& dst, int xa, int xb, int ya, int yb,
              const Plane& hsum) {
    const int n = xb - xa;
    for (int y = ya - R; y < yb + R; ++y) {
        const float* s = src.Row(y) + xa;
        float* __restrict h = hsum.Row(y) + xa;
        for (int i = 0; i < n; ++i) {
            float sum = s[i - R];
            for (int k = 1 - R; k <= R; ++k) sum += s[i + k];
            h[i] = sum;
        }
    }
    constexpr float kInv = 1.0f / float((2 * R + 1) * (2 * R + 1));
    for (int y = ya; y < yb; ++y) {
        const float* rows[2 * R + 1];
        for (int k = -R; k <= R; ++k) rows[k + R] = hsum.Row(y + k) + xa;
        float* __restrict d = dst.Row(y) + xa;
        for (int i = 0; i < n; ++i) {
            float sum = rows[0][i];
            for (int k = 1; k <= 2 * R; ++k) sum += rows[k][i];
            d[i] = sum * kInv;
        }
    }
}

void BoxMean(const Plane& src, const Plane& dst, int xa, int xb, int ya, int yb, int r,
             const Plane& hsum) {
    switch (r) {
        case 1: return BoxMeanR<1>(src, dst, xa, xb, ya, yb, hsum);
        case 2: return BoxMeanR<2>(src, dst, xa, xb, ya, yb, hsum);
        case 3: return BoxMeanR<3>(src, dst, xa, xb, ya, yb, hsum);
        case 4: return BoxMeanR<4>(src, dst, xa, xb, ya, yb, hsum);
        case 5: return BoxMeanR<5>(src, dst, xa, xb, ya, yb, hsum);
        default: return BoxMeanR<6>(src, dst, xa, xb, ya, yb, hsum);  // radii are clamped to 1..6
    }
}

// Guided filter (guide I = denoised luma, input p = one chroma plane):
//   a = cov(I, p) / (var(I) + eps),  b = mean(p) - a mean(I)  per box,
//   p' = mean(a) I + mean(b).
// In flat luma a is near 0 and p' is the box mean of p; across luma edges
// p follows I, so colour edges that coincide with them stay put.
void GuidedChroma(Workspace& w, const Geometry& g, float eps, int ys, int ye) {
    const int rc = g.chromaRadius;
    const int W = g.width;
    const int xa = -rc, xb = W + rc, ya = ys - rc, yb = ye + rc;  // first-pass area
    const int pa = -g.nlmMargin, pb = W + g.nlmMargin;             // its inputs
    const Plane& I = w.nlm[0];

    BoxMean(I, w.meanI, xa, xb, ya, yb, rc, w.hsum);
    for (int y = ya - rc; y < yb + rc; ++y) {
        const float* i = I.Row(y);
        float* o = w.prod.Row(y);
        for (int x = pa; x < pb; ++x) o[x] = i[x] * i[x];
    }
    BoxMean(w.prod, w.meanII, xa, xb, ya, yb, rc, w.hsum);

    for (int c = 1; c <= 2; ++c) {
        const Plane& P = w.nlm[c];
        BoxMean(P, w.meanP, xa, xb, ya, yb, rc, w.hsum);
        for (int y = ya - rc; y < yb + rc; ++y) {
            const float* i = I.Row(y);
            const float* p = P.Row(y);
            float* o = w.prod.Row(y);
            for (int x = pa; x < pb; ++x) o[x] = i[x] * p[x];
        }
        BoxMean(w.prod, w.meanIP, xa, xb, ya, yb, rc, w.hsum);
        for (int y = ya; y < yb; ++y) {
            const float* mi = w.meanI.Row(y);
            const float* mii = w.meanII.Row(y);
            float* mp = w.meanP.Row(y);    // becomes b
            float* mip = w.meanIP.Row(y);  // becomes a
            for (int x = xa; x < xb; ++x) {
                const float var = std::max(mii[x] - mi[x] * mi[x], 0.0f);  // rounding can dip below 0
                const float a = (mip[x] - mi[x] * mp[x]) / (var + eps);
                mip[x] = a;
                mp[x] = mp[x] - a * mi[x];
            }
        }
        BoxMean(w.meanIP, w.meanA, 0, W, ys, ye, rc, w.hsum);
        BoxMean(w.meanP, w.meanB, 0, W, ys, ye, rc, w.hsum);
        for (int y = ys; y < ye; ++y) {
            const float* i = I.Row(y);
            const float* a = w.meanA.Row(y);
            const float* b = w.meanB.Row(y);
            float* p = P.Row(y);
            for (int x = 0; x < W; ++x) p[x] = a[x] * i[x] + b[x];
        }
    }
}

}  // namespace

int64_t DenoiseScratchBytes(int width, int height, int bytesPerSample, const DenoiseSettings& settings) {
    if (width <= 0 || height <= 0) return 0;
    return WorkspaceBytes(MakeGeometry(width, height, settings), bytesPerSample);
}

template <class T>
void Denoise(uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
             const DenoiseSettings& settings, void* scratch) {
    const Geometry g = MakeGeometry(width, height, settings);
    Workspace w = CarveWorkspace(g, scratch, int(sizeof(T)));
    const std::size_t rowBytes = std::size_t(width) * 3 * sizeof(T);
    const float chromaH = settings.chromaK * settings.sigma;
    const float eps = std::max(chromaH * chromaH, 1e-3f);

    // Strip k reads original rows down to ys - inMargin, which lie in strip
    // k - 1 (inMargin <= 19 < kStripRows); so strip k - 1 is written back
    // only after strip k has been loaded.
    int pendingStart = 0, pendingRows = 0;
    for (int ys = 0; ys < height; ys += g.stripRows) {
        const int ye = std::min(height, ys + g.stripRows);
        SetStripOrigin(w, g, ys);
        LoadStrip<T>(buffer, rowStride, redFirst, g, w, ys, ye);
        for (int i = 0; i < pendingRows; ++i)
            std::memcpy(buffer + (pendingStart + i) * rowStride, w.pending + i * rowBytes, rowBytes);

        NonLocalMeans(w, g, settings, ys, ye);
        GuidedChroma(w, g, eps, ys, ye);
        for (int y = ys; y < ye; ++y)
            YCbCrToRow<T>(w.nlm[0].Row(y), w.nlm[1].Row(y), w.nlm[2].Row(y), width, redFirst,
                          w.pending + (y - ys) * rowBytes);
        pendingStart = ys;
        pendingRows = ye - ys;
    }
    for (int i = 0; i < pendingRows; ++i)
        std::memcpy(buffer + (pendingStart + i) * rowStride, w.pending + i * rowBytes, rowBytes);
}

template void Denoise<uint8_t>(uint8_t*, int, int, int64_t, bool, const DenoiseSettings&, void*);
template void Denoise<uint16_t>(uint8_t*, int, int, int64_t, bool, const DenoiseSettings&, void*);

}  // namespace noiselib
