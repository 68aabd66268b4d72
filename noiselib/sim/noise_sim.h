// SPDX-License-Identifier: MIT
// Noisy pictures for the noise library's tests and quality benchmark: white
// Gaussian noise, brightness-only noise, and camera-like noise as a photo
// from a small sensor at high ISO gets it (coarse, mostly colour, then JPEG).
//
// The noise is the same on every machine: our own random numbers
// (splitmix64), Gaussian deviates as a sum of twelve uniforms, a square law
// instead of a power for gamma (square roots are exact everywhere); the only
// outside step is JPEG, through OpenImageIO's libjpeg.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace noiselib::sim {

// Interleaved RGB, red first, 8 bits per sample.
struct Rgb8Image {
    int width = 0;
    int height = 0;
    std::vector<uint8_t> px;  // width * height * 3
};

// Reproducible random numbers: splitmix64.
class Random {
public:
    explicit Random(uint64_t seed) : state_(seed) {}
    uint64_t Next();
    // Uniform in [0, 1), 53 bits.
    double Uniform();
    // Mean 0, deviation 1: the sum of twelve uniforms less 6 (Irwin-Hall);
    // its tails stop at 6, which no test here reaches.
    double Gaussian();

private:
    uint64_t state_;
};

// Independent Gaussian noise of deviation `sigma` (8-bit levels) on every
// sample, rounded and clamped.
Rgb8Image AddWhiteNoise(const Rgb8Image& clean, double sigma, uint64_t seed);

// The same deviate added to the three samples of a pixel: brightness noise
// of deviation `sigma` and no colour noise.
Rgb8Image AddBrightnessNoise(const Rgb8Image& clean, double sigma, uint64_t seed);

// Camera-like noise. The clean picture is taken to linear light with a
// square law (L = (v / 255)^2, back with a square root), and the noise is
// made where a camera makes it:
//   1. at each site of an RGGB colour-filter mosaic, shot noise (variance
//      proportional to the site's light) plus read noise (constant);
//   2. bilinear demosaicing spreads each site's noise over its neighbours,
//      so the noise is correlated over about three pixels and red and blue,
//      sampled at a quarter of the sites, carry coarser noise than green;
//   3. a camera-to-sRGB colour matrix with strong off-diagonal terms lifts
//      the colour noise well above the brightness noise;
//   4. the result is rounded to 8 bits and JPEG-compressed with 4:2:0
//      chroma, which smears colour noise into blotches of 8 to 16 pixels.
// Only the noise goes through steps 2 and 3 (both are linear), so the clean
// picture stays the reference for PSNR and SSIM.
struct CameraNoise {
    // Luma deviation of the noise (8-bit levels) at mid grey (level 128)
    // before JPEG. Shot noise keeps it about the same at every brightness
    // after the square-root encoding; read noise raises it in the shadows.
    double lumaSigma = 8.0;
    // Share of the variance at mid grey that is read noise.
    double readShare = 0.15;
    // JPEG quality, 1..100; 0 leaves the picture uncompressed.
    int jpegQuality = 85;
    uint64_t seed = 1;
};
// Returns false (and a message) only when the JPEG step fails.
bool AddCameraNoise(const Rgb8Image& clean, const CameraNoise& noise, Rgb8Image& noisy, std::string& error);

// JPEG round trip through memory (4:2:0, baseline) at `quality`.
bool JpegRoundTrip(Rgb8Image& img, int quality, std::string& error);

// Quality measures against the clean picture, over the three channels.
double Psnr(const Rgb8Image& clean, const Rgb8Image& img);
// Mean SSIM of the three channels: Gaussian window of deviation 1.5
// (11 x 11), K1 0.01, K2 0.03, range 255, over pixels at least 5 from the
// border.
double Ssim(const Rgb8Image& clean, const Rgb8Image& img);

}  // namespace noiselib::sim
