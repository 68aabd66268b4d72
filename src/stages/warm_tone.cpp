// SPDX-License-Identifier: MIT
// Warm tone correction for 8-bit and 16-bit images, with its two small table
// builders.
#include "stages/warm_tone.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>

#include "host/host_buffers.h"
#include "math/float_math.h"
#include "platform/float_convert.h"
#include "simd/byte_planes.h"
#include "simd/kernels.h"
#include "stages/warm_tone_twins.h"

namespace lx {
namespace {

constexpr float kHalfPi = 1.5707964f;  // the float nearest pi / 2
constexpr int32_t kPercentEntries = 101;

// cos^2 x through the table builders' cosine (exact or cheap-first, the
// same bits), chosen once per table.
using Cosine = float (*)(float);
Cosine TableCosine() { return math::FunctionsFor(!simd::ReferenceKernels()).cos; }
inline float CosSquared(Cosine cosine, float x) {
    const float c = cosine(x);
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

// The stage's levels: 8-bit ones, times 256 for 16-bit samples, except that
// outputs clamp to the sample range (65535, not 65280) and the 16-bit ramp
// ends on 49151, the last 16-bit level of 8-bit level 191.
template <class T>
struct Warm {
    using D = SampleDepth<T>;
    static constexpr int32_t kMinRed = 128 * D::kScale;  // pixels need R above this
    static constexpr int32_t kRampLo = 128 * D::kScale;
    static constexpr int32_t kRampHi = D::kWide ? 49151 : 191;
    static constexpr int32_t kRampEntries = D::kLevels;
    static constexpr int32_t kMaxOut = D::kTop;
};

template <class Sample>
void CorrectPixels(const ImageView<Sample>& image, float strength, const WarmToneTables& t) {
    using Traits = Warm<Sample>;
    for (int32_t y = 0; y < image.height; ++y) {
        Sample* row[3];
        image.Row(y, row);
        for (int32_t x = 0; x < image.width; ++x) {
            const int64_t o = int64_t{x} * image.pixelStride;
            const int32_t R = row[0][o];
            const int32_t G = row[1][o];
            const int32_t B = row[2][o];
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
                wB = t.hueFade[std::min(i, kPercentEntries - 1)];
            }
            wB = wB * t.ramp[R];
            // 0.35 < ratio < 0.85 gives an index of 35..85.
            const int32_t ri = std::min(static_cast<int32_t>(ratio * 100.0f), kPercentEntries - 1);
            const float wR = 1.0f - (t.notch[ri] * 0.35000002f + 0.65f);
            const float k = wR * wB * strength;
            const float kBar = 1.0f - k;

            // Targets 0.77 R and 0.6 R are whole levels before the blend.
            const float greenTarget = static_cast<float>(static_cast<int32_t>(static_cast<float>(R) * 0.77f));
            const float blueTarget = static_cast<float>(static_cast<int32_t>(static_cast<float>(R) * 0.6f));
            row[1][o] = static_cast<Sample>(TruncClamp(greenTarget * k + static_cast<float>(G) * kBar, 0, Traits::kMaxOut));
            row[2][o] = static_cast<Sample>(TruncClamp(blueTarget * k + static_cast<float>(B) * kBar, 0, Traits::kMaxOut));
        }
    }
}

}  // namespace

void CosRamp(int32_t lo, int32_t hi, float* out, int32_t count) {
    const Cosine cosine = TableCosine();
    const int64_t span = int64_t{hi} - lo + 1;  // >= 1 whenever lo <= i <= hi
    for (int32_t i = 0; i < count; ++i) {
        if (i < lo) {
            out[i] = 0.0f;
        } else if (i <= hi) {
            out[i] = CosSquared(cosine, static_cast<float>(int64_t{hi} - i) * kHalfPi / static_cast<float>(span));
        } else {
            out[i] = 1.0f;
        }
    }
}

void CosNotch(float a, float b, float c, float* out) {
    const Cosine cosine = TableCosine();
    const int32_t lo = PercentOf(a);
    const int32_t mid = PercentOf(b);
    const int32_t hi = PercentOf(c);
    for (int32_t i = 0; i < kPercentEntries; ++i) {
        if (i < lo) {
            out[i] = 1.0f;
        } else if (i <= mid) {
            // i == mid == lo is the only case with no slope: cos^2(0) = 1 gives 0.
            out[i] = mid > lo ? 1.0f - CosSquared(cosine, static_cast<float>(i - mid) * kHalfPi / static_cast<float>(mid - lo))
                              : 0.0f;
        } else if (i <= hi) {
            out[i] = 1.0f - CosSquared(cosine, static_cast<float>(i - mid) * kHalfPi / static_cast<float>(hi - mid));
        } else {
            out[i] = 1.0f;
        }
    }
}

void MakeWarmToneTables(const float* ramp, WarmToneTables* tables) {
    const Cosine cosine = TableCosine();
    tables->ramp = ramp;
    for (int32_t i = 0; i < kPercentEntries; ++i)
        tables->hueFade[i] = CosSquared(cosine, static_cast<float>(i) * kHalfPi / 100.0f);
    CosNotch(0.35f, 0.6f, 0.85f, tables->notch);
}

void AddWarmToneBytes8(WarmToneTables* tables) {
    float padded[256] = {};
    simd::SplitIntoBytePlanes(tables->ramp, tables->rampBytes8);
    std::copy(std::begin(tables->hueFade), std::end(tables->hueFade), padded);
    simd::SplitIntoBytePlanes(padded, tables->hueFadeBytes);
    std::copy(std::begin(tables->notch), std::end(tables->notch), padded);
    simd::SplitIntoBytePlanes(padded, tables->notchBytes);
    tables->hasBytes8 = true;
}

void MakeWarmToneRamp8(float* ramp) {
    CosRamp(Warm<uint8_t>::kRampLo, Warm<uint8_t>::kRampHi, ramp, Warm<uint8_t>::kRampEntries);
}

void MakeWarmToneRamp16(float* ramp) {
    CosRamp(Warm<uint16_t>::kRampLo, Warm<uint16_t>::kRampHi, ramp, Warm<uint16_t>::kRampEntries);
}

void WarmToneCorrectPlain(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables) {
    if (image.Empty() || !std::isfinite(strength)) return;
    CorrectPixels<uint8_t>(image, strength, tables);
}

void WarmToneCorrectPlain(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables) {
    if (image.Empty() || !std::isfinite(strength)) return;
    CorrectPixels<uint16_t>(image, strength, tables);
}

void WarmToneCorrect(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables) {
    if (simd::ReferenceKernels()) WarmToneCorrectPlain(image, strength, tables);
    else WarmToneCorrectFast(image, strength, tables);
}

void WarmToneCorrect(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables) {
    if (simd::ReferenceKernels()) WarmToneCorrectPlain(image, strength, tables);
    else WarmToneCorrectFast(image, strength, tables);
}

void WarmToneCorrect8(const ImageView<uint8_t>& image, float strength) {
    if (image.Empty() || !std::isfinite(strength)) return;
    float ramp[Warm<uint8_t>::kRampEntries];
    MakeWarmToneRamp8(ramp);
    WarmToneTables tables;
    MakeWarmToneTables(ramp, &tables);
    AddWarmToneBytes8(&tables);
    WarmToneCorrect(image, strength, tables);
}

bool WarmToneCorrect16(const ImageView<uint16_t>& image, float strength) {
    if (image.Empty() || !std::isfinite(strength)) return true;
    HostArray<float> ramp = HostArray<float>::Allocate(Warm<uint16_t>::kRampEntries);
    if (!ramp) return false;  // no memory: the image stays as it is
    MakeWarmToneRamp16(ramp.data());
    WarmToneTables tables;
    MakeWarmToneTables(ramp.data(), &tables);
    WarmToneCorrect(image, strength, tables);
    return true;
}

}  // namespace lx
