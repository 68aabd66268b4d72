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
#include <cmath>
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

// One pixel, work-scale R, G, B to Y, Cb, Cr.
inline void ToYCbCr(float r, float g, float b, float& y, float& cb, float& cr) {
    y = 0.299f * r + 0.587f * g + 0.114f * b;
    cb = -0.168736f * r - 0.331264f * g + 0.5f * b;
    cr = 0.5f * r - 0.418688f * g - 0.081312f * b;
}

// Rows go through chunks of kChunk pixels: samples are gathered into (or
// scattered from) plain arrays, so that the arithmetic runs on contiguous
// floats and vectorises.
constexpr int kChunk = 64;

// Converts `width` pixels of `row` to Y, Cb and Cr.
template <class T>
void RowToYCbCr(const uint8_t* row, int width, bool redFirst, float* __restrict y, float* __restrict cb,
                float* __restrict cr) {
    constexpr float k = SampleTraits<T>::kToWork;
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    float r[kChunk], g[kChunk], b[kChunk];
    for (int x0 = 0; x0 < width; x0 += kChunk) {
        const int n = width - x0 < kChunk ? width - x0 : kChunk;
        for (int i = 0; i < n; ++i) {
            const uint8_t* p = row + std::size_t(x0 + i) * 3 * sizeof(T);
            r[i] = LoadSample<T>(p + ri * sizeof(T));
            g[i] = LoadSample<T>(p + sizeof(T));
            b[i] = LoadSample<T>(p + bi * sizeof(T));
        }
        for (int i = 0; i < n; ++i) ToYCbCr(r[i] * k, g[i] * k, b[i] * k, y[x0 + i], cb[x0 + i], cr[x0 + i]);
    }
}

// Rounds work-scale values to the nearest sample, clamped to the sample
// range: max(v, 0) + 1/2 truncated, then at most the largest sample. The
// denoiser's values stay far inside the int32 range and are never NaN.
template <class T>
void YCbCrToRow(const float* __restrict y, const float* __restrict cb, const float* __restrict cr, int width,
                bool redFirst, uint8_t* row) {
    using Tr = SampleTraits<T>;
    constexpr int32_t kTop = int32_t(Tr::kMax);
    const int ri = redFirst ? 0 : 2, bi = redFirst ? 2 : 0;
    int32_t q[3][kChunk];
    for (int x0 = 0; x0 < width; x0 += kChunk) {
        const int n = width - x0 < kChunk ? width - x0 : kChunk;
        const float* yy = y + x0;
        const float* bb = cb + x0;
        const float* rr = cr + x0;
        for (int i = 0; i < n; ++i) {
            const float v[3] = {yy[i] + 1.402f * rr[i], yy[i] - 0.344136f * bb[i] - 0.714136f * rr[i],
                                yy[i] + 1.772f * bb[i]};
            for (int c = 0; c < 3; ++c) {
                const float s = v[c] * Tr::kFromWork;
                const int32_t t = static_cast<int32_t>(0.5f * (s + std::fabs(s)) + 0.5f);
                q[c][i] = t < kTop ? t : kTop;
            }
        }
        for (int i = 0; i < n; ++i) {
            uint8_t* p = row + std::size_t(x0 + i) * 3 * sizeof(T);
            const T r = static_cast<T>(q[0][i]), g = static_cast<T>(q[1][i]), b = static_cast<T>(q[2][i]);
            std::memcpy(p + ri * sizeof(T), &r, sizeof r);
            std::memcpy(p + sizeof(T), &g, sizeof g);
            std::memcpy(p + bi * sizeof(T), &b, sizeof b);
        }
    }
}

}  // namespace noiselib
