// SPDX-License-Identifier: MIT
// The denoiser: non-local means on a three-level pyramid, coarse to fine.
//
// Level s holds the means of 2^s x 2^s pixels (Y, Cb, Cr). Starting at the
// coarsest level, each level is denoised with weights from 3 x 3 luma
// patches, and what the filter changed at that level is interpolated up
// (bilinear) and added to the next finer level before that one is filtered:
//
//     G2' = G2                         D2 = NLM(G2')
//     G1' = G1 + up(D2 - G2)           D1 = NLM(G1')
//     G0' = G0 + up(D1 - G1)           Y  = NLM(G0') (luma)
//                                      Cb, Cr = guided filter of G0' chroma,
//                                               guided by Y
//
// so noise correlated over several pixels (demosaicing, JPEG) and blotchy
// colour noise are removed where they live, at the coarse levels, where a
// small search window reaches far and costs a quarter or a sixteenth.
// Levels 1 and 2 average the chroma with the luma's weights; at level 0 the
// chroma only goes through the guided filter, which keeps colour edges that
// follow luma edges. At every level, chroma that a filter changed by more
// than the chroma noise explains is put back, so a picture whose noise is
// all in the luma keeps its colours.
//
// Each level runs in strips of rows kept in ring buffers and is driven from
// the level below it, so working memory depends on the width only.
#pragma once

#include <cstdint>

namespace noiselib {

constexpr int kLevels = 3;

// A level whose assumed noise is below this (1/20 of an 8-bit level) is
// left as it is.
constexpr float kMinSigma = 0.05f;

struct DenoiseSettings {
    // Per level: the luma noise deviation assumed in that level's pixels
    // (8-bit scale; below kMinSigma the level is left as it is) and the search
    // window radius (1..4; (2r + 1)^2 positions).
    float sigma[kLevels] = {};
    int searchRadius[kLevels] = {2, 2, 2};
    // The mean squared patch difference expected of two identical patches,
    // 2 sigma^2, is forgiven; beyond that a patch weighs
    // (1 - excess / (lumaH sigma)^2)^2, 0 past 1.
    float lumaH = 2.0f;
    // Guided filter on level 0's Cb and Cr: box radius 1..6 and regulariser
    // chromaEps (squared 8-bit levels; larger flattens chroma more).
    int chromaRadius = 2;
    float chromaEps = 1.0f;
    // Put-back: where a filter removed more than noise of the given
    // deviation (texture or colour detail it took for noise), that share of
    // the excess comes back; 0 leaves the filter's output. `texture` acts on
    // level 0's luma, `chromaKeep` on the chroma of every level (after the
    // guided filter at level 0, after non-local means at levels 1 and 2),
    // with that level's chroma noise deviation chromaSigma[s].
    float texture = 0.0f;
    float textureSigma = 0.0f;
    float chromaKeep = 0.0f;
    float chromaSigma[kLevels] = {};
};

// Working memory (bytes) that Denoise<T> needs (bytesPerSample = sizeof(T)
// does not change it): strips of 32 rows plus their margins at level 0 and
// of 16 at the coarser levels, about 20 MB for a 6000-pixel-wide image,
// whatever its height.
int64_t DenoiseScratchBytes(int width, int height, int bytesPerSample, const DenoiseSettings& settings);

// Denoises the interleaved three-sample buffer in place. Every strip is
// written back as soon as it is done: the levels keep the rows they still
// need in their rings and read only rows below it from the buffer. `scratch`
// holds DenoiseScratchBytes(...) bytes. Sizes must be positive and rowStride
// >= width * 3 * sizeof(T).
template <class T>
void Denoise(uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
             const DenoiseSettings& settings, void* scratch);

}  // namespace noiselib
