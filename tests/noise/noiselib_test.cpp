// SPDX-License-Identifier: MIT
// Our noise library through its entry points, bound by path as Lumarex binds
// it: denoising real photos with Gaussian noise added, the analysis mode,
// argument checks and host memory.
#include "noiselib17.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "noise/noise_library.h"
#include "noise_test_support.h"
#include "support/sample_images.h"
#include "support/test_host.h"

namespace {

using lx::noise::Entries;
using lx::test::Rgb;
using lx::test::Rgb16;
using lx::test::Rgb8;

template <class T> constexpr double kScale = sizeof(T) == 1 ? 1.0 : 257.0;  // sample units per 8-bit level

// Adds Gaussian noise of deviation `sigma` (8-bit levels) to every sample.
template <class T> void AddNoise(Rgb<T>& img, double sigma, unsigned seed) {
    std::mt19937 rng(seed);
    std::normal_distribution<double> n(0.0, sigma * kScale<T>);
    const double top = sizeof(T) == 1 ? 255.0 : 65535.0;
    for (T& v : img.px) v = T(std::clamp(std::round(double(v) + n(rng)), 0.0, top));
}

template <class T> double Psnr(const Rgb<T>& a, const Rgb<T>& b) {
    double se = 0.0;
    for (size_t i = 0; i < a.px.size(); ++i) {
        const double d = (double(a.px[i]) - double(b.px[i])) / kScale<T>;
        se += d * d;
    }
    return 10.0 * std::log10(255.0 * 255.0 / (se / double(a.px.size())));
}

// Swaps samples 0 and 2 of every pixel: red first <-> blue first.
template <class T> Rgb<T> Swapped(Rgb<T> img) {
    for (size_t i = 0; i < img.px.size(); i += 3) std::swap(img.px[i], img.px[i + 2]);
    return img;
}

struct NoiseLib : ::testing::Test {
    lx::test::ScopedNoiseBinding bound{LX_TEST_NOISELIB};
    void SetUp() override {
        ASSERT_NE(Entries().removeNoise, nullptr);
        Entries().setFilterRecord(nullptr);  // heap memory unless a test installs a host
    }
    NoiseParamBlock Preset(int32_t preset) {
        NoiseParamBlock b{};
        Entries().fillParams(&b, preset);
        return b;
    }
    template <class T>
    int32_t Run(Rgb<T>& img, NoiseParamBlock& block, int32_t preset, int32_t mode = 0, bool redFirst = true) {
        return Entries().removeNoise(img.px.data(), img.width, img.height, int32_t(img.width * 3 * sizeof(T)), 0,
                                     sizeof(T) == 2 ? 1 : 0, 0, redFirst ? 1 : 0, &block, preset, mode, 0);
    }
    template <class T> Rgb<T> Denoised(Rgb<T> img, int32_t preset, bool redFirst = true) {
        NoiseParamBlock b = Preset(preset);
        EXPECT_EQ(Run(img, b, preset, 0, redFirst), NOISELIB_OK);
        return img;
    }
};

template <class T> double RmsChange(const Rgb<T>& a, const Rgb<T>& b) {
    return 255.0 / std::pow(10.0, Psnr(a, b) / 20.0);
}

// A clean picture of fine texture everywhere (value noise at 1 to 16 pixels
// on a slower colour wash), whose flattest blocks read as noise.
Rgb8 FineTexture(int side) {
    auto hash = [](uint64_t x) {  // splitmix64's finaliser
        x += 0x9e3779b97f4a7c15ull;
        x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
        x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
        return x ^ (x >> 31);
    };
    auto lattice = [&](uint64_t octave, int i, int j) {  // -1 .. 1
        const uint64_t key = (octave << 48) ^ (uint64_t(uint32_t(i)) << 24) ^ uint32_t(j);
        return double(hash(key) >> 11) / double(uint64_t{1} << 53) * 2.0 - 1.0;
    };
    auto value = [&](uint64_t octave, double x, double y) {
        const int i = int(std::floor(x)), j = int(std::floor(y));
        double fx = x - i, fy = y - j;
        fx = fx * fx * (3.0 - 2.0 * fx);
        fy = fy * fy * (3.0 - 2.0 * fy);
        const double top = lattice(octave, i, j) * (1.0 - fx) + lattice(octave, i + 1, j) * fx;
        const double bottom = lattice(octave, i, j + 1) * (1.0 - fx) + lattice(octave, i + 1, j + 1) * fx;
        return top * (1.0 - fy) + bottom * fy;
    };
    Rgb8 img{side, side, std::vector<uint8_t>(size_t(side) * side * 3)};
    for (int y = 0; y < side; ++y)
        for (int x = 0; x < side; ++x) {
            double luma = 0.0, amplitude = 6.0;
            for (int o = 0; o < 5; ++o, amplitude *= 1.3)
                luma += amplitude * value(o, x / double(1 << o), y / double(1 << o));
            for (int c = 0; c < 3; ++c) {
                const double v = 128.0 + luma * (1.0 - 0.1 * c) + 10.0 * value(8 + c, x / 16.0, y / 16.0);
                img.px[(size_t(y) * side + x) * 3 + c] = uint8_t(std::clamp(std::lround(v), 0L, 255L));
            }
        }
    return img;
}

// On fine texture with light noise no preset may end further from the clean
// picture than the noisy input.
TEST_F(NoiseLib, FineTextureWithLightNoiseIsNotSmoothedAway) {
    const Rgb8 clean = FineTexture(192);
    for (double sigma : {2.0, 5.0}) {
        Rgb8 noisy = clean;
        AddNoise(noisy, sigma, 41);
        const double noisyPsnr = Psnr(clean, noisy);
        for (int32_t preset = 0; preset < 5; ++preset) {
            const double gain = Psnr(clean, Denoised(noisy, preset)) - noisyPsnr;
            EXPECT_GE(gain, 0.0) << "deviation " << sigma << ", preset " << preset;
        }
    }
}

// The same picture in the other channel order, with the flag telling so,
// gives the same result; telling the wrong order changes it (luma weighs red
// and blue differently).
template <class T> void CheckChannelOrder(NoiseLib& t, Rgb<T> img) {
    AddNoise(img, 8.0, 11);
    const Rgb<T> redFirst = t.Denoised(img, 2, true);
    EXPECT_EQ(Swapped(t.Denoised(Swapped(img), 2, false)).px, redFirst.px);
    EXPECT_NE(Swapped(t.Denoised(Swapped(img), 2, true)).px, redFirst.px);
}

TEST_F(NoiseLib, ChannelOrderFollowsTheFlag) {
    CheckChannelOrder(*this, lx::test::LoadSample8("s01_tungsten_indoor_wine.jpg", 128));
    CheckChannelOrder(*this, lx::test::LoadSample16("s06_indoor_backlit_room_16bit.png", 128));
}

TEST_F(NoiseLib, LevelAndAdjustmentsSteerStrength) {
    Rgb8 noisy = lx::test::LoadSample8("s03_hazy_lifted_blacks_bridge.jpg", 128);
    AddNoise(noisy, 10.0, 3);
    auto change = [&](int32_t level, int32_t adjustA, int32_t adjustB) {
        Rgb8 img = noisy;
        NoiseParamBlock b = Preset(2);
        b.level = level;
        b.adjustA = adjustA;
        b.adjustB = adjustB;
        EXPECT_EQ(Run(img, b, 2), NOISELIB_OK);
        return RmsChange(noisy, img);
    };
    EXPECT_EQ(change(0, 60, 8), 0.0) << "level 0: nothing to remove";
    EXPECT_LT(change(1, 60, 8), change(3, 60, 8));
    EXPECT_LT(change(3, 60, 8), change(6, 60, 8));
    EXPECT_LT(change(3, 0, 8), change(3, 100, 8));
    EXPECT_LT(change(3, 60, 0), change(3, 60, 20));
    EXPECT_EQ(change(30, 500, 99), change(10, 100, 20)) << "words beyond their ranges are clamped";
}

TEST_F(NoiseLib, BadArgumentsFailAndLeaveTheBuffer) {
    std::vector<uint8_t> px(64 * 3 * 2, 77);
    const auto before = px;
    NoiseParamBlock b = Preset(2);
    struct Case {
        const char* what;
        void* buffer;
        int32_t width, height, stride, sixteen;
        NoiseParamBlock* block;
        int32_t preset, mode;
    };
    void* p = px.data();
    const Case cases[] = {
        {"null buffer", nullptr, 8, 8, 24, 0, &b, 2, 0},  {"null block", p, 8, 8, 24, 0, nullptr, 2, 0},
        {"width 0", p, 0, 8, 24, 0, &b, 2, 0},            {"height -1", p, 8, -1, 24, 0, &b, 2, 1},
        {"stride 8-bit", p, 8, 8, 23, 0, &b, 2, 0},       {"stride 16-bit", p, 8, 8, 47, 1, &b, 2, 1},
        {"negative stride", p, 8, 8, -24, 0, &b, 2, 0},   {"preset -1", p, 8, 8, 24, 0, &b, -1, 0},
        {"preset 5", p, 8, 8, 24, 0, &b, 5, 1},           {"mode 2", p, 8, 8, 24, 0, &b, 2, 2},
        {"sample flag 2", p, 8, 8, 48, 2, &b, 2, 0},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Entries().removeNoise(c.buffer, c.width, c.height, c.stride, 0, c.sixteen, 0, 1, c.block, c.preset,
                                        c.mode, 0),
                  NOISELIB_FAILED)
            << c.what;
        EXPECT_EQ(px, before) << c.what;
    }
    EXPECT_EQ(Entries().fillParams(&b, 5), NOISELIB_FAILED);
    EXPECT_EQ(Entries().fillParams(nullptr, 0), NOISELIB_FAILED);
}

// Padded rows at an odd address and odd stride (16-bit samples unaligned)
// give the pixels of the compact layout and leave the padding alone; tiny and
// tall images (many strips) need no special care.
TEST_F(NoiseLib, StridesAlignmentAndSmallSizes) {
    Rgb16 img = lx::test::LoadSample16("s08_sunset_warm.jpg", 96);
    AddNoise(img, 12.0, 23);
    const Rgb16 compact = Denoised(img, 3);
    const int rowBytes = img.width * 6, stride = rowBytes + 7;
    std::vector<uint8_t> padded(size_t(stride) * img.height + 1, 0xA5);
    for (int y = 0; y < img.height; ++y) std::memcpy(&padded[1 + size_t(y) * stride], img.at(0, y), rowBytes);
    NoiseParamBlock b = Preset(3);
    ASSERT_EQ(Entries().removeNoise(&padded[1], img.width, img.height, stride, 0, 1, 0, 1, &b, 3, 0, 0), NOISELIB_OK);
    for (int y = 0; y < img.height; ++y) {
        EXPECT_EQ(std::memcmp(&padded[1 + size_t(y) * stride], compact.at(0, y), rowBytes), 0) << "row " << y;
        EXPECT_EQ(padded[1 + size_t(y) * stride + rowBytes], 0xA5);
    }
    EXPECT_EQ(padded[0], 0xA5);

    for (auto [w, h] : {std::pair{1, 1}, {1, 7}, {9, 1}, {2, 2}, {3, 300}}) {
        Rgb8 tiny{w, h, std::vector<uint8_t>(size_t(w) * h * 3)};
        for (size_t i = 0; i < tiny.px.size(); ++i) tiny.px[i] = uint8_t(i * 131 % 256);
        for (int32_t preset = 0; preset < 5; ++preset) Denoised(tiny, preset);
    }
}

TEST_F(NoiseLib, HostMemoryIsReleasedOnEveryPath) {
    lx::test::TestHost host;  // handed to the library through SetFilterRecord
    Rgb8 noisy = lx::test::LoadSample8("s01_tungsten_indoor_wine.jpg", 64);
    AddNoise(noisy, 10.0, 29);
    for (int32_t mode : {0, 1}) {
        Rgb8 img;
        lx::test::ForEachAllocationFailure(
            host,
            [&] {
                img = noisy;
                NoiseParamBlock b = Preset(4);
                return int64_t{Run(img, b, 4, mode)};
            },
            [&](int64_t k, int64_t result) {
                EXPECT_EQ(result, NOISELIB_FAILED) << "allocation " << k;
                EXPECT_EQ(img.px, noisy.px) << "allocation " << k;
            });
    }
}

}  // namespace
