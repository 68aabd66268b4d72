// SPDX-License-Identifier: MIT
// The noise library's three entry points: argument checks, the preset
// table, and the mapping from the parameter block to the denoiser.
#include "noiselib17.h"

#include <algorithm>
#include <cmath>
#include <cstddef>
#include <iterator>

#include "denoise.h"
#include "noise_estimate.h"
#include "work_memory.h"

static_assert(sizeof(NoiseParamBlock) == 32 && offsetof(NoiseParamBlock, word16) == 16 &&
                  offsetof(NoiseParamBlock, reserved20) == 20 && offsetof(NoiseParamBlock, qword) == 24,
              "callers lay the block out as 32-bit words at 0..16 and a 64-bit field at 24");

namespace noiselib {
namespace {

constexpr int32_t kPresetCount = 5;
constexpr int32_t kMaxLevel = 10;
constexpr int32_t kMaxAdjustA = 100;
constexpr int32_t kMaxAdjustB = 20;

// Preset table, gentle to strong. Every preset assumes the noise found
// (level 3; see Assumed below); they differ in how far they look for
// similar patches at each pyramid level (search window radius at levels 0,
// 1, 2), in how much noise they take the assumed level for at each level
// (strength), in how different two patches may be and still be averaged
// (adjustA, the luma smoothing), in how far and how freely the chroma is
// smoothed (adjustB), and in how much of the texture the filter took for
// noise they put back.
// The coarse levels run at 0.8 of the measured noise: at half and quarter
// size the texture of a photo stands out more against white noise, and
// filtering them at the full measure costs texture more than it removes
// noise. The gentlest preset leaves the quarter-size level alone; the
// strongest gains its strength at the coarse levels and puts texture back.
// Under light noise presets 2 to 4 keep to preset 1's searches and
// strengths, and every preset to a 3 x 3 colour filter (see kLightNoise
// below).
//
//   preset  adjustA  adjustB  radii    strength        texture
//                             0 1 2    0    1    2
//     0       40        4     1 1 -    0.85 0.7  -       0
//     1       50        6     2 1 1    0.9  0.72 0.72    0
//     2       60        8     2 2 2    1    0.8  0.8     0
//     3       60       12     2 3 3    1    0.8  0.8     0
//     4       60       16     2 3 4    1    0.9  1       0.7
struct Preset {
    int32_t level, adjustA, adjustB;
    int searchRadius[kLevels];
    float strength[kLevels];
    float texture;
};
constexpr Preset kPresets[kPresetCount] = {
    {3, 40, 4, {1, 1, 1}, {0.85f, 0.7f, 0.0f}, 0.0f},    {3, 50, 6, {2, 1, 1}, {0.9f, 0.72f, 0.72f}, 0.0f},
    {3, 60, 8, {2, 2, 2}, {1.0f, 0.8f, 0.8f}, 0.0f},    {3, 60, 12, {2, 3, 3}, {1.0f, 0.8f, 0.8f}, 0.0f},
    {3, 60, 16, {2, 3, 4}, {1.0f, 0.9f, 1.0f}, 0.7f},
};

// The luma noise each level assumes. The estimate's reading of a level is
// the variance floor of its flattest blocks; on a detailed photo with
// light noise that floor is texture (pine cones, motorbikes, citrus read
// 2.5 .. 7.6 levels where white noise of deviation 2 or 5 adds 1.3 .. 3.3
// to the luma), and filtering at it costs 2 .. 11 dB against the untouched
// input. Two signs tell a texture floor from noise:
//
// - r = m(Y, 1) / m(Y, 0), the coarser level's floor against the finer
//   one's. Noise falls: white to 0.5, the benchmark's camera-like noise
//   (demosaiced, JPEG) to 0.71 .. 0.81 on the bundled photos. A texture
//   floor does not fall (the estimate caps r at 1). But a small picture's
//   level 1 has few blocks, each four times larger, and can read texture
//   while level 0 reads noise (the backlit room at 676 pixels: r = 1 at
//   white noise of deviation 2 and 5).
// - fall, how much of their deviation the blocks behind level 0's
//   reading keep when averaged 2 x 2: white noise keeps 0.5, texture that
//   dominates the reading 0.82 .. 0.89 (the four detailed photos above). A
//   blend of white noise (share s of the variance) and such texture keeps
//   f^2 = 0.25 s + kTextureKeeps (1 - s), so the white share is
//       s = (kTextureKeeps - f^2) / (kTextureKeeps - 0.25)
//   (with kTextureKeeps = 0.8^2, the least kept by a texture of those
//   photos, s is never overstated by a texture that keeps more). On the
//   benchmark's white noise, m(Y, 0) sqrt(s) comes to 0.8 .. 1.0 of the
//   true deviation on the detailed photos (where the reading itself is up
//   to 5 times too high) and on the bundled ones; camera-like noise, which
//   keeps 0.71 .. 0.79 itself, would read far too low.
//
// So where the floor falls (r <= 0.85) the reading is taken as it is (white
// or camera-like noise at every level); where it does not (r >= 0.95) only
// the white share of level 0 counts, and the coarser levels assume what
// white noise of that deviation leaves them (half per level), never more
// than they read; linearly between. The chroma readings of such a picture
// are its colour texture just as much (the citrus photo's colour floor
// rises from 1.5 at level 0 to 5.0 at level 2 under colour noise of about
// 1.3), so
// there the chroma assumes level 0's colour reading times the same white
// share, halved per level, in place of the JPEG rule of SettingsFor.
constexpr float kFalls = 0.85f, kStays = 0.95f;
constexpr float kTextureKeeps = 0.8f * 0.8f;

struct AssumedNoise {
    float luma[kLevels];
    float chroma[kLevels];  // the larger of Cb and Cr
    float colourRead;       // chroma[0] as read, before the texture rule
};

AssumedNoise Assumed(const NoiseProfile& noise) {
    static_assert(kLevels == kNoiseLevels, "one reading per pyramid level");
    AssumedNoise n{};
    // The colour noise of level s: the larger of what it and the next
    // coarser level read. A level that reads less than the next one missed
    // noise between JPEG's blocks (one colour per 16 x 16 pixels, which the
    // next level's blocks span), and its filter still has to tolerate it. A
    // floor that rises further up is the photo's colour (the citrus
    // photo's segments read 3.2, 1.8, 5.4 under white noise whose colour
    // reads 3.2), which taken for noise widened the colour filter past what
    // the noise asks for.
    float read[kLevels];  // the larger of Cb's and Cr's reading
    for (int k = 0; k < kLevels; ++k) read[k] = std::max(noise.Level(1, k), noise.Level(2, k));
    for (int k = 0; k < kLevels; ++k) n.chroma[k] = k + 1 < kLevels ? std::max(read[k], read[k + 1]) : read[k];
    n.colourRead = n.chroma[0];
    const float m0 = noise.Level(0, 0);
    const float r = m0 > 0.0f ? noise.Level(0, 1) / m0 : 0.0f;
    const float w = std::clamp((r - kFalls) / (kStays - kFalls), 0.0f, 1.0f);
    const float f = noise.fall;
    const float share = std::sqrt(std::clamp((kTextureKeeps - f * f) / (kTextureKeeps - 0.25f), 0.0f, 1.0f));
    float white = m0 * share;
    float colour = read[0] * share;
    for (int k = 0; k < kLevels; ++k, white *= 0.5f, colour *= 0.5f) {
        const float m = noise.Level(0, k);
        n.luma[k] = (1.0f - w) * m + w * std::min(m, white);
        n.chroma[k] = (1.0f - w) * n.chroma[k] + w * std::min(n.chroma[k], colour);
    }
    // The same test one level up: a quarter-size floor that does not fall
    // from the half-size one is texture too, and level 2 then assumes at
    // most half of what level 1 assumes (the citrus photo at deviation 5
    // reads 4.1, 3.0, 3.0).
    for (int k = 1; k < kLevels; ++k) {
        const float finer = noise.Level(0, k - 1), m = noise.Level(0, k);
        const float rk = finer > 0.0f ? m / finer : 0.0f;
        const float wk = std::clamp((rk - kFalls) / (kStays - kFalls), 0.0f, 1.0f);
        n.luma[k] = std::min(n.luma[k], (1.0f - wk) * m + wk * std::min(m, 0.5f * n.luma[k - 1]));
    }
    return n;
}

// Light noise wants a light touch. What makes presets 2 to 4 stronger than
// preset 1 (wider searches at the coarse levels, the coarse levels filtered
// harder, a wider colour filter) pays only where the noise is heavy; under
// light noise it costs texture and colour detail that the noise hardly
// hides. On the noise benchmark, at white noise of deviation 2, presets 2
// to 4 at their own settings scored 0.7 .. 1.3 dB below preset 1 on smooth
// and on detailed photos alike (means), and below the untouched input in 7
// cases each where preset 1 was in 2; from deviation 10 on they lead. So
// their luma searches and strengths move from preset 1's, where level 0's
// luma reads kLightNoise or less, to their own from kHeavyNoise up
// (linearly between; a search radius switches halfway). The colour filter,
// whatever the preset and adjustB, needs a box wider than 3 x 3 only to
// average away colour noise of kLightColourNoise or more (the larger of
// levels 0 and 1's colour readings): below that it keeps to 3 x 3. Both
// rules go by the readings, not by
// what Assumed makes of them: where the texture rule discounts a heavy
// reading it is as often heavy camera noise on a picture that is texture
// everywhere (see Assumed), and easing off there as well cost such photos
// up to 1.1 dB.
constexpr float kLightNoise = 3.0f, kHeavyNoise = 6.0f, kLightColourNoise = 4.0f;
constexpr int32_t kGentlePreset = 1;

// The block's words, clamped to their ranges, the preset and the measured
// noise turned into filter settings (n(s) and C(s): the luma and colour
// noise that level s assumes, from Assumed; m and c: level 0's luma reading
// and the larger colour reading of levels 0 and 1; L = level / 3; t: how
// heavy the noise m x L is, 0 at kLightNoise, 1 at kHeavyNoise):
//   strength[s]  = the preset's, moved toward preset 1's by 1 - t (presets 2..4)
//   sigma[s]     = n(s) x L x strength[s]
//   lumaH        = 0.5 + 2.5 adjustA / 100     (0.5 .. 3.0)
//   chromaRadius = 1 + adjustB / 8 (1 .. 3), 1 while c x L < kLightColourNoise
//   chromaEps    = ((0.25 + adjustB / 10) x C(0) x L)^2
//   chroma put back above 1.5 C(s) x L, luma texture above 0.9 sigma[0]
DenoiseSettings SettingsFor(const NoiseParamBlock& block, int32_t preset, const NoiseProfile& noise) {
    const Preset& p = kPresets[preset];
    const Preset& gentle = kPresets[std::min(preset, kGentlePreset)];
    const int32_t level = std::clamp(block.level, 0, kMaxLevel);
    const int32_t a = std::clamp(block.adjustA, 0, kMaxAdjustA);
    const int32_t b = std::clamp(block.adjustB, 0, kMaxAdjustB);
    const float scale = float(level) / 3.0f;
    DenoiseSettings s;
    const AssumedNoise assumed = Assumed(noise);
    const float heavy =
        std::clamp((noise.Level(0, 0) * scale - kLightNoise) / (kHeavyNoise - kLightNoise), 0.0f, 1.0f);
    for (int k = 0; k < kLevels; ++k) {
        const float strength = gentle.strength[k] + heavy * (p.strength[k] - gentle.strength[k]);
        s.sigma[k] = assumed.luma[k] * scale * strength;
        s.searchRadius[k] = heavy >= 0.5f ? p.searchRadius[k] : gentle.searchRadius[k];
    }
    s.lumaH = 0.5f + 2.5f * float(a) / 100.0f;
    s.chromaRadius = assumed.colourRead * scale < kLightColourNoise ? 1 : 1 + b / 8;
    const float* chroma = assumed.chroma;
    const float k = (0.25f + float(b) / 10.0f) * chroma[0] * scale;
    s.chromaEps = std::max(k * k, 1e-3f);
    s.chromaKeep = 1.0f;
    for (int k = 0; k < kLevels; ++k) s.chromaSigma[k] = 1.5f * chroma[k] * scale;
    s.texture = p.texture;
    s.textureSigma = 0.9f * s.sigma[0];
    return s;
}

template <class T>
int32_t Run(uint8_t* buffer, int32_t width, int32_t height, int64_t rowStride, bool redFirst,
            NoiseParamBlock* block, int32_t preset, int32_t mode) {
    NoiseProfile noise;
    {
        WorkBlock scratch = WorkBlock::Allocate(NoiseEstimateScratchBytes(width, height));
        if (!scratch) return NOISELIB_FAILED;
        noise = EstimateNoise<T>(buffer, width, height, rowStride, redFirst, scratch.data());
    }
    // Bytes 20..23 are the library's own: the measured luma noise of one
    // pixel, in hundredths of an 8-bit level. At most some 150 levels.
    block->reserved20 = static_cast<int32_t>(noise.Level(0, 0) * 100.0f + 0.5f);
    if (mode == 1) return NOISELIB_OK;

    const DenoiseSettings settings = SettingsFor(*block, preset, noise);
    if (std::all_of(std::begin(settings.sigma), std::end(settings.sigma), [](float v) { return !(v >= kMinSigma); }))
        return NOISELIB_OK;  // level 0, or no measurable noise (flat or tiny images)
    WorkBlock scratch = WorkBlock::Allocate(DenoiseScratchBytes(width, height, int(sizeof(T)), settings));
    if (!scratch) return NOISELIB_FAILED;
    Denoise<T>(buffer, width, height, rowStride, redFirst, settings, scratch.data());
    return NOISELIB_OK;
}

}  // namespace
}  // namespace noiselib

extern "C" {

NOISELIB_API int32_t NoiseSetFilterRecord(FilterRecord* record) {
    noiselib::SetHostRecord(record);
    return NOISELIB_OK;
}

NOISELIB_API int32_t FillNoiseParamsFromPreset(NoiseParamBlock* block, int32_t preset) {
    if (block == nullptr || preset < 0 || preset >= noiselib::kPresetCount) return NOISELIB_FAILED;
    const noiselib::Preset& p = noiselib::kPresets[preset];
    block->level = p.level;
    block->adjustA = p.adjustA;
    block->adjustB = p.adjustB;
    block->reserved20 = 0;
    return NOISELIB_OK;
}

NOISELIB_API int32_t RemoveNoiseBufPreset(void* buffer, int32_t width, int32_t height, int32_t rowStride,
                                          int32_t /*reserved5*/, int32_t sixteenBit, uint8_t /*reserved7*/,
                                          uint8_t redFirst, NoiseParamBlock* block, int32_t preset, int32_t mode,
                                          int64_t /*reserved12*/) {
    if (buffer == nullptr || block == nullptr || width <= 0 || height <= 0) return NOISELIB_FAILED;
    if (sixteenBit != 0 && sixteenBit != 1) return NOISELIB_FAILED;
    if (mode != 0 && mode != 1) return NOISELIB_FAILED;
    if (preset < 0 || preset >= noiselib::kPresetCount) return NOISELIB_FAILED;
    const int64_t bytesPerSample = sixteenBit ? 2 : 1;
    if (int64_t{rowStride} < int64_t{width} * 3 * bytesPerSample) return NOISELIB_FAILED;

    auto* samples = static_cast<uint8_t*>(buffer);
    return sixteenBit ? noiselib::Run<uint16_t>(samples, width, height, rowStride, redFirst != 0, block, preset, mode)
                      : noiselib::Run<uint8_t>(samples, width, height, rowStride, redFirst != 0, block, preset, mode);
}

}  // extern "C"
