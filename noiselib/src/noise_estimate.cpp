// SPDX-License-Identifier: MIT
#include "noise_estimate.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "noise_floor.h"
#include "sample_rows.h"
#include "work_memory.h"

namespace noiselib {
namespace {

constexpr int kTile = 64;             // tile side, pixels: one block of level 2
constexpr int kBlock = 16;            // block side at every level
constexpr int kMaxTiles = 384;        // tiles visited at most (1.6 megapixels)
constexpr int kMinBlocks = 8;         // usable blocks a level needs
constexpr int kClipPerMille = 60;     // clipped pixels a block may hold, per thousand
constexpr float kClipLow = 1.0f, kClipHigh = 254.0f;
constexpr float kDark = 32.0f;         // blocks of a darker mean luma count only when the light ones are few:
constexpr int kLightShare = 8;         // under 8 or under 1 in 8 of all blocks
constexpr int kGrid = kTile / kBlock;  // 16 x 16 blocks per tile side at level 0

// Blocks per tile at level s: (kTile / (kBlock 2^s))^2 = 16, 4, 1.
constexpr int kBlocksPerTile[kNoiseLevels] = {16, 4, 1};

struct Scratch {
    float* plane[kNoiseLevels][3];     // Y, Cb, Cr of the tile at each level
    uint16_t* clipped;                 // clipped pixels per 16 x 16 block of level 0
    float* variance[3][kNoiseLevels];  // block variances found so far
    // Level 0, luma: each block's variance again (variance[0][0] is sorted
    // in place) and that of its 8 x 8 means of 2 x 2 (level 1 over the same
    // pixels), at the same places.
    float* luma;
    float* halved;
};

int64_t Floats(int64_t n) { return Carver::Aligned(n * int64_t(sizeof(float))); }

int64_t ScratchBytes() {
    int64_t bytes = 0;
    for (int s = 0; s < kNoiseLevels; ++s) bytes += 3 * Floats(int64_t{kTile >> s} * (kTile >> s));
    bytes += Carver::Aligned(int64_t{kGrid} * kGrid * int64_t(sizeof(uint16_t)));
    for (int s = 0; s < kNoiseLevels; ++s) bytes += 3 * Floats(int64_t{kMaxTiles} * kBlocksPerTile[s]);
    bytes += 2 * Floats(int64_t{kMaxTiles} * kBlocksPerTile[0]);
    return bytes;
}

Scratch CarveScratch(void* memory) {
    Carver carve(memory, std::size_t(ScratchBytes()));
    Scratch s;
    for (int k = 0; k < kNoiseLevels; ++k)
        for (int c = 0; c < 3; ++c) s.plane[k][c] = carve.Take<float>(int64_t{kTile >> k} * (kTile >> k));
    s.clipped = carve.Take<uint16_t>(kGrid * kGrid);
    for (int k = 0; k < kNoiseLevels; ++k)
        for (int c = 0; c < 3; ++c) s.variance[c][k] = carve.Take<float>(int64_t{kMaxTiles} * kBlocksPerTile[k]);
    s.luma = carve.Take<float>(int64_t{kMaxTiles} * kBlocksPerTile[0]);
    s.halved = carve.Take<float>(int64_t{kMaxTiles} * kBlocksPerTile[0]);
    return s;
}

// Variance of the N x N block at (bx, by) of a plane `stride` floats wide
// about its least-squares plane. With coordinates u, v centred on the block
// (-(N - 1) / 2 .. (N - 1) / 2) the plane's terms are orthogonal: the
// residual sum of squares is sum d^2 - (sum u d)^2 / sum u^2 - (sum v d)^2 /
// sum v^2 for d the deviations from the block mean, sum u^2 = N^2 (N^2 - 1)
// / 12 (16 x 340 for N = 16).
template <int N>
float BlockVariance(const float* plane, int stride, int bx, int by, float* blockMean) {
    constexpr float kCentre = 0.5f * float(N - 1);
    float mean = 0.0f;
    for (int y = 0; y < N; ++y) {
        const float* row = plane + std::ptrdiff_t(by + y) * stride + bx;
        float rowSum = 0.0f;
        for (int x = 0; x < N; ++x) rowSum += row[x];
        mean += rowSum;
    }
    constexpr float kInvCount = 1.0f / float(N * N);
    mean *= kInvCount;
    *blockMean = mean;
    float ss = 0.0f, su = 0.0f, sv = 0.0f;
    for (int y = 0; y < N; ++y) {
        const float* row = plane + std::ptrdiff_t(by + y) * stride + bx;
        const float v = float(y) - kCentre;
        float rowSs = 0.0f, rowSu = 0.0f, rowSum = 0.0f;
        for (int x = 0; x < N; ++x) {
            const float d = row[x] - mean;
            rowSs += d * d;
            rowSu += (float(x) - kCentre) * d;
            rowSum += d;
        }
        ss += rowSs;
        su += rowSu;
        sv += v * rowSum;
    }
    constexpr float kInvMoment = 12.0f / float(N * N * (N * N - 1));
    const float residual = ss - su * su * kInvMoment - sv * sv * kInvMoment;
    return std::max(residual, 0.0f) / float(N * N - 3);
}

// Reads a tile of tw x th pixels (multiples of 16) at (x0, y0) into the
// level-0 planes and counts clipped pixels per 16 x 16 block.
template <class T>
void LoadTile(const uint8_t* buffer, int64_t rowStride, bool redFirst, int x0, int y0, int tw, int th, Scratch& s) {
    std::fill(s.clipped, s.clipped + kGrid * kGrid, uint16_t{0});
    constexpr float k = SampleTraits<T>::kToWork;
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    for (int y = 0; y < th; ++y) {
        const uint8_t* row = buffer + (y0 + y) * rowStride + std::size_t(x0) * 3 * sizeof(T);
        RowToYCbCr<T>(row, tw, redFirst, s.plane[0][0] + y * kTile, s.plane[0][1] + y * kTile,
                      s.plane[0][2] + y * kTile);
        for (int x = 0; x < tw; ++x) {
            const uint8_t* p = row + std::size_t(x) * 3 * sizeof(T);
            const float r = LoadSample<T>(p + ri * sizeof(T)) * k;
            const float g = LoadSample<T>(p + sizeof(T)) * k;
            const float b = LoadSample<T>(p + bi * sizeof(T)) * k;
            const float lo = std::min(r, std::min(g, b)), hi = std::max(r, std::max(g, b));
            if (lo <= kClipLow || hi >= kClipHigh) ++s.clipped[(y / kBlock) * kGrid + x / kBlock];
        }
    }
}

// Level s + 1 of the tile from level s: means of 2 x 2.
void Halve(const Scratch& s, int level, int tw, int th) {
    const int srcStride = kTile >> level, dstStride = kTile >> (level + 1);
    for (int c = 0; c < 3; ++c) {
        const float* src = s.plane[level][c];
        float* dst = s.plane[level + 1][c];
        for (int y = 0; y < th / 2; ++y)
            for (int x = 0; x < tw / 2; ++x) {
                const float* a = src + std::ptrdiff_t(2 * y) * srcStride + 2 * x;
                dst[y * dstStride + x] = ((a[0] + a[1]) + (a[srcStride] + a[srcStride + 1])) * 0.25f;
            }
    }
}

}  // namespace

int64_t NoiseEstimateScratchBytes(int /*width*/, int /*height*/) { return ScratchBytes(); }

template <class T>
NoiseProfile EstimateNoise(const uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
                           void* scratch) {
    NoiseProfile profile;
    if (width < kBlock || height < kBlock) return profile;
    Scratch s = CarveScratch(scratch);
    int count[3][kNoiseLevels] = {};
    int darkCount[3][kNoiseLevels] = {};

    // Every `step`-th tile in both directions, so that at most kMaxTiles are
    // visited; the last tile of a row or column is cut to a multiple of 16.
    const int tilesX = (width + kTile - 1) / kTile, tilesY = (height + kTile - 1) / kTile;
    int step = 1;
    while (int64_t{(tilesX + step - 1) / step} * ((tilesY + step - 1) / step) > kMaxTiles) ++step;
    for (int ty = 0; ty < tilesY; ty += step) {
        for (int tx = 0; tx < tilesX; tx += step) {
            const int x0 = tx * kTile, y0 = ty * kTile;
            const int tw = std::min(kTile, width - x0) / kBlock * kBlock;
            const int th = std::min(kTile, height - y0) / kBlock * kBlock;
            if (tw == 0 || th == 0) continue;
            LoadTile<T>(buffer, rowStride, redFirst, x0, y0, tw, th, s);
            for (int level = 1; level < kNoiseLevels; ++level)
                Halve(s, level - 1, tw >> (level - 1), th >> (level - 1));
            for (int level = 0; level < kNoiseLevels; ++level) {
                const int stride = kTile >> level, span = kBlock << level;  // block side in pixels
                for (int by = 0; by + span <= th; by += span) {
                    for (int bx = 0; bx + span <= tw; bx += span) {
                        int clipped = 0;
                        for (int j = by / kBlock; j < (by + span) / kBlock; ++j)
                            for (int i = bx / kBlock; i < (bx + span) / kBlock; ++i)
                                clipped += s.clipped[j * kGrid + i];
                        if (int64_t{clipped} * 1000 > int64_t{span} * span * kClipPerMille) continue;
                        bool dark = false;
                        for (int c = 0; c < 3; ++c) {
                            float mean = 0.0f;
                            const float v =
                                BlockVariance<kBlock>(s.plane[level][c], stride, bx >> level, by >> level, &mean);
                            if (c == 0) dark = mean < kDark;
                            if (!(v > 0.0f)) continue;
                            // Dark blocks go to the end of the list, the others to its front.
                            int& n = dark ? darkCount[c][level] : count[c][level];
                            const int at = dark ? kMaxTiles * kBlocksPerTile[level] - 1 - n : n;
                            s.variance[c][level][at] = v;
                            if (c == 0 && level == 0) {
                                float unused = 0.0f;
                                s.luma[at] = v;
                                s.halved[at] = BlockVariance<kBlock / 2>(s.plane[1][0], kTile / 2, bx / 2, by / 2,
                                                                         &unused);
                            }
                            ++n;
                        }
                    }
                }
            }
        }
    }

    for (int c = 0; c < 3; ++c) {
        for (int level = 0; level < kNoiseLevels; ++level) {
            const float finer = level > 0 ? profile.level[c][level - 1] : 0.0f;
            const int cap = kMaxTiles * kBlocksPerTile[level];
            float* e = s.variance[c][level];
            const int dark = darkCount[c][level];
            if (count[c][level] < kMinBlocks || count[c][level] * kLightShare < count[c][level] + dark) {
                // Too few blocks in the light: the dark ones join them
                // (already in place when the two ends meet).
                if (count[c][level] != cap - dark) {
                    std::copy(e + cap - dark, e + cap, e + count[c][level]);
                    if (c == 0 && level == 0)
                        for (float* f : {s.luma, s.halved}) std::copy(f + cap - dark, f + cap, f + count[c][level]);
                }
                count[c][level] += dark;
            }
            if (count[c][level] < kMinBlocks) {
                profile.level[c][level] = 0.5f * finer;
                continue;
            }
            // Averaging never adds noise, so luma level s + 1 reads at most
            // level s (more is texture). Chroma may read more: JPEG keeps
            // one colour per 8 x 8 block of half-size chroma, so 16 x 16
            // blocks of pixels can be flat while their colour jumps from
            // block to block, noise that only the coarser levels see.
            // Only the full-size luma looks for a few flat blocks under
            // texture everywhere: the presets check the other readings
            // against it, and there a quieter few are as often a smooth
            // part of the scene (on the noise benchmark, looking for them
            // at every reading cost up to 1.3 dB where it gained elsewhere).
            const float v = NoiseFloorVariance(s.variance[c][level], count[c][level], c == 0 && level == 0);
            const float d = std::sqrt(v);
            if (c == 0 && level == 0) {
                // The blocks that made the reading, averaged 2 x 2: their
                // variance over all of theirs.
                double sum = 0.0, halved = 0.0;
                for (int i = 0; i < count[c][level]; ++i)
                    if (s.luma[i] <= kAccept * v) sum += s.luma[i], halved += s.halved[i];
                profile.fall = sum > 0.0 ? float(std::sqrt(halved / sum)) : 0.5f;
            }
            if (level == 0) profile.level[c][level] = d;
            else profile.level[c][level] = c == 0 ? std::clamp(d, 0.5f * finer, finer) : std::max(d, 0.5f * finer);
        }
    }
    return profile;
}

template NoiseProfile EstimateNoise<uint8_t>(const uint8_t*, int, int, int64_t, bool, void*);
template NoiseProfile EstimateNoise<uint16_t>(const uint8_t*, int, int, int64_t, bool, void*);

}  // namespace noiselib
