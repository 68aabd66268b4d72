// SPDX-License-Identifier: MIT
// Warm tone correction for 8-bit and 16-bit images, with its two small table
// builders.
#include "stages/warm_tone.h"

#include <algorithm>
#include <cmath>
#include <cstddef>

#include "host/host_buffers.h"
#include "math/float_math.h"
#include "platform/float_convert.h"

namespace lx {
namespace {

constexpr float kHalfPi = 1.5707964f;  // the float nearest pi / 2
constexpr int32_t kPercentEntries = 101;

inline float CosSquared(float x) {
    const float c = math::Cos(x);
    return c * c;
}

// trunc(x * 100) in float. NaN counts as 0; the result is limited to
// +-1000000 so that differences of two percentages fit in int32 (any bound
// that far out lies beyond the 0..100 table anyway).
inline int32_t PercentOf(float x) {
    const float p = x * 100.0f;
    if (!(p == p)) return 0;
    if (p >= 1.0e6f) return 1000000;
    if (p <= -1.0e6f) return -1000000;
    return static_cast<int32_t>(p);
}

struct Warm8 {
    using Sample = uint8_t;
    static constexpr int32_t kMinRed = 128;  // pixels need R above this
    static constexpr int32_t kRampLo = 128;
    static constexpr int32_t kRampHi = 191;
    static constexpr int32_t kRampEntries = 256;
    static constexpr int32_t kMaxOut = 255;
};

struct Warm16 {
    using Sample = uint16_t;
    static constexpr int32_t kMinRed = 32768;
    static constexpr int32_t kRampLo = 32768;
    static constexpr int32_t kRampHi = 49151;
    static constexpr int32_t kRampEntries = 65536;
    static constexpr int32_t kMaxOut = 65535;
};

// `ramp` holds Traits::kRampEntries weights by red level; strides are in
// samples.
template <class Traits>
void CorrectPixels(typename Traits::Sample* red, typename Traits::Sample* green, typename Traits::Sample* blue,
                   int32_t height, int32_t width, int64_t pixelStride, int64_t rowStride, float strength,
                   const float* ramp) {
    using Sample = typename Traits::Sample;

    // Weight by how far blue climbs above green, in percent of 0.2 (R - G).
    float hueFade[kPercentEntries];
    for (int32_t i = 0; i < kPercentEntries; ++i) {
        hueFade[i] = CosSquared(static_cast<float>(i) * kHalfPi / 100.0f);
    }
    // Weight by green/red ratio in percent: 0 at 60, back to 1 at 35 and 85.
    float notch[kPercentEntries];
    CosNotch(0.35f, 0.6f, 0.85f, notch);

    for (int32_t y = 0; y < height; ++y) {
        const std::ptrdiff_t row = static_cast<std::ptrdiff_t>(y * rowStride);
        const Sample* pr = red + row;
        Sample* pg = green + row;
        Sample* pb = blue + row;
        for (int32_t x = 0; x < width; ++x) {
            const std::ptrdiff_t o = static_cast<std::ptrdiff_t>(x * pixelStride);
            const int32_t R = pr[o];
            const int32_t G = pg[o];
            const int32_t B = pb[o];
            if (R <= Traits::kMinRed) continue;
            const float ratio = static_cast<float>(G) / static_cast<float>(R);
            if (!(ratio > 0.35f && ratio < 0.85f)) continue;
            const float redMinusGreen = static_cast<float>(R - G);  // >= 1: G < 0.85 R
            if (!(static_cast<float>(G - B) / redMinusGreen > -0.2f)) continue;

            float wB = 1.0f;
            if (B > G) {
                // (B - G) / (R - G) < 0.2 after the test above, so the index
                // is 0..99; the bound only keeps the read provably in range.
                const int32_t i = static_cast<int32_t>(static_cast<float>(B - G) / redMinusGreen / 0.2f * 100.0f);
                wB = hueFade[std::min(i, kPercentEntries - 1)];
            }
            wB = wB * ramp[R];
            // 0.35 < ratio < 0.85 gives an index of 35..85.
            const int32_t ri = std::min(static_cast<int32_t>(ratio * 100.0f), kPercentEntries - 1);
            const float wR = 1.0f - (notch[ri] * 0.35000002f + 0.65f);
            const float k = wR * wB * strength;
            const float kBar = 1.0f - k;

            // Targets 0.77 R and 0.6 R are whole levels before the blend.
            const float greenTarget = static_cast<float>(static_cast<int32_t>(static_cast<float>(R) * 0.77f));
            const float blueTarget = static_cast<float>(static_cast<int32_t>(static_cast<float>(R) * 0.6f));
            pg[o] = static_cast<Sample>(TruncClamp(greenTarget * k + static_cast<float>(G) * kBar, 0, Traits::kMaxOut));
            pb[o] = static_cast<Sample>(TruncClamp(blueTarget * k + static_cast<float>(B) * kBar, 0, Traits::kMaxOut));
        }
    }
}

}  // namespace

void CosRamp(int32_t lo, int32_t hi, float* out, int32_t count) {
    const int64_t span = int64_t{hi} - lo + 1;  // >= 1 whenever lo <= i <= hi
    for (int32_t i = 0; i < count; ++i) {
        if (i < lo) {
            out[i] = 0.0f;
        } else if (i <= hi) {
            out[i] = CosSquared(static_cast<float>(int64_t{hi} - i) * kHalfPi / static_cast<float>(span));
        } else {
            out[i] = 1.0f;
        }
    }
}

void CosNotch(float a, float b, float c, float* out) {
    const int32_t lo = PercentOf(a);
    const int32_t mid = PercentOf(b);
    const int32_t hi = PercentOf(c);
    for (int32_t i = 0; i < kPercentEntries; ++i) {
        if (i < lo) {
            out[i] = 1.0f;
        } else if (i <= mid) {
            // i == mid == lo is the only case with no slope: cos^2(0) = 1 gives 0.
            out[i] = mid > lo ? 1.0f - CosSquared(static_cast<float>(i - mid) * kHalfPi / static_cast<float>(mid - lo))
                              : 0.0f;
        } else if (i <= hi) {
            out[i] = 1.0f - CosSquared(static_cast<float>(i - mid) * kHalfPi / static_cast<float>(hi - mid));
        } else {
            out[i] = 1.0f;
        }
    }
}

void WarmToneCorrect8(uint8_t* red, uint8_t* green, uint8_t* blue, int32_t height, int32_t width,
                      int32_t pixelStride, int32_t rowStride, float strength) {
    if (height < 1 || width < 1 || !std::isfinite(strength)) return;
    float ramp[Warm8::kRampEntries];
    CosRamp(Warm8::kRampLo, Warm8::kRampHi, ramp, Warm8::kRampEntries);
    CorrectPixels<Warm8>(red, green, blue, height, width, pixelStride, rowStride, strength, ramp);
}

void WarmToneCorrect16(uint16_t* red, uint16_t* green, uint16_t* blue, int32_t height, int32_t width,
                       int32_t pixelStride, int32_t rowStride, float strength) {
    if (height < 1 || width < 1 || !std::isfinite(strength)) return;
    HostBuffer rampBlock = HostBuffer::Allocate(int64_t{Warm16::kRampEntries} * int64_t{sizeof(float)});
    if (!rampBlock) return;  // no memory: the image stays as it is
    float* ramp = rampBlock.data<float>();
    CosRamp(Warm16::kRampLo, Warm16::kRampHi, ramp, Warm16::kRampEntries);
    CorrectPixels<Warm16>(red, green, blue, height, width, pixelStride, rowStride, strength, ramp);
}

}  // namespace lx
