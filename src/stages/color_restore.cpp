// SPDX-License-Identifier: MIT
// Colour restoration: retention of the weaker channels of red-dominated
// pixels, then a fixed contrast curve, for 8-bit and 16-bit images.
#include "stages/color_restore.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <cstdint>
#include <iterator>

#include "platform/float_convert.h"
#include "simd/byte_planes.h"
#include "simd/gather_pairs.h"
#include "simd/kernels.h"
#include "stages/color_restore_twins.h"

namespace lx {
namespace {

constexpr int kLevels = kColorRestoreLevels;
using Table = std::array<float, kLevels>;

// KA[116..139]: the bend from the flat 0.2 of the shadows into the falling line.
constexpr std::array<float, 24> kKABend = {
    0.199984f, 0.199935f, 0.199853f, 0.199739f, 0.199592f, 0.199412f, 0.199199f, 0.198954f,
    0.198676f, 0.198366f, 0.198023f, 0.197647f, 0.197255f, 0.196846f, 0.196405f, 0.195931f,
    0.195425f, 0.194886f, 0.194314f, 0.193709f, 0.193072f, 0.192402f, 0.191699f, 0.190964f};

// DB[1..25]: the shadow dip of the S curve (its minimum, -0.045080, at 23).
constexpr std::array<float, 25> kDBShadow = {
    -0.003876f, -0.007571f, -0.011084f, -0.014415f, -0.017565f, -0.020534f, -0.023321f,
    -0.025926f, -0.028350f, -0.030592f, -0.032653f, -0.034532f, -0.036275f, -0.037972f,
    -0.039488f, -0.040822f, -0.041975f, -0.042947f, -0.043736f, -0.044345f, -0.044771f,
    -0.045016f, -0.045080f, -0.044962f, -0.044662f};

// DC[1..15]: a small dip that joins 0 at black to the line through level 51.
constexpr std::array<float, 15> kDCShadow = {
    -0.000100f, -0.000200f, -0.000300f, -0.000392f, -0.002081f, -0.003595f, -0.004935f, -0.006100f,
    -0.007091f, -0.007908f, -0.008551f, -0.009020f, -0.009314f, -0.009434f, -0.009379f};

// DC[231..254]: the roll-off from the line's top back to 0 at white.
constexpr std::array<float, 24> kDCHighlight = {
    0.046928f, 0.046884f, 0.046667f, 0.046275f, 0.045708f, 0.044967f, 0.044052f, 0.042963f,
    0.041699f, 0.040261f, 0.038649f, 0.036863f, 0.035033f, 0.033072f, 0.030937f, 0.028627f,
    0.026144f, 0.023486f, 0.020654f, 0.017647f, 0.014466f, 0.011111f, 0.007582f, 0.003878f};

// The straight parts are written as exact integer ratios so that each entry
// is one correctly rounded float division: the float nearest the true value.
constexpr Table MakeKA() {
    Table t{};
    for (int i = 0; i <= 115; ++i) t[i] = 0.2f;
    for (int i = 116; i <= 139; ++i) t[i] = kKABend[i - 116];
    for (int i = 140; i < kLevels; ++i) t[i] = float(765 - 2 * i) / 2550.0f;  // 0.3 - 0.2 i / 255
    return t;
}

constexpr Table MakeDB() {
    Table t{};
    t[0] = 0.0f;
    for (int i = 1; i <= 25; ++i) t[i] = kDBShadow[i - 1];
    for (int i = 26; i <= 229; ++i) t[i] = float(2 * i - 255) / 4590.0f;  // (i - 127.5) / 2295
    for (int i = 230; i < kLevels; ++i) t[i] = -t[255 - i];               // odd about the middle
    return t;
}

constexpr Table MakeDC() {
    Table t{};
    t[0] = 0.0f;
    for (int i = 1; i <= 15; ++i) t[i] = kDCShadow[i - 1];
    for (int i = 16; i <= 230; ++i) t[i] = float(i - 51) / 3825.0f;
    for (int i = 231; i <= 254; ++i) t[i] = kDCHighlight[i - 231];
    t[255] = 0.0f;
    return t;
}

constexpr Table kKA = MakeKA();
constexpr Table kDB = MakeDB();
constexpr Table kDC = MakeDC();

static_assert(kKA[153] == 0.18f && kKA[204] == 0.14f && kKA[255] == 0.1f);
static_assert(kDB[232] == 0.045080f && kDB[255] == 0.0f && kDB[127] == -kDB[128]);
static_assert(kDC[51] == 0.0f && kDC[204] == 0.04f);

// Weight of the red-dominated treatment: 0 while red is below 80 % of the
// brightest channel, rising linearly to f (times 0.99999994, the float value
// of (1 - 0.8f) / 0.2f) when red is the brightest. A black pixel counts as
// red-brightest.
inline float RedWeight(int32_t c1, int32_t m, float f) {
    const float q = m > 0 ? static_cast<float>(c1) / static_cast<float>(m) : 1.0f;
    float t = (q - 0.8f) / 0.2f;
    t = t < 0.0f ? 0.0f : (t > 1.0f ? 1.0f : t);
    return f * t;
}

inline int32_t Max3(int32_t a, int32_t b, int32_t c) {
    const int32_t ab = a > b ? a : b;
    return ab > c ? ab : c;
}

struct Restore8 {
    using Sample = uint8_t;
    static constexpr float kFullScale = 255.0f;
    static constexpr int32_t kMaxOut = 255;
    static int32_t Wrap(uint32_t x) { return static_cast<int32_t>(x & 0xFFu); }
    static float Lookup(const float* t, int32_t level) { return t[level]; }
};

struct Restore16 {
    using Sample = uint16_t;
    static constexpr float kFullScale = 65280.0f;  // 255 * 256
    static constexpr int32_t kMaxOut = 65280;
    static int32_t Wrap(uint32_t x) { return static_cast<int32_t>(x & 0xFFFFu); }
    // Linear interpolation on the 256-entry table; levels 65280..65535 read T[255].
    static float Lookup(const float* t, int32_t level) {
        const int32_t j = level >> 8;
        const int32_t r = level & 255;
        if (r == 0) return t[j];
        if (j < 255) return t[j] + (t[j + 1] - t[j]) * static_cast<float>(r) * (1.0f / 256.0f);
        return t[255];
    }
};

// What a pixel whose maximum is m takes from the curve T: the gain
// T(m) / (m / full) (1 for m = 0) and the offset (T(m) - m / full) x full.
template <class Traits>
inline void CurveAt(const float* T, int32_t m, float& gain, float& offset) {
    const float n = static_cast<float>(m) / Traits::kFullScale;
    const float tm = Traits::Lookup(T, m);
    offset = (tm - n) * Traits::kFullScale;
    gain = m > 0 ? tm / n : 1.0f;
}

template <class Traits, bool kWithTone>
void RestorePixels(const ImageView<typename Traits::Sample>& image, const float* tone, const float* A,
                   const float* T, float f) {
    using Sample = typename Traits::Sample;
    for (int32_t y = 0; y < image.height; ++y) {
        Sample* row[3];
        image.Row(y, row);
        const float* toneRow = kWithTone ? tone + int64_t{y} * image.width : nullptr;
        for (int32_t x = 0; x < image.width; ++x) {
            const int64_t o = int64_t{x} * image.pixelStride;
            const int32_t c[3] = {row[0][o], row[1][o], row[2][o]};
            const int32_t m = Max3(c[0], c[1], c[2]);

            float v = 1.0f;
            if constexpr (kWithTone) {
                const float t = toneRow[x];
                v = (t == 0.0f || m == 0) ? 0.0f : t / static_cast<float>(m);
            }

            // Retention: for red-dominated pixels the weaker channels move
            // towards m by the share 1 - A[m].
            const float w = RedWeight(c[0], m, f);
            const float keep = 1.0f - w;
            const float a = Traits::Lookup(A, m);
            const uint32_t lift = static_cast<uint32_t>(Traits::Wrap(
                static_cast<uint32_t>(TruncSaturate((1.0f - a) * static_cast<float>(m)))));
            int32_t r[3];
            for (int k = 0; k < 3; ++k) {
                const float ck = static_cast<float>(c[k]);
                const int32_t held =
                    Traits::Wrap(static_cast<uint32_t>(TruncSaturate(ck * a)) + lift);  // unsigned: wraps, no overflow
                // Both terms are >= 0 and sum to at most the sample range.
                r[k] = Traits::Wrap(static_cast<uint32_t>(
                    static_cast<int32_t>(ck * keep + static_cast<float>(held) * w)));
            }

            // Curve at the new maximum: a gain for most pixels, an equal
            // offset d for red-dominated ones.
            const int32_t m2 = Max3(r[0], r[1], r[2]);
            float gain, d;
            CurveAt<Traits>(T, m2, gain, d);
            const float w2 = RedWeight(r[0], m2, f);
            const float keep2 = 1.0f - w2;
            for (int k = 0; k < 3; ++k) {
                const float ck = static_cast<float>(r[k]);
                float value = ck * gain * keep2 + (ck + d) * w2;
                if constexpr (kWithTone) value = value * v;
                row[k][o] = static_cast<Sample>(TruncClamp(value, 0, Traits::kMaxOut));
            }
        }
    }
}

template <class Traits>
void RestorePlain(const ImageView<typename Traits::Sample>& image, const float* tone, const ColorRestoreTables& t) {
    if (!t.active || image.Empty()) return;
    if (tone != nullptr) RestorePixels<Traits, true>(image, tone, t.retention, t.curve, t.f);
    else RestorePixels<Traits, false>(image, nullptr, t.retention, t.curve, t.f);
}

template <class Sample>
void Restore(const ImageView<Sample>& image, const float* tone, const ColorRestoreTables& t) {
    if (!t.active || image.Empty()) return;
    if (simd::ReferenceKernels()) ColorRestorePlain(image, tone, t);
    else ColorRestoreFast(image, tone, t);
}

}  // namespace

const Table kRetentionKA = kKA;
const Table kContrastDB = kDB;
const Table kContrastDC = kDC;

void BuildRetentionTable(float amount, float* out) {
    for (int i = 0; i < kLevels; ++i) out[i] = 1.0f - amount * kKA[i];
}

void BuildContrastCurveB(float amount, float* out) {
    for (int i = 0; i < kLevels; ++i) out[i] = static_cast<float>(i) / 255.0f + amount * kDB[i];
}

void BuildContrastCurveC(float amount, float* out) {
    for (int i = 0; i < kLevels; ++i) out[i] = static_cast<float>(i) / 255.0f + amount * kDC[i];
}

ColorRestoreTables MakeColorRestoreTables(int32_t mode, float amount) {
    ColorRestoreTables t;
    if (!std::isfinite(amount)) return t;  // no defined tables: leave the image as it is
    bool curveC = false;
    switch (mode) {
        case 1: t.f = 1.0f; break;
        case 2: t.f = 0.5f; break;
        case 3: t.f = 1.0f, curveC = true; break;
        default: return t;  // 0 and unknown modes change nothing
    }
    t.active = true;
    BuildRetentionTable(amount, t.retention);
    constexpr float kProductBound = 16384.0f;  // 2^14; fails for NaN too
    t.retentionInRange = std::all_of(std::begin(t.retention), std::end(t.retention), [](float a) {
        return std::fabs(a) <= kProductBound && std::fabs(1.0f - a) <= kProductBound;
    });
    if (curveC) BuildContrastCurveC(amount, t.curve);
    else BuildContrastCurveB(amount, t.curve);
    t.gainOnlyExact =
        std::all_of(std::begin(t.curve), std::end(t.curve), [](float c) { return std::fabs(c) <= 1e33f; });
    for (int32_t m = 0; m < kLevels; ++m) CurveAt<Restore8>(t.curve, m, t.gain8[m], t.offset8[m]);
    simd::MakeGatherPairs(t.gain8, t.offset8, kLevels, t.curvePairs8);
    simd::SplitIntoBytePlanes(t.retention, t.retentionBytes);
    simd::SplitIntoBytePlanes(t.gain8, t.gainBytes8);
    simd::SplitIntoBytePlanes(t.offset8, t.offsetBytes8);
    return t;
}

void MakeColorRestoreLevels16(ColorRestoreTables& t, float* retention, uint64_t* curvePairs) {
    for (int32_t m = 0; m < 65536; ++m) {
        retention[m] = Restore16::Lookup(t.retention, m);
        float gain, offset;
        CurveAt<Restore16>(t.curve, m, gain, offset);
        simd::MakeGatherPairs(&gain, &offset, 1, curvePairs + m);
    }
    t.retention16 = retention;
    t.curvePairs16 = curvePairs;
}

void ColorRestore8(const ImageView<uint8_t>& image, int32_t mode, float amount) {
    Restore(image, nullptr, MakeColorRestoreTables(mode, amount));
}

void ColorRestoreTone8(const ImageView<uint8_t>& image, const float* tone, int32_t mode, float amount) {
    Restore(image, tone, MakeColorRestoreTables(mode, amount));
}

void ColorRestoreTone16(const ImageView<uint16_t>& image, const float* tone, int32_t mode, float amount) {
    Restore(image, tone, MakeColorRestoreTables(mode, amount));
}

void ColorRestoreTone(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables) {
    Restore(image, tone, tables);
}

void ColorRestoreTone(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables) {
    Restore(image, tone, tables);
}

void ColorRestorePlain(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables) {
    RestorePlain<Restore8>(image, tone, tables);
}

void ColorRestorePlain(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables) {
    RestorePlain<Restore16>(image, tone, tables);
}

}  // namespace lx
