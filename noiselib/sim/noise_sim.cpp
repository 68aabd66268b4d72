// SPDX-License-Identifier: MIT
#include "noise_sim.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <cmath>
#include <cstddef>

namespace noiselib::sim {
namespace {

uint8_t RoundClamp(double v) { return uint8_t(std::clamp(std::floor(v + 0.5), 0.0, 255.0)); }

// Camera-to-sRGB matrix of a typical small-sensor camera: rows sum to 1 (grey
// stays grey), off-diagonal terms up to -0.62 amplify colour differences.
constexpr double kColourMatrix[3][3] = {
    {1.80, -0.62, -0.18},
    {-0.20, 1.52, -0.32},
    {0.02, -0.52, 1.50},
};
constexpr double kLuma[3] = {0.299, 0.587, 0.114};

// Site colour of the RGGB mosaic: 0 red, 1 green, 2 blue.
int SiteColour(int x, int y) { return (x & 1) + (y & 1); }

// Luma deviation that per-site noise of deviation 1 ends up with: bilinear
// demosaicing leaves red and blue an average variance of (1 + 1/2 + 1/2 +
// 1/4) / 4 = 0.5625 over the four mosaic phases and green (1 + 1 + 1/4 +
// 1/4) / 4 = 0.625; the channels stay independent (disjoint sites) until
// the matrix mixes them.
double LumaGainOfSiteNoise() {
    const double share[3] = {0.5625, 0.625, 0.5625};
    double var = 0.0;
    for (int c = 0; c < 3; ++c) {
        double l = 0.0;
        for (int r = 0; r < 3; ++r) l += kLuma[r] * kColourMatrix[r][c];
        var += l * l * share[c];
    }
    return std::sqrt(var);
}

}  // namespace

uint64_t Random::Next() {
    uint64_t z = (state_ += 0x9E3779B97F4A7C15ull);
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

double Random::Uniform() { return double(Next() >> 11) * (1.0 / 9007199254740992.0); }

double Random::Gaussian() {
    double s = 0.0;
    for (int i = 0; i < 12; ++i) s += Uniform();
    return s - 6.0;
}

Rgb8Image AddWhiteNoise(const Rgb8Image& clean, double sigma, uint64_t seed) {
    Random rng(seed);
    Rgb8Image out = clean;
    for (uint8_t& v : out.px) v = RoundClamp(double(v) + sigma * rng.Gaussian());
    return out;
}

Rgb8Image AddBrightnessNoise(const Rgb8Image& clean, double sigma, uint64_t seed) {
    Random rng(seed);
    Rgb8Image out = clean;
    for (std::size_t i = 0; i < out.px.size(); i += 3) {
        const double n = sigma * rng.Gaussian();
        for (int c = 0; c < 3; ++c) out.px[i + c] = RoundClamp(double(out.px[i + c]) + n);
    }
    return out;
}

bool AddCameraNoise(const Rgb8Image& clean, const CameraNoise& noise, Rgb8Image& noisy, std::string& error) {
    const int w = clean.width, h = clean.height;
    const std::size_t n = std::size_t(w) * h;
    auto linear = [](uint8_t v) {
        const double e = double(v) / 255.0;
        return e * e;
    };

    // Per-site deviation in linear light at mid grey, so that the encoded
    // luma deviation there is lumaSigma: encoding v = 255 sqrt(L) turns dL
    // into dv = 255 dL / (2 sqrt(L)).
    const double midGrey = linear(128);
    const double siteSigma = noise.lumaSigma * 2.0 * std::sqrt(midGrey) / 255.0 / LumaGainOfSiteNoise();
    const double read = noise.readShare * siteSigma * siteSigma;
    const double shot = (1.0 - noise.readShare) * siteSigma * siteSigma / midGrey;

    // 1. The mosaic's noise, one value per site.
    Random rng(noise.seed);
    std::vector<double> site(n);
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            const std::size_t i = std::size_t(y) * w + x;
            const double light = linear(clean.px[i * 3 + SiteColour(x, y)]);
            site[i] = std::sqrt(shot * light + read) * rng.Gaussian();
        }

    // 2. Bilinear demosaicing of the noise: each channel is the weighted mean
    // of the nearest sites of its colour (sites outside the picture count as
    // noiseless).
    auto at = [&](int x, int y, int colour) {
        if (x < 0 || y < 0 || x >= w || y >= h || SiteColour(x, y) != colour) return 0.0;
        return site[std::size_t(y) * w + x];
    };
    noisy = clean;
    for (int y = 0; y < h; ++y)
        for (int x = 0; x < w; ++x) {
            double channel[3];
            for (int c : {0, 2}) {
                channel[c] = (4.0 * at(x, y, c) + 2.0 * (at(x - 1, y, c) + at(x + 1, y, c) + at(x, y - 1, c) +
                                                         at(x, y + 1, c)) +
                              at(x - 1, y - 1, c) + at(x + 1, y - 1, c) + at(x - 1, y + 1, c) + at(x + 1, y + 1, c)) /
                             4.0;
            }
            channel[1] =
                (4.0 * at(x, y, 1) + at(x - 1, y, 1) + at(x + 1, y, 1) + at(x, y - 1, 1) + at(x, y + 1, 1)) / 4.0;
            // 3. Colour matrix, then back to the encoded scale.
            uint8_t* p = &noisy.px[(std::size_t(y) * w + x) * 3];
            for (int r = 0; r < 3; ++r) {
                double e = 0.0;
                for (int c = 0; c < 3; ++c) e += kColourMatrix[r][c] * channel[c];
                const double light = std::clamp(linear(p[r]) + e, 0.0, 1.0);
                p[r] = RoundClamp(255.0 * std::sqrt(light));
            }
        }

    // 4. JPEG.
    if (noise.jpegQuality <= 0) return true;
    return JpegRoundTrip(noisy, noise.jpegQuality, error);
}

bool JpegRoundTrip(Rgb8Image& img, int quality, std::string& error) {
    // Each proxy is declared before the encoder or decoder that uses it, so
    // that it outlives it: their destructors close through it.
    std::vector<unsigned char> file;
    {
        OIIO::Filesystem::IOVecOutput proxy(file);
        auto out = OIIO::ImageOutput::create("jpg");
        if (!out || !out->supports("ioproxy")) {
            error = "no JPEG writer with memory output";
            return false;
        }
        OIIO::ImageSpec spec(img.width, img.height, 3, OIIO::TypeDesc::UINT8);
        spec.attribute("Compression", "jpeg:" + std::to_string(std::clamp(quality, 1, 100)));
        spec.attribute("jpeg:subsampling", "4:2:0");
        out->set_ioproxy(&proxy);
        if (!out->open("memory.jpg", spec) || !out->write_image(OIIO::TypeDesc::UINT8, img.px.data()) ||
            !out->close()) {
            error = "JPEG writing failed: " + out->geterror();
            return false;
        }
    }
    OIIO::Filesystem::IOMemReader reader(file.data(), file.size());
    auto in = OIIO::ImageInput::create("jpg");
    if (!in) {
        error = "no JPEG reader";
        return false;
    }
    in->set_ioproxy(&reader);
    OIIO::ImageSpec spec;
    if (!in->open("memory.jpg", spec) || spec.width != img.width || spec.height != img.height ||
        spec.nchannels != 3 || !in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, img.px.data())) {
        error = "JPEG reading failed: " + in->geterror();
        return false;
    }
    return true;
}

double Psnr(const Rgb8Image& clean, const Rgb8Image& img) {
    double se = 0.0;
    for (std::size_t i = 0; i < clean.px.size(); ++i) {
        const double d = double(clean.px[i]) - double(img.px[i]);
        se += d * d;
    }
    const double mse = se / double(clean.px.size());
    return mse > 0.0 ? 10.0 * std::log10(255.0 * 255.0 / mse) : 99.0;
}

double Ssim(const Rgb8Image& clean, const Rgb8Image& img) {
    constexpr int kR = 5;
    double kernel[2 * kR + 1], ksum = 0.0;
    for (int i = -kR; i <= kR; ++i) ksum += kernel[i + kR] = std::exp(-double(i * i) / (2.0 * 1.5 * 1.5));
    for (double& k : kernel) k /= ksum;
    const int w = clean.width, h = clean.height;
    if (w <= 2 * kR || h <= 2 * kR) return 1.0;
    const double c1 = (0.01 * 255) * (0.01 * 255), c2 = (0.03 * 255) * (0.03 * 255);

    // Five moments, blurred separably: rows into `tmp`, then columns.
    std::vector<double> moments[5], tmp(std::size_t(w) * h);
    double total = 0.0;
    for (int c = 0; c < 3; ++c) {
        for (int m = 0; m < 5; ++m) {
            moments[m].assign(std::size_t(w) * h, 0.0);
            for (int y = 0; y < h; ++y)
                for (int x = 0; x < w; ++x) {
                    const std::size_t i = std::size_t(y) * w + x;
                    const double a = clean.px[i * 3 + c], b = img.px[i * 3 + c];
                    const double v[5] = {a, b, a * a, b * b, a * b};
                    tmp[i] = v[m];
                }
            for (int y = 0; y < h; ++y)
                for (int x = kR; x < w - kR; ++x) {
                    double s = 0.0;
                    for (int k = -kR; k <= kR; ++k) s += kernel[k + kR] * tmp[std::size_t(y) * w + x + k];
                    moments[m][std::size_t(y) * w + x] = s;
                }
            tmp = moments[m];
            for (int y = kR; y < h - kR; ++y)
                for (int x = kR; x < w - kR; ++x) {
                    double s = 0.0;
                    for (int k = -kR; k <= kR; ++k) s += kernel[k + kR] * tmp[std::size_t(y + k) * w + x];
                    moments[m][std::size_t(y) * w + x] = s;
                }
        }
        double sum = 0.0;
        for (int y = kR; y < h - kR; ++y)
            for (int x = kR; x < w - kR; ++x) {
                const std::size_t i = std::size_t(y) * w + x;
                const double ma = moments[0][i], mb = moments[1][i];
                const double va = moments[2][i] - ma * ma, vb = moments[3][i] - mb * mb, cov = moments[4][i] - ma * mb;
                sum += ((2.0 * ma * mb + c1) * (2.0 * cov + c2)) / ((ma * ma + mb * mb + c1) * (va + vb + c2));
            }
        total += sum / (double(w - 2 * kR) * double(h - 2 * kR));
    }
    return total / 3.0;
}

}  // namespace noiselib::sim
