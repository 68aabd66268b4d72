// SPDX-License-Identifier: MIT
// Photos a camera marks Adobe RGB in its EXIF alone, and the colour profile
// that keeps them so.
//
// A camera set to Adobe RGB embeds no ICC profile in its JPEGs. It says so
// in EXIF instead: ColorSpace 65535 ("uncalibrated") in the EXIF directory
// and the interoperability index "R03" in the interoperability directory
// that directory points to. Editors and viewers that know the convention
// show such a photo in Adobe RGB; without the index they take it for sRGB,
// and its colours go dull. The image library keeps ColorSpace but not the
// interoperability directory, so a corrected copy would lose the mark.
// Instead the reader finds the mark itself, and a photo so marked (with no
// profile of its own) is given an ICC profile of the same colour space,
// which every colour-managed program honours, in every output format.
#pragma once

#include <cstddef>
#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace lumarex_cli {

// Copies `n` bytes from `offset` of a byte source into `out`; false when
// they are not all there.
using ReadBytesAt = std::function<bool(uint64_t offset, size_t n, uint8_t* out)>;

// True when the EXIF block read through `read` (its TIFF structure: the
// byte-order mark at offset 0) says Adobe RGB: ColorSpace 65535 and the
// interoperability index "R03". A damaged block says nothing: offsets
// outside it, a directory of more entries than a directory holds, values of
// the wrong type.
bool ExifMarksAdobeRgb(const ReadBytesAt& read);

// The same for an EXIF block in memory, after JPEG's "Exif\0\0" where its
// writer kept that.
bool ExifBlockMarksAdobeRgb(const uint8_t* data, size_t size);

// The same for the EXIF of the file at `path`, of the image library's format
// `format`: a JPEG's APP1 block, a PNG's eXIf chunk, a TIFF's own
// directories. Other formats say nothing here (WebP and HEIF have their
// EXIF read by their own readers; a camera raw file is developed to sRGB
// whatever its camera was set to).
bool FileMarksAdobeRgb(const std::string& path, const std::string& format);

// An ICC profile (version 2.1, a display profile) of the Adobe RGB (1998)
// colour space: its primaries and D65 white adapted to the profile
// connection space's D50 by the Bradford transform, and a transfer curve of
// gamma 563/256. The same bytes on every build.
const std::vector<uint8_t>& AdobeRgbProfile();

}  // namespace lumarex_cli
