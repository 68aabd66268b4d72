// SPDX-License-Identifier: MIT
// The stages that follow the value plane in the apply pipelines: the channel
// rebuild (proportional or colour restoration), warm tone and the colour
// tables, set up once per call and run over any part of the image.
#pragma once

#include <cstdint>

#include "host/heap_array.h"
#include "host/host_buffers.h"
#include "image/image_view.h"
#include "image/sample_depth.h"
#include "stages/finishing_settings.h"
#include "stages/color_restore.h"
#include "stages/warm_tone.h"

namespace lx {

template <class T>
class FinishingStages {
public:
    // Builds the per-call tables. The 16-bit warm-tone ramp (65536 floats)
    // comes from the host; when it refuses, warm tone is left out and the
    // rest runs, as the whole-image warm tone does without its ramp.
    explicit FinishingStages(const FinishingSettings& s);
    FinishingStages(const FinishingStages&) = delete;
    FinishingStages& operator=(const FinishingStages&) = delete;

    // The channels scaled onto the value (`value`: image.width floats per
    // row): proportionally, or through colour restoration.
    void Rebuild(const ImageView<T>& image, const float* value) const;
    void WarmTone(const ImageView<T>& image) const;
    void ColourTables(const ImageView<T>& image) const;

    // All three, for rows whose channels and pixels are their own.
    void Run(const ImageView<T>& image, const float* value) const {
        Rebuild(image, value);
        WarmTone(image);
        ColourTables(image);
    }

private:
    const FinishingSettings& s_;
    ColorRestoreTables restore_;
    // 16-bit restoration's tables at every level, when the heap has room
    // (768 KB); without them the SIMD rows interpolate, with the same result.
    HeapArray<float> retention16_;
    HeapArray<uint64_t> curvePairs16_;
    bool warm_ = false;
    float ramp8_[256];
    HostArray<float> ramp16_;
    WarmToneTables warmTables_;
};

}  // namespace lx
