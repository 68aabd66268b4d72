// SPDX-License-Identifier: MIT
// What differs between 8-bit and 16-bit samples. The tone and colour stages
// treat 65280 (255 x 256) as 16-bit full scale, not 65535, and their 16-bit
// constants are the 8-bit ones times 256; stages that need a constant of
// their own pick it with kWide.
#pragma once

#include <cstdint>

namespace lx {

template <class T>
struct SampleDepth;

template <>
struct SampleDepth<uint8_t> {
    using Sample = uint8_t;
    static constexpr bool kWide = false;
    static constexpr int32_t kSampleType = 0;  // ImageDesc::sampleType
    static constexpr int32_t kLevels = 256;    // sample values: table and histogram size
    static constexpr int32_t kTop = 255;       // largest sample value
    static constexpr int32_t kFull = 255;      // full scale of the tone and colour stages
    static constexpr float kFullF = 255.0f;
    static constexpr int32_t kScale = 1;       // this depth's constants / the 8-bit ones
    static constexpr float kLevelStep = 0.00390625f;  // 1 / kLevels
};

template <>
struct SampleDepth<uint16_t> {
    using Sample = uint16_t;
    static constexpr bool kWide = true;
    static constexpr int32_t kSampleType = 1;
    static constexpr int32_t kLevels = 65536;
    static constexpr int32_t kTop = 65535;
    static constexpr int32_t kFull = 65280;
    static constexpr float kFullF = 65280.0f;
    static constexpr int32_t kScale = 256;
    static constexpr float kLevelStep = 1.5258789e-5f;
};

// const samples have the depth of their type.
template <class T>
struct SampleDepth<const T> : SampleDepth<T> {};

}  // namespace lx
