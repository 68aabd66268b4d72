// SPDX-License-Identifier: MIT
#include "pipeline/finishing_stages.h"

#include <cmath>

#include "pipeline/rebuild_step.h"
#include "simd/kernels.h"
#include "stages/color_cube.h"

namespace lx {

template <class T>
FinishingStages<T>::FinishingStages(const FinishingSettings& s) : s_(s) {
    if (s.colorMode != 0) restore_ = MakeColorRestoreTables(s.colorMode, s.colorAmount);
    if (SampleDepth<T>::kWide && restore_.active && !simd::ReferenceKernels()) {
        retention16_ = HeapArray<float>::Allocate(65536);
        curvePairs16_ = HeapArray<uint64_t>::Allocate(65536);
        if (retention16_ && curvePairs16_) MakeColorRestoreLevels16(restore_, retention16_.data(), curvePairs16_.data());
    }
    // A NaN or infinite strength changes nothing: no ramp is taken for it.
    if (s.warmTone == 0 || !std::isfinite(s.warmToneStrength)) return;
    const float* ramp = ramp8_;
    if constexpr (SampleDepth<T>::kWide) {
        ramp16_ = HostArray<float>::Allocate(SampleDepth<T>::kLevels);
        if (!ramp16_) return;  // no memory: no warm tone
        MakeWarmToneRamp16(ramp16_.data());
        ramp = ramp16_.data();
    } else {
        MakeWarmToneRamp8(ramp8_);
    }
    MakeWarmToneTables(ramp, &warmTables_);
    if constexpr (!SampleDepth<T>::kWide) AddWarmToneBytes8(&warmTables_);
    warm_ = true;
}

template <class T>
void FinishingStages<T>::Rebuild(const ImageView<T>& image, const float* value) const {
    if (s_.colorMode == 0) RebuildProportional(image, value);
    else ColorRestoreTone(image, value, restore_);
}

template <class T>
void FinishingStages<T>::WarmTone(const ImageView<T>& image) const {
    if (warm_) WarmToneCorrect(image, s_.warmToneStrength, warmTables_);
}

template <class T>
void FinishingStages<T>::ColourTables(const ImageView<T>& image) const {
    ColorTables(s_.colorCube, s_.cubeSelect, s_.cubeAlsoC, image);
}

template class FinishingStages<uint8_t>;
template class FinishingStages<uint16_t>;

}  // namespace lx
