// SPDX-License-Identifier: MIT
// The fast twins of a build without SIMD (LUMAREX_PLAIN, or no Highway, as
// in the Windows cross-build): each runs its plain twin, so the choosers and
// the tests that compare the twins work unchanged and give the plain bytes.
// Compiled only in such a build (CMakeLists.txt), where the *_hwy.cpp files
// compile to nothing; each stand-in is headed by the file whose SIMD form it
// replaces.
#if defined(LUMAREX_SIMD)
#error "simd/no_simd.cpp is for builds without SIMD only"
#endif

#include "oneshot/one_shot_rows_twins.h"
#include "oneshot/sharpen_max_channel_twins.h"
#include "pipeline/levels_step_twins.h"
#include "pipeline/rebuild_step_twins.h"
#include "pipeline/row_copy_twins.h"
#include "pipeline/tone_map_step_twins.h"
#include "stages/color_restore_twins.h"
#include "stages/exp_smooth_plane_twins.h"
#include "stages/local_contrast_map_twins.h"
#include "stages/sharpen_plane_twins.h"
#include "stages/warm_tone_twins.h"

namespace lx {

// stages/exp_smooth_plane_hwy.cpp
void ColumnForwardStepFast(float* row, const float* above, int64_t n, float a) {
    ColumnForwardStepPlain(row, above, n, a);
}
void ExpSmoothPlaneFast(const Plane& plane, const float* norm, float a) { ExpSmoothPlanePlain(plane, norm, a); }
void ExpSmoothRowsFast(const Plane& rows, const float* norm, float a) { ExpSmoothRowsPlain(rows, norm, a); }

// stages/sharpen_plane_hwy.cpp
void SharpenLinesFast(const float* behind, const float* cur, const float* ahead, float* out, int32_t n,
                      const SharpenKernel& k) {
    SharpenLinesPlain(behind, cur, ahead, out, n, k);
}
void SharpenLineEndsFast(const float* neighbour, const float* cur, float* out, int32_t n, const SharpenKernel& k) {
    SharpenLineEndsPlain(neighbour, cur, out, n, k);
}

// stages/local_contrast_map_hwy.cpp
namespace contrast_detail {
void DetailRowFast(float* d, const float* v, float* magnitude, float* z, const float* below, int32_t n,
                   float forward, float backward, float a) {
    DetailRowPlain(d, v, magnitude, z, below, n, forward, backward, a);
}
void MapRowFast(float* e, const float* d, float* z, bool bottom, int32_t n, float forward, float backward, float a,
                const LocalContrastScale& scale, int32_t* bins) {
    MapRowPlain(e, d, z, bottom, n, forward, backward, a, scale, bins);
}
}  // namespace contrast_detail

// stages/warm_tone_hwy.cpp
void WarmToneCorrectFast(const ImageView<uint8_t>& image, float strength, const WarmToneTables& tables) {
    WarmToneCorrectPlain(image, strength, tables);
}
void WarmToneCorrectFast(const ImageView<uint16_t>& image, float strength, const WarmToneTables& tables) {
    WarmToneCorrectPlain(image, strength, tables);
}

// stages/color_restore_hwy.cpp
void ColorRestoreFast(const ImageView<uint8_t>& image, const float* tone, const ColorRestoreTables& tables) {
    ColorRestorePlain(image, tone, tables);
}
void ColorRestoreFast(const ImageView<uint16_t>& image, const float* tone, const ColorRestoreTables& tables) {
    ColorRestorePlain(image, tone, tables);
}

// pipeline/levels_step_hwy.cpp
void DivideBy1000Fast(const int32_t* p, int32_t n, int32_t* q) {
    for (int32_t i = 0; i < n; ++i) q[i] = p[i] / 1000;
}
void LevelValues8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y, int32_t n,
                      float* value) {
    LevelValues<uint8_t>(table, source, y, n, value);
}
void LevelValues16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                       int32_t n, float* value) {
    LevelValues<uint16_t>(step, source, y, n, value);
}
void LevelRow8Fast(const LevelsTable8& table, const ImageView<const uint8_t>& source, int32_t y,
                   const ImageView<uint8_t>& out, float* value) {
    LevelRow<uint8_t>(table, source, y, out, value);
}
void LevelRow16Fast(const LevelsStep<uint16_t>& step, const ImageView<const uint16_t>& source, int32_t y,
                    const ImageView<uint16_t>& out, float* value) {
    LevelRow<uint16_t>(step, source, y, out, value);
}

// pipeline/tone_map_step_hwy.cpp
template <class T>
void ToneMapGlobalRowFast(float* v, int32_t n, const float* primary) {
    ToneMapGlobalRowPlain<T>(v, n, primary);
}
template <class T>
void ToneMapLocalRowFast(float* row, int32_t n, int32_t y, const float* primary, const float* secondary,
                         const BaseMapBlend& b, const GainForms&) {
    ToneMapLocalRowPlain<T>(row, n, y, primary, secondary, b);
}
template void ToneMapGlobalRowFast<uint8_t>(float*, int32_t, const float*);
template void ToneMapGlobalRowFast<uint16_t>(float*, int32_t, const float*);
template void ToneMapLocalRowFast<uint8_t>(float*, int32_t, int32_t, const float*, const float*, const BaseMapBlend&,
                                           const GainForms&);
template void ToneMapLocalRowFast<uint16_t>(float*, int32_t, int32_t, const float*, const float*,
                                            const BaseMapBlend&, const GainForms&);

// pipeline/rebuild_step_hwy.cpp
template <class T>
void RebuildProportionalFast(const ImageView<T>& image, const float* value) {
    RebuildProportionalPlain<T>(image, value);
}
template void RebuildProportionalFast<uint8_t>(const ImageView<uint8_t>&, const float*);
template void RebuildProportionalFast<uint16_t>(const ImageView<uint16_t>&, const float*);

// pipeline/row_copy_hwy.cpp
template <class T>
void CopyPixelsFast(const ImageView<const T>& from, const ImageView<T>& to, Stores) {
    CopyPixelsPlain<T>(from, to);
}
template void CopyPixelsFast<uint8_t>(const ImageView<const uint8_t>&, const ImageView<uint8_t>&, Stores);
template void CopyPixelsFast<uint16_t>(const ImageView<const uint16_t>&, const ImageView<uint16_t>&, Stores);
// No streaming stores without SIMD: nothing to order.
void FenceStreamingStores() {}

// oneshot/one_shot_rows_hwy.cpp
uint8_t RowMinimumFast(const ImageView<uint8_t>& image, int32_t y, uint8_t lowest) {
    return RowMinimumPlain(image, y, lowest);
}
void StretchValuesRowFast(const uint8_t* v, int32_t n, float stretch, float* out) {
    StretchValuesRowPlain(v, n, stretch, out);
}
void RemoveBlackRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t black, uint8_t* const out[3],
                        uint8_t* largest) {
    RemoveBlackRowPlain(image, y, black, out, largest);
}
void ApplyTintRowFast(const ImageView<uint8_t>& image, int32_t y, const TintTables& t, uint8_t* const out[3],
                      uint8_t* largest, int64_t* moved) {
    ApplyTintRowPlain(image, y, t, out, largest, moved);
}
void ReadRowFast(const ImageView<uint8_t>& image, int32_t y, uint8_t* const out[3], uint8_t* largest) {
    ReadRowPlain(image, y, out, largest);
}
void ChromaCellsRowFast(const uint8_t* const px[3], int32_t n, int32_t tintMode, int16_t* cells) {
    ChromaCellsRowPlain(px, n, tintMode, cells);
}
void BrightenRowFast(const ImageView<uint8_t>& image, int32_t y, const float* map, const BrightenTables& t,
                     uint8_t* const[3]) {
    BrightenRowPlain(image, y, map, t);
}

// oneshot/sharpen_max_channel_hwy.cpp
// Needs no row buffers, so it never fails.
bool SharpenMaxChannel8Fast(const ImageView<uint8_t>& image, float amount) {
    SharpenMaxChannel8Plain(image, amount);
    return true;
}

}  // namespace lx
