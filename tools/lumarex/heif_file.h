// SPDX-License-Identifier: MIT
// HEIC and AVIF files, written with libheif rather than through the image
// library, whose writer (OpenImageIO 2.4) stores 8-bit samples only and
// drops the colour profile: a 16-bit picture is stored at 10 bits, the
// depth phones and browsers decode, and the profile and EXIF are kept. The
// file goes through the output file's sink, as PNG and JPEG do.
#pragma once

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <string>

#include "image_file.h"

namespace lumarex_cli {

// Whether libheif here has an encoder for AVIF (`av1`) or for HEIC.
bool HeifEncoderPresent(bool av1);

// Encodes `pic` (its colour, and its alpha when `withAlpha`) as AVIF (`av1`)
// or HEIC at `quality` 1..100, with the colour profile and EXIF of `meta`,
// and writes the file to `sink`. `notes` gets the depth used when it is
// less than the picture's. On failure `error` says why.
bool WriteHeif(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, bool av1, int quality,
               OIIO::Filesystem::IOProxy& sink, std::string& notes, std::string& error);

// Adds to `spec` the ICC colour profile of the HEIC or AVIF file at
// `path`'s primary image, which the image library's reader leaves out.
// Nothing is added when it has none (or only a colour description without
// a profile) or cannot be read.
void ReadHeifProfile(const std::string& path, OIIO::ImageSpec& spec);

}  // namespace lumarex_cli
