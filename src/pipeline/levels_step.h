// SPDX-License-Identifier: MIT
// The levels step of the apply pipelines, one pixel at a time, and its 8-bit
// table form.
#pragma once

#include <algorithm>
#include <cstdint>

#include "image/image_view.h"
#include "image/sample_depth.h"
#include "pipeline/level_params.h"
#include "stages/tint_factors.h"

namespace lx {

// Levels one pixel (red, green, blue samples of the blob) into the corrected
// channels, all in 64-bit integers:
//   a = sample - blackLevel
//   untinted: out = (a - blackPoint) x scale / 1000
//   tinted:   e = a x tint / 1000 (a raised to 0 first when raiseNegatives);
//             when the largest e passes the top sample value (255, 65535),
//             the three are drawn together about their middle so that it
//             lands there; out = (min(e, full) - blackPoint) x scale / 1000
// and each out is clamped to 0 .. full (255, 16-bit 65280). `scale` and the tint factors are
// per mille; the divisions truncate toward zero.
template <class T>
class LevelsStep {
public:
    using D = SampleDepth<T>;

    LevelsStep(int32_t blackLevel, int64_t blackPoint, int64_t scale, const int64_t tint[3], bool tinted,
               bool raiseNegatives)
        : black_(blackLevel), blackPoint_(blackPoint), scale_(scale), tint_{tint[0], tint[1], tint[2]},
          tinted_(tinted), raiseNegatives_(raiseNegatives) {}

    bool tinted() const { return tinted_; }
    int64_t blackLevel() const { return black_; }
    int64_t blackPoint() const { return blackPoint_; }
    int64_t scale() const { return scale_; }
    int64_t tint(int channel) const { return tint_[channel]; }
    bool raisesNegatives() const { return raiseNegatives_; }

    void Apply(const T rgb[3], T out[3]) const {
        if (!tinted_) {
            for (int i = 0; i < 3; ++i) out[i] = LevelPlain(rgb[i]);
            return;
        }
        int64_t e[3];
        for (int i = 0; i < 3; ++i) e[i] = Tint(i, rgb[i]);
        if (std::max({e[0], e[1], e[2]}) > D::kTop) Compress(e);
        for (int i = 0; i < 3; ++i) out[i] = LevelTinted(e[i]);
    }

    // The parts of Apply, for the table form.
    T LevelPlain(T sample) const { return Clamped((int64_t{sample} - black_ - blackPoint_) * scale_ / 1000); }
    int64_t Tint(int channel, T sample) const {
        const int64_t a = int64_t{sample} - black_;
        return TintLevel(raiseNegatives_ ? std::max<int64_t>(a, 0) : a, tint_[channel]);
    }
    T LevelTinted(int64_t e) const { return Clamped((std::min<int64_t>(e, D::kFull) - blackPoint_) * scale_ / 1000); }
    static void Compress(int64_t e[3]) { CompressHighlights(e, D::kTop); }

private:
    static T Clamped(int64_t v) { return T(std::clamp<int64_t>(v, 0, D::kFull)); }

    int64_t black_, blackPoint_, scale_;
    int64_t tint_[3];
    bool tinted_, raiseNegatives_;
};

// LevelsStep for 8-bit samples through tables of the 256 inputs of each
// channel: the tinted value e and the levelled sample when no compression
// follows. A pixel whose largest e passes 255 is compressed from the tabled
// e values as LevelsStep does, so the result is the same bit for bit.
// About 10 KB, meant for the stack; built in 768 steps.
class LevelsTable8 {
public:
    explicit LevelsTable8(const LevelsStep<uint8_t>& step) : step_(step) {
        for (int i = 0; i < 3; ++i)
            for (int s = 0; s < 256; ++s) {
                const auto sample = uint8_t(s);
                tint_[i][s] = step.tinted() ? step.Tint(i, sample) : 0;
                level_[i][s] = step.tinted() ? step.LevelTinted(tint_[i][s]) : step.LevelPlain(sample);
                const bool over = step.tinted() && tint_[i][s] > SampleDepth<uint8_t>::kTop;
                lanes_[i][s] = int32_t{level_[i][s]} | (over ? kCompress : 0);
                over_[i][s] = over ? 1 : 0;
                anyOver_ = anyOver_ || over;
            }
    }

    // The levelled sample of channel i for each input, as int32 for vector
    // gathers, with kCompress set where the tinted value passes 255: a pixel
    // with the flag on any channel is compressed (and must go through Apply).
    static constexpr int32_t kCompress = 0x100;
    const int32_t* Lanes(int channel) const { return lanes_[channel]; }
    // The same as bytes: the levelled sample, and 1 where the tinted value
    // passes 255; AnyOver() is false when no input of any channel does.
    const uint8_t* Levels(int channel) const { return level_[channel]; }
    const uint8_t* Over(int channel) const { return over_[channel]; }
    bool AnyOver() const { return anyOver_; }
    const LevelsStep<uint8_t>& Step() const { return step_; }

    void Apply(const uint8_t rgb[3], uint8_t out[3]) const {
        if (step_.tinted()) {
            int64_t e[3] = {tint_[0][rgb[0]], tint_[1][rgb[1]], tint_[2][rgb[2]]};
            if (std::max({e[0], e[1], e[2]}) > SampleDepth<uint8_t>::kTop) {
                LevelsStep<uint8_t>::Compress(e);
                for (int i = 0; i < 3; ++i) out[i] = step_.LevelTinted(e[i]);
                return;
            }
        }
        for (int i = 0; i < 3; ++i) out[i] = level_[i][rgb[i]];
    }

private:
    LevelsStep<uint8_t> step_;
    int64_t tint_[3][256];
    uint8_t level_[3][256];
    uint8_t over_[3][256];
    int32_t lanes_[3][256];
    bool anyOver_ = false;
};

// The levels step of the pipelines for one call.
template <class T>
LevelsStep<T> MakeLevelsStep(const LevelParams& p, bool raiseNegatives) {
    return LevelsStep<T>(p.blackLevel, p.blackPoint, p.scale, p.factors, p.tinted, raiseNegatives);
}

// Levels row y of `source` into row 0 of `out` (out.width pixels) and writes
// each pixel's largest levelled channel into value[0 .. out.width - 1].
// `step` is a LevelsStep or LevelsTable8. Pixels are written one after the
// other, all three channels before the next pixel.
template <class T, class Step>
void LevelRow(const Step& step, const ImageView<const T>& source, int32_t y, const ImageView<T>& out, float* value) {
    const T* in[3];
    T* o[3];
    source.Row(y, in);
    out.Row(0, o);
    for (int32_t x = 0; x < out.width; ++x) {
        const int64_t i = int64_t{x} * source.pixelStride, j = int64_t{x} * out.pixelStride;
        const T rgb[3] = {in[0][i], in[1][i], in[2][i]};
        T levelled[3];
        step.Apply(rgb, levelled);
        o[0][j] = levelled[0], o[1][j] = levelled[1], o[2][j] = levelled[2];
        value[x] = float(std::max({levelled[0], levelled[1], levelled[2]}));
    }
}

// LevelRow for the pipelines, with SIMD (levels_step_twins.h) when the build
// has it and the source is a blob's layout (three samples per pixel, blue
// first); the same bytes.
void LevelRow8(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y,
               const ImageView<uint8_t>& out, float* value);
void LevelRow16(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                const ImageView<uint16_t>& out, float* value);

// The values of LevelRow alone: each pixel's largest levelled channel of the
// first n pixels of row y of `source` into value[0 .. n - 1]; the levelled
// channels are not kept. The same values as LevelRow.
template <class T, class Step>
void LevelValues(const Step& step, const ImageView<const T>& source, int32_t y, int32_t n, float* value) {
    const T* in[3];
    source.Row(y, in);
    for (int32_t x = 0; x < n; ++x) {
        const int64_t i = int64_t{x} * source.pixelStride;
        const T rgb[3] = {in[0][i], in[1][i], in[2][i]};
        T levelled[3];
        step.Apply(rgb, levelled);
        value[x] = float(std::max({levelled[0], levelled[1], levelled[2]}));
    }
}

// LevelValues for the pipelines, with SIMD as LevelRow8/16 (the channels of
// a run stay on the stack).
void LevelValues8(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y, int32_t n,
                  float* value);
void LevelValues16(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y, int32_t n,
                   float* value);

// Levels rows y0 .. y1 - 1 of `source` into `dest` and the value plane
// (dest's width per row).
template <class T, class Step>
void LevelRows(const Step& step, const ImageView<const T>& source, const ImageView<T>& dest, const Plane& value,
               int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) LevelRow<T>(step, source, y, dest.Region(0, y, dest.width, 1), value.Row(y));
}

}  // namespace lx
