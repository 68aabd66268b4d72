// SPDX-License-Identifier: MIT
// Our noise library on camera-like noise (noiselib/sim: a mosaic in linear
// light, demosaiced, a colour matrix, JPEG) on 256 x 256 crops of the photos.
#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <string>
#include <vector>

#include "noise/noise_library.h"
#include "noise_sim.h"
#include "noise_test_support.h"
#include "noiselib17.h"
#include "support/sample_images.h"

namespace {

using lx::noise::Entries;
using noiselib::sim::Rgb8Image;

constexpr int kSide = 256;

// A kSide x kSide crop at (x, y) of a bundled photo shrunk to at most
// `maxSide` (by an integer factor); blank when the photo is too small.
Rgb8Image Crop(const std::string& name, int maxSide, int x, int y) {
    const lx::test::Rgb8 photo = lx::test::LoadSample8(name, maxSide);
    Rgb8Image out{kSide, kSide, std::vector<uint8_t>(std::size_t(kSide) * kSide * 3)};
    if (x + kSide > photo.width || y + kSide > photo.height) {
        ADD_FAILURE() << name << " is " << photo.width << " x " << photo.height << ": no crop at " << x << ", " << y;
        return out;
    }
    for (int r = 0; r < kSide; ++r)
        std::copy_n(photo.at(x, y + r), kSide * 3, &out.px[std::size_t(r) * kSide * 3]);
    return out;
}

// Crops with sky, walls or sand beside texture: s01 the wooden table and
// the wall behind it, s03 sky, cable and beach, s08 grass and sky.
struct Scene {
    const char* name;
    Rgb8Image clean;
};
const std::vector<Scene>& Scenes() {
    static const std::vector<Scene> scenes = {
        {"s01", Crop("s01_tungsten_indoor_wine.jpg", 800, 180, 180)},        // 533 x 799
        {"s03", Crop("s03_hazy_lifted_blacks_bridge.jpg", 1200, 427, 160)},  // 853 x 480
        {"s08", Crop("s08_sunset_warm.jpg", 1200, 448, 160)},                // 853 x 569
    };
    return scenes;
}

Rgb8Image Camera(const Rgb8Image& clean, double sigma, int quality, uint64_t seed, double readShare = 0.15) {
    noiselib::sim::CameraNoise n;
    n.lumaSigma = sigma;
    n.readShare = readShare;
    n.jpegQuality = quality;
    n.seed = seed;
    Rgb8Image out;
    std::string error;
    EXPECT_TRUE(noiselib::sim::AddCameraNoise(clean, n, out, error)) << error;
    return out;
}

double Luma(const uint8_t* p) { return 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2]; }

// Deviation of the luma noise, measured against the clean picture on the
// pixels whose clean luma lies in 16..239 (where nothing clips).
double TrueLumaDeviation(const Rgb8Image& clean, const Rgb8Image& noisy) {
    double s = 0.0, s2 = 0.0, n = 0.0;
    for (std::size_t i = 0; i < clean.px.size(); i += 3) {
        const double l = Luma(&clean.px[i]);
        if (l < 16.0 || l > 239.0) continue;
        const double d = Luma(&noisy.px[i]) - l;
        s += d;
        s2 += d * d;
        n += 1.0;
    }
    return std::sqrt(s2 / n - (s / n) * (s / n));
}

struct NoiseLibrary : ::testing::Test {
    lx::test::ScopedNoiseBinding bound{LX_TEST_NOISELIB};
    void SetUp() override {
        ASSERT_NE(Entries().removeNoise, nullptr);
        Entries().setFilterRecord(nullptr);
    }
    // The block as the apply pipelines fill it: level 3 for presets 0..2.
    static NoiseParamBlock Block(int32_t preset) {
        NoiseParamBlock b{};
        Entries().fillParams(&b, preset);
        if (preset < 3) b.level = 3;
        return b;
    }
    static Rgb8Image Denoised(Rgb8Image img, int32_t preset) {
        NoiseParamBlock b = Block(preset);
        EXPECT_EQ(Entries().removeNoise(img.px.data(), img.width, img.height, img.width * 3, 0, 0, 0, 1, &b, preset,
                                        0, 0),
                  NOISELIB_OK);
        return img;
    }
    // The analysis mode's luma noise (bytes 20..23, in hundredths); it
    // leaves the pixels as they were.
    static double Estimate(const Rgb8Image& noisy) {
        Rgb8Image img = noisy;
        NoiseParamBlock b = Block(2);
        EXPECT_EQ(Entries().removeNoise(img.px.data(), img.width, img.height, img.width * 3, 0, 0, 0, 1, &b, 2, 1, 0),
                  NOISELIB_OK);
        EXPECT_EQ(img.px, noisy.px);
        return b.reserved20 / 100.0;
    }
};

// Share of the clean picture's fine detail (luma minus its 3 x 3 mean)
// that `img` keeps where the clean picture is textured (5 x 5 deviation
// above 8): the projection of img's detail onto the clean detail, which
// noise, uncorrelated with it, does not raise.
double DetailKept(const Rgb8Image& clean, const Rgb8Image& img) {
    const int w = clean.width, h = clean.height;
    auto luma = [&](const Rgb8Image& m, int x, int y) { return Luma(&m.px[(std::size_t(y) * w + x) * 3]); };
    auto detail = [&](const Rgb8Image& m, int x, int y) {
        double box = 0.0;
        for (int j = -1; j <= 1; ++j)
            for (int i = -1; i <= 1; ++i) box += luma(m, x + i, y + j);
        return luma(m, x, y) - box / 9.0;
    };
    double along = 0.0, norm = 0.0;
    for (int y = 2; y + 2 < h; ++y)
        for (int x = 2; x + 2 < w; ++x) {
            double s = 0.0, s2 = 0.0;
            for (int j = -2; j <= 2; ++j)
                for (int i = -2; i <= 2; ++i) {
                    const double v = luma(clean, x + i, y + j);
                    s += v;
                    s2 += v * v;
                }
            if (s2 / 25.0 - (s / 25.0) * (s / 25.0) <= 64.0) continue;
            const double c = detail(clean, x, y);
            along += detail(img, x, y) * c;
            norm += c * c;
        }
    return along / norm;
}

// Deviation of Y, Cb, Cr about their means over 8 x 8 blocks where the
// clean picture is flat (luma and chroma deviation below 1 level): the
// noise a viewer sees in sky, walls and sand. Returns {luma, chroma}.
std::pair<double, double> FlatDeviation(const Rgb8Image& clean, const Rgb8Image& img) {
    auto ycc = [](const uint8_t* p, double v[3]) {
        v[0] = 0.299 * p[0] + 0.587 * p[1] + 0.114 * p[2];
        v[1] = -0.168736 * p[0] - 0.331264 * p[1] + 0.5 * p[2];
        v[2] = 0.5 * p[0] - 0.418688 * p[1] - 0.081312 * p[2];
    };
    auto blockVar = [&](const Rgb8Image& m, int bx, int by, double var[3]) {
        double s[3] = {}, s2[3] = {};
        for (int y = by; y < by + 8; ++y)
            for (int x = bx; x < bx + 8; ++x) {
                double v[3];
                ycc(&m.px[(std::size_t(y) * m.width + x) * 3], v);
                for (int c = 0; c < 3; ++c) s[c] += v[c], s2[c] += v[c] * v[c];
            }
        for (int c = 0; c < 3; ++c) var[c] = s2[c] / 64.0 - (s[c] / 64.0) * (s[c] / 64.0);
    };
    double luma = 0.0, chroma = 0.0, n = 0.0;
    for (int by = 0; by + 8 <= clean.height; by += 8)
        for (int bx = 0; bx + 8 <= clean.width; bx += 8) {
            double c[3], v[3];
            blockVar(clean, bx, by, c);
            if (c[0] > 1.0 || c[1] > 1.0 || c[2] > 1.0) continue;
            blockVar(img, bx, by, v);
            luma += v[0];
            chroma += v[1] + v[2];
            n += 1.0;
        }
    return {std::sqrt(luma / n), std::sqrt(chroma / (2.0 * n))};
}

// --- Camera-like noise: the estimate and what each preset gains. ---

using CameraNoise = NoiseLibrary;

// The analysis mode reads camera, white and brightness-only noise of
// deviation 5 to 20 within a quarter of what it truly is.
TEST_F(CameraNoise, EstimateIsWithinAQuarterOfTheTrueLevel) {
    uint64_t seed = 1000;
    for (const Scene& s : Scenes()) {
        for (double sigma : {5.0, 10.0, 20.0}) {
            const Rgb8Image cases[] = {
                Camera(s.clean, sigma, 90, ++seed, 0.0),  // shot noise only: one level everywhere
                noiselib::sim::AddWhiteNoise(s.clean, sigma, ++seed),
                noiselib::sim::AddBrightnessNoise(s.clean, sigma, ++seed),
            };
            const char* kinds[] = {"camera", "white", "brightness"};
            for (int k = 0; k < 3; ++k) {
                const double truth = TrueLumaDeviation(s.clean, cases[k]);
                EXPECT_NEAR(Estimate(cases[k]) / truth, 1.0, 0.25)
                    << s.name << " " << kinds[k] << " noise of deviation " << sigma << " (true luma " << truth << ")";
            }
        }
    }
}

// A dark foreground (level 12, noise 1.5) filling three quarters of the
// frame does not hide a noisy sky (level 80, 4.0 in luma); a frame dark all
// over reads its own noise (2.0 in luma).
TEST_F(CameraNoise, DarkForegroundDoesNotHideTheNoiseOfTheSky) {
    auto field = [](int level, double sigma, uint64_t seed) {
        Rgb8Image flat{kSide, kSide, std::vector<uint8_t>(std::size_t(kSide) * kSide * 3, uint8_t(level))};
        return noiselib::sim::AddWhiteNoise(flat, sigma, seed);
    };
    const Rgb8Image sky = field(80, 6.0, 71), ground = field(12, 1.5, 72);
    Rgb8Image night = ground;
    std::copy_n(sky.px.begin(), std::size_t(kSide / 4) * kSide * 3, night.px.begin());
    EXPECT_NEAR(Estimate(night), 4.0, 0.4);
    EXPECT_NEAR(Estimate(field(12, 3.0, 73)), 2.0, 0.2);
}

// Each stronger preset leaves less of camera noise on a flat grey field (no
// texture to lose), and the strongest still keeps nearly the fine detail of
// the middle one where the photos are textured (no waxy look).
TEST_F(CameraNoise, StrongerPresetsRemoveMoreNoiseAndKeepDetail) {
    Rgb8Image grey{kSide, kSide, std::vector<uint8_t>(std::size_t(kSide) * kSide * 3, 100)};
    const Rgb8Image noisy = Camera(grey, 10.0, 0, 7, 0.0);
    double previous = 1e9;
    for (int32_t p = 0; p < 5; ++p) {
        const Rgb8Image out = Denoised(noisy, p);
        double m = 0.0, m2 = 0.0;
        for (uint8_t v : out.px) m += v, m2 += double(v) * v;
        m /= double(out.px.size());
        const double left = std::sqrt(m2 / double(out.px.size()) - m * m);
        EXPECT_LT(left, 0.9 * previous) << "preset " << p;
        previous = left;
    }
    uint64_t seed = 4000;
    for (const Scene& s : Scenes()) {
        const Rgb8Image noisy10 = noiselib::sim::AddWhiteNoise(s.clean, 10.0, ++seed);
        const double middle = DetailKept(s.clean, Denoised(noisy10, 2));
        const double strongest = DetailKept(s.clean, Denoised(noisy10, 4));
        EXPECT_GE(strongest, 0.93 * middle) << s.name;
        EXPECT_GE(middle, 0.75) << s.name;
    }
}

// --- Colour noise after JPEG: blotches 8 to 16 pixels across. ---

using JpegColourNoise = NoiseLibrary;

// In flat areas the middle preset at least halves the chroma variance
// (measured: from 6..9 levels of deviation to about 1).
TEST_F(JpegColourNoise, ChromaVarianceInFlatAreasFallsByHalfAtTheMiddlePreset) {
    uint64_t seed = 5000;
    for (const Scene& s : Scenes()) {
        for (int quality : {80, 90}) {
            const Rgb8Image noisy = Camera(s.clean, 8.0, quality, ++seed);
            const double before = FlatDeviation(s.clean, noisy).second;
            const double after = FlatDeviation(s.clean, Denoised(noisy, 2)).second;
            EXPECT_LE(after * after, 0.5 * before * before) << s.name << " JPEG " << quality;
        }
    }
}

// The same noisy picture in 16 bits (each sample times 257) loses as much
// chroma noise and comes out within half a level of the 8-bit result.
TEST_F(JpegColourNoise, SixteenBitSamplesFollowTheEightBitResult) {
    const Scene& s = Scenes()[1];
    const Rgb8Image noisy = Camera(s.clean, 8.0, 85, 6000);
    const Rgb8Image out8 = Denoised(noisy, 2);
    std::vector<uint16_t> wide(noisy.px.size());
    for (std::size_t i = 0; i < wide.size(); ++i) wide[i] = uint16_t(noisy.px[i] * 257);
    NoiseParamBlock b = Block(2);
    ASSERT_EQ(Entries().removeNoise(wide.data(), kSide, kSide, kSide * 6, 0, 1, 0, 1, &b, 2, 0, 0), NOISELIB_OK);
    Rgb8Image out16 = noisy;
    double se = 0.0;
    for (std::size_t i = 0; i < wide.size(); ++i) {
        const double d = double(wide[i]) / 257.0 - double(out8.px[i]);
        se += d * d;
        out16.px[i] = uint8_t((uint32_t(wide[i]) * 255 + 32767) / 65535);
    }
    EXPECT_LE(std::sqrt(se / double(wide.size())), 0.5);
    const double before = FlatDeviation(s.clean, noisy).second;
    EXPECT_LE(std::pow(FlatDeviation(s.clean, out16).second, 2), 0.5 * before * before);
}

}  // namespace
