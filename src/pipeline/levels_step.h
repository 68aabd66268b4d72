// SPDX-License-Identifier: MIT
// The levels step of the apply pipelines, one pixel at a time, and its 8-bit
// table form.
#pragma once

#include <algorithm>
#include <cstdint>

#include "stages/tint_factors.h"

namespace lx {

// Full scale of the levelled samples, and where the tinted highlights are
// drawn together: 8-bit 255 and 255; 16-bit 65280 (255 x 256) and 65535.
template <class T>
struct LevelsRange;

template <>
struct LevelsRange<uint8_t> {
    static constexpr int64_t kFull = 255;
    static constexpr int64_t kCompressAbove = 255;
};

template <>
struct LevelsRange<uint16_t> {
    static constexpr int64_t kFull = 65280;
    static constexpr int64_t kCompressAbove = 65535;
};

// Levels one pixel (red, green, blue samples of the blob) into the corrected
// channels, all in 64-bit integers:
//   a = sample - blackLevel
//   untinted: out = (a - blackPoint) x scale / 1000
//   tinted:   e = a x tint / 1000 (a raised to 0 first when raiseNegatives);
//             when the largest e passes kCompressAbove, the three are drawn
//             together about their middle so that it lands there;
//             out = (min(e, kFull) - blackPoint) x scale / 1000
// and each out is clamped to 0 .. kFull. `scale` and the tint factors are
// per mille; the divisions truncate toward zero.
template <class T>
class LevelsStep {
public:
    using R = LevelsRange<T>;

    LevelsStep(int32_t blackLevel, int64_t blackPoint, int64_t scale, const int64_t tint[3], bool tinted,
               bool raiseNegatives)
        : black_(blackLevel), blackPoint_(blackPoint), scale_(scale), tint_{tint[0], tint[1], tint[2]},
          tinted_(tinted), raiseNegatives_(raiseNegatives) {}

    bool tinted() const { return tinted_; }

    void Apply(const T rgb[3], T out[3]) const {
        if (!tinted_) {
            for (int i = 0; i < 3; ++i) out[i] = LevelPlain(rgb[i]);
            return;
        }
        int64_t e[3];
        for (int i = 0; i < 3; ++i) e[i] = Tint(i, rgb[i]);
        if (std::max({e[0], e[1], e[2]}) > R::kCompressAbove) Compress(e);
        for (int i = 0; i < 3; ++i) out[i] = LevelTinted(e[i]);
    }

    // The parts of Apply, for the table form.
    T LevelPlain(T sample) const { return Clamped((int64_t{sample} - black_ - blackPoint_) * scale_ / 1000); }
    int64_t Tint(int channel, T sample) const {
        const int64_t a = int64_t{sample} - black_;
        return (raiseNegatives_ ? std::max<int64_t>(a, 0) : a) * tint_[channel] / 1000;
    }
    T LevelTinted(int64_t e) const { return Clamped((std::min(e, R::kFull) - blackPoint_) * scale_ / 1000); }
    static void Compress(int64_t e[3]) { CompressHighlights(e, R::kCompressAbove); }

private:
    static T Clamped(int64_t v) { return T(std::clamp<int64_t>(v, 0, R::kFull)); }

    int64_t black_, blackPoint_, scale_;
    int64_t tint_[3];
    bool tinted_, raiseNegatives_;
};

// LevelsStep for 8-bit samples through tables of the 256 inputs of each
// channel: the tinted value e and the levelled sample when no compression
// follows. A pixel whose largest e passes 255 is compressed from the tabled
// e values as LevelsStep does, so the result is the same bit for bit.
// About 7 KB, meant for the stack; built in 768 steps.
class LevelsTable8 {
public:
    explicit LevelsTable8(const LevelsStep<uint8_t>& step) : step_(step) {
        for (int i = 0; i < 3; ++i)
            for (int s = 0; s < 256; ++s) {
                const auto sample = uint8_t(s);
                tint_[i][s] = step.tinted() ? step.Tint(i, sample) : 0;
                level_[i][s] = step.tinted() ? step.LevelTinted(tint_[i][s]) : step.LevelPlain(sample);
            }
    }

    void Apply(const uint8_t rgb[3], uint8_t out[3]) const {
        if (step_.tinted()) {
            int64_t e[3] = {tint_[0][rgb[0]], tint_[1][rgb[1]], tint_[2][rgb[2]]};
            if (std::max({e[0], e[1], e[2]}) > LevelsRange<uint8_t>::kCompressAbove) {
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
};

}  // namespace lx
