// SPDX-License-Identifier: MIT
// The denoiser: non-local means on luma, with the same weights averaging the
// chroma, then a guided filter that smooths the chroma further along the
// denoised luma's edges.
#pragma once

#include <cstdint>

namespace noiselib {

struct DenoiseSettings {
    // Non-local means: patches of 3 x 3 pixels compared within a search
    // window of (2 searchRadius + 1)^2 positions; searchRadius 1..3.
    int searchRadius = 2;
    // Assumed luma noise deviation (8-bit scale). The mean squared patch
    // difference expected of two identical patches, 2 sigma^2, is forgiven;
    // beyond that a patch weighs (1 - excess / (lumaH sigma)^2)^2, 0 past 1.
    float sigma = 0.0f;
    float lumaH = 1.0f;
    // Guided filter on Cb and Cr with the denoised luma as guide: box radius
    // 1..6 and regulariser (chromaK sigma)^2. Larger values flatten chroma
    // more; chroma edges that follow luma edges are kept.
    int chromaRadius = 2;
    float chromaK = 1.0f;
};

// Working memory (bytes) that Denoise<T> needs, with bytesPerSample =
// sizeof(T). About 70 bytes per pixel of one strip of 64 rows plus margins,
// so some 30 MB for a 6000-pixel-wide image, whatever its height.
int64_t DenoiseScratchBytes(int width, int height, int bytesPerSample, const DenoiseSettings& settings);

// Denoises the interleaved three-sample buffer in place, strip by strip: each
// strip of rows is converted with its margins, filtered, and written back
// only after the next strip has read the original rows it shares with it.
// `scratch` holds DenoiseScratchBytes(...) bytes. Sizes must be positive and
// rowStride >= width * 3 * sizeof(T).
template <class T>
void Denoise(uint8_t* buffer, int width, int height, int64_t rowStride, bool redFirst,
             const DenoiseSettings& settings, void* scratch);

}  // namespace noiselib
