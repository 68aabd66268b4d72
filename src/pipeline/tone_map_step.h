// SPDX-License-Identifier: MIT
// The tone-mapping step of the apply pipelines: every value-plane entry is
// multiplied by the gain at its own level, taken from the primary table or
// blended between the two tables by the cached base map.
#pragma once

#include <cstdint>

#include "analysis/image_param.h"
#include "image/image_view.h"

namespace lx {

// Where a region's pixels read the base map, and the map's range:
//   u = map sample at ((x + offsetX) / scale, (y + offsetY) / scale)
//   t = clamp((u - low) x q, 0, 1),   q = 1 / (high - low)
// An empty range (high == low) has no ramp: t is 1 above low, else 0.
struct BaseMapBlend {
    const float* map = nullptr;  // mapWidth x mapHeight floats
    int32_t mapWidth = 0, mapHeight = 0;
    float scale = 1.0f;
    int32_t offsetX = 0, offsetY = 0;  // of the region's pixel (0, 0), map offsets included
    float low = 0.0f, q = 0.0f;
    bool flatRange = false;
};

// The blend of a record whose base map is built; offsets are the caller's
// map offsets plus the region's origin, saturated to int32.
BaseMapBlend BlendOf(const ImageParam& param, float scale, int64_t offsetX, int64_t offsetY);

// The rows of the pipelines, on the n values of one row:
//   global: v' = primary[trunc(v) & (levels - 1)] x v
//   local:  v' = ((1 - t) x secondary[i] + t x primary[i]) x v,
//           i = trunc(v) & (levels - 1), t from the value's map sample in
//           image row y (BaseMapBlend)
// clamped to 0 .. full scale. The values must be finite and within the
// int32 range (the levels step gives 0 .. full scale). Each runs its plain
// twin or, when the build has it, its SIMD twin (tone_map_step_twins.h):
// the same bits. Instantiated for uint8_t and uint16_t.
template <class T>
void ToneMapGlobalRow(float* v, int32_t n, const float* primary);
// Faster forms of the two gain tables for the SIMD rows, made from them once
// per call; either may be missing. `pairs` holds secondary and primary as
// simd::MakeGatherPairs makes them, gathered together; the byte planes
// (simd/byte_planes.h) of 8-bit levels' tables are looked up 64 values at a
// time where the target permutes bytes.
struct GainForms {
    const uint64_t* pairs = nullptr;
    const uint8_t (*secondaryBytes)[256] = nullptr;
    const uint8_t (*primaryBytes)[256] = nullptr;
};
template <class T>
void ToneMapLocalRow(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                     const BaseMapBlend& b, const GainForms& forms = {});

// The two over rows y0 .. y1 - 1 of a value plane.
template <class T>
void ToneMapGlobal(const Plane& value, const float* primary, int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) ToneMapGlobalRow<T>(value.Row(y), value.width, primary);
}
template <class T>
void ToneMapLocal(const Plane& value, const float* primary, const float* secondary, const BaseMapBlend& b,
                  int32_t y0, int32_t y1) {
    for (int32_t y = y0; y < y1; ++y) ToneMapLocalRow<T>(value.Row(y), value.width, y, primary, secondary, b);
}

}  // namespace lx
