// SPDX-License-Identifier: MIT
#include "oneshot/sharpen_max_channel.h"

#include <algorithm>
#include <cstddef>

#include "oneshot/sharpen_max_channel_twins.h"
#include "simd/kernels.h"
#include "simd/own_samples.h"

namespace lx {
namespace {

// Lines walked in lockstep: a column pass then reads neighbouring columns
// from the same image row instead of striding down one column at a time.
// Lines are independent, so the values are those of walking them one by one.
constexpr int32_t kLanes = 64;

using Kernel = SharpenKernel;

// value * g clamped to 0..255 and truncated. Written as two selects so it
// compiles without branches; a NaN gain (only from a NaN amount) gives 0
// rather than an undefined conversion.
inline uint8_t Scale(uint8_t value, float g) {
    float x = static_cast<float>(value) * g;
    x = x > 0.0f ? x : 0.0f;
    x = x < 255.0f ? x : 255.0f;
    return static_cast<uint8_t>(static_cast<int32_t>(x));
}

// The three channel pointers of a line group. Passed by value so that the
// byte stores, which may alias anything in memory, do not force reloads.
struct Channels {
    uint8_t* c1;
    uint8_t* c2;
    uint8_t* c3;

    float Max(ptrdiff_t o) const { return static_cast<float>(std::max({c1[o], c2[o], c3[o]})); }
    void Multiply(ptrdiff_t o, float g) const {
        c1[o] = Scale(c1[o], g);
        c2[o] = Scale(c2[o], g);
        c3[o] = Scale(c3[o], g);
    }
};

// One pass over `lanes` lines of n >= 2 pixels, walking from offset 0 along
// `step` bytes (negative for a backward pass); pixel j of line l is at
// l * laneStep + j * step. A pixel with M = 0 (all samples 0) is skipped:
// its gain has no finite value and its samples are already the result.
void PassLines(const Channels px, int32_t lanes, ptrdiff_t laneStep, int32_t n, ptrdiff_t step, const Kernel k) {
    float before[kLanes];  // M of the pixel just left, as it was before this pass
    float here[kLanes];    // M of the pixel about to be rewritten

    for (int32_t l = 0; l < lanes; ++l) {
        const ptrdiff_t o = l * laneStep;
        const float m = px.Max(o), next = px.Max(o + step);
        if (m > 0.0f) px.Multiply(o, (k.centre * m + k.side * next) / m * k.edge);
        before[l] = m;
        here[l] = next;
    }
    for (int32_t j = 1; j + 1 < n; ++j) {
        const ptrdiff_t base = j * step;
        for (int32_t l = 0; l < lanes; ++l) {
            const ptrdiff_t o = base + l * laneStep;
            const float m = here[l], next = px.Max(o + step);
            if (m > 0.0f) px.Multiply(o, (k.side * before[l] + k.centre * m + k.side * next) / m);
            before[l] = m;
            here[l] = next;
        }
    }
    const ptrdiff_t base = (n - 1) * step;
    for (int32_t l = 0; l < lanes; ++l) {
        const float m = here[l];
        if (m > 0.0f) px.Multiply(base + l * laneStep, (k.side * before[l] + k.centre * m) / m * k.edge);
    }
}

// Both passes over a group of lines: forward from pixel 0, then backward
// from pixel n - 1 on the forward pass's result.
void PassBothWays(const Channels& px, int32_t lanes, ptrdiff_t laneStep, int32_t n, ptrdiff_t step, const Kernel& k) {
    PassLines(px, lanes, laneStep, n, step, k);
    const ptrdiff_t last = (n - 1) * step;
    PassLines(Channels{px.c1 + last, px.c2 + last, px.c3 + last}, lanes, laneStep, n, -step, k);
}

}  // namespace

void SharpenMaxChannel8(const ImageView<uint8_t>& image, float amount) {
    if (!simd::ReferenceKernels() && simd::SamplesAreOwn(image) && SharpenMaxChannel8Fast(image, amount)) return;
    SharpenMaxChannel8Plain(image, amount);
}

void SharpenMaxChannel8Plain(const ImageView<uint8_t>& image, float amount) {
    if (image.Empty()) return;
    const int32_t width = image.width, height = image.height;
    uint8_t* const channel1 = image.channel[0];
    uint8_t* const channel2 = image.channel[1];
    uint8_t* const channel3 = image.channel[2];
    const Kernel k = MakeSharpenKernel(amount, 255.0f);
    const ptrdiff_t pixel = image.pixelStride, row = image.rowStride;
    // Lines walked in lockstep must not share samples, or one line would see
    // another's rewritten pixels early; other layouts walk one line at a time.
    const int32_t maxLanes = image.PixelsAreDisjoint() ? kLanes : 1;
    if (width > 1) {
        for (int32_t y = 0, lanes = 0; y < height; y += lanes) {
            lanes = std::min(maxLanes, height - y);
            const ptrdiff_t o = y * row;
            PassBothWays(Channels{channel1 + o, channel2 + o, channel3 + o}, lanes, row, width, pixel, k);
        }
    }
    if (height > 1) {
        for (int32_t x = 0, lanes = 0; x < width; x += lanes) {
            lanes = std::min(maxLanes, width - x);
            const ptrdiff_t o = x * pixel;
            PassBothWays(Channels{channel1 + o, channel2 + o, channel3 + o}, lanes, pixel, height, row, k);
        }
    }
}

}  // namespace lx
