// SPDX-License-Identifier: MIT
// The colour space a photo's ICC profile describes, for the command's colour
// measures (colour_measure.h). A phone's Display P3 photo or a camera's
// Adobe RGB one holds more saturated colours than the same numbers would in
// sRGB; measured as sRGB, the colour guard would misjudge how far a
// correction moves them. The correction itself works on the samples as they
// are, whatever their space; only what the choice measures changes.
//
// Profiles of three primaries and three transfer curves (what displays,
// cameras' working spaces and phones embed) are read; anything else (a
// table-based profile, a grey or CMYK one, a damaged one) leaves the photo
// measured as sRGB.
#pragma once

#include <OpenImageIO/imageio.h>

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "colour_measure.h"

namespace lumarex_cli {

// The space of an RGB ICC profile of primaries (rXYZ, gXYZ, bXYZ) and
// curves (rTRC, gTRC, bTRC: 'curv' or 'para'), its primaries adapted from
// the profile connection space's D50 to D65 by the Bradford transform.
// Nothing when the profile is not one, is damaged (a tag outside it, a
// curve that is not finite), or its primaries do not add up to white.
std::optional<RgbSpace> SpaceOfIccProfile(const uint8_t* data, size_t size);

// A profile whose every level and matrix entry lies this close to sRGB's is
// sRGB: the compact sRGB profiles of web images differ in the last digits.
inline constexpr double kSrgbTolerance = 0.005;

// The space of the profile `spec` carries (its "ICCProfile"), when it
// describes one other than sRGB; nothing when the photo is measured as
// sRGB.
std::optional<RgbSpace> OwnSpaceOf(const OIIO::ImageSpec& spec);

// An ICC display profile (version 2.1) named `name`: the three colorants
// (XYZ at D50 in s15Fixed16, red, green and blue in turn), one curve tag's
// bytes for all three channels, D50 white. The same bytes on every build.
std::vector<uint8_t> DisplayProfile(const char* name, const int32_t (&colorants)[3][3],
                                    const std::vector<uint8_t>& curve);

// A colour space a HEIF picture describes by its colour primaries and
// transfer instead of a profile (its 'nclx' colour box), where those are
// not sRGB's: the profile that says the same to every colour-managed
// program, and the space's name for notes. Display P3 (primaries 12) and
// ITU-R BT.2020 (9), both with D65 white, with sRGB's curve, a 1024-point
// table (the transfers of sRGB and the BT.709 family, which still pictures
// are decoded with). Nothing for sRGB's own primaries, an HDR transfer (PQ,
// HLG: not a display profile's curve) or anything unknown.
struct DescribedSpace {
    const char* name = nullptr;
    const std::vector<uint8_t>* profile = nullptr;
};
DescribedSpace SpaceOfColourDescription(int primaries, int transfer);

// How a TIFF stores CIELAB: ICCLab (a* and b* offset by half the range) or
// CIELab (a* and b* signed), 8 or 16 bits, and the white its colours are
// relative to (XYZ with Y = 1): D50, as Photoshop and libtiff take it, unless
// the file states another.
struct LabSamples {
    bool icc = false;
    int bits = 8;
    std::array<double, 3> white{0.9642, 1.0, 0.8249};
};

// Turns the first `colours` (3, or 1 for L* alone) of every `channels`
// samples of `pixels` pixels from CIELAB into sRGB numbers of the samples'
// depth, in place: the white adapted to D65 by the Bradford transform,
// colours outside sRGB clipped channel by channel. 8-bit samples hold an
// 8-bit file's; 16-bit ones a 16-bit file's, or an 8-bit file's read as 16
// (v x 257).
void LabToSrgb(uint8_t* samples, size_t pixels, int channels, int colours, const LabSamples& lab);
void LabToSrgb(uint16_t* samples, size_t pixels, int channels, int colours, const LabSamples& lab);

}  // namespace lumarex_cli
