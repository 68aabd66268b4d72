// SPDX-License-Identifier: MIT
// Rows of interleaved three-sample pixels to and from float luma/chroma.
//
// The denoiser works in full-range BT.601 YCbCr on an 8-bit scale whatever
// the sample depth (16-bit samples are divided by 257), so every strength
// and threshold means the same for both depths:
//
//   Y  =  0.299 R + 0.587 G + 0.114 B          R = Y + 1.402 Cr
//   Cb = -0.168736 R - 0.331264 G + 0.5 B      G = Y - 0.344136 Cb - 0.714136 Cr
//   Cr =  0.5 R - 0.418688 G - 0.081312 B      B = Y + 1.772 Cb
//
// The red-first flag tells which end of a pixel is red: sample 0 when set,
// sample 2 otherwise (blue first); green is always sample 1.
#pragma once

#include <cstdint>
#include <cstring>

namespace noiselib {

template <class T> struct SampleTraits;
template <> struct SampleTraits<uint8_t> {
    static constexpr float kToWork = 1.0f;
    static constexpr float kFromWork = 1.0f;
    static constexpr float kMax = 255.0f;
};
template <> struct SampleTraits<uint16_t> {
    static constexpr float kToWork = 1.0f / 257.0f;
    static constexpr float kFromWork = 257.0f;
    static constexpr float kMax = 65535.0f;
};

// Samples are read and written through memcpy: 16-bit rows need not be
// 2-byte aligned (odd row strides and buffer addresses are accepted).
template <class T> inline float LoadSample(const uint8_t* p) {
    T v;
    std::memcpy(&v, p, sizeof v);
    return float(v);
}

// Rounds a work-scale value to the nearest sample, clamped to the sample
// range (a NaN, which the denoiser never makes, would give 0).
template <class T> inline void StoreSample(uint8_t* p, float work) {
    using Tr = SampleTraits<T>;
    float v = work * Tr::kFromWork;
    v = v > 0.0f ? (v < Tr::kMax ? v : Tr::kMax) : 0.0f;
    const T s = static_cast<T>(v + 0.5f);
    std::memcpy(p, &s, sizeof s);
}

// Converts `width` pixels of `row` to Y, Cb and Cr (any may be written).
template <class T>
void RowToYCbCr(const uint8_t* row, int width, bool redFirst, float* y, float* cb, float* cr) {
    constexpr float k = SampleTraits<T>::kToWork;
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + std::size_t(x) * 3 * sizeof(T);
        const float r = LoadSample<T>(p + ri * sizeof(T)) * k;
        const float g = LoadSample<T>(p + sizeof(T)) * k;
        const float b = LoadSample<T>(p + bi * sizeof(T)) * k;
        y[x] = 0.299f * r + 0.587f * g + 0.114f * b;
        cb[x] = -0.168736f * r - 0.331264f * g + 0.5f * b;
        cr[x] = 0.5f * r - 0.418688f * g - 0.081312f * b;
    }
}

// Luma only, for the noise estimate.
template <class T> void RowToY(const uint8_t* row, int width, bool redFirst, float* y) {
    constexpr float k = SampleTraits<T>::kToWork;
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    for (int x = 0; x < width; ++x) {
        const uint8_t* p = row + std::size_t(x) * 3 * sizeof(T);
        y[x] = 0.299f * (LoadSample<T>(p + ri * sizeof(T)) * k) + 0.587f * (LoadSample<T>(p + sizeof(T)) * k) +
               0.114f * (LoadSample<T>(p + bi * sizeof(T)) * k);
    }
}

template <class T>
void YCbCrToRow(const float* y, const float* cb, const float* cr, int width, bool redFirst, uint8_t* row) {
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    for (int x = 0; x < width; ++x) {
        uint8_t* p = row + std::size_t(x) * 3 * sizeof(T);
        StoreSample<T>(p + ri * sizeof(T), y[x] + 1.402f * cr[x]);
        StoreSample<T>(p + sizeof(T), y[x] - 0.344136f * cb[x] - 0.714136f * cr[x]);
        StoreSample<T>(p + bi * sizeof(T), y[x] + 1.772f * cb[x]);
    }
}

}  // namespace noiselib
