// SPDX-License-Identifier: MIT
// WebP files, encoded with libwebp rather than through the image library,
// whose writer (OpenImageIO 2.4) drops EXIF and the colour profile and
// divides the colour by alpha even when it is not multiplied by it. The
// colour under transparent pixels is kept as it is, and the file goes
// through the output file's sink, as PNG and JPEG do.
#pragma once

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <string>
#include <vector>

#include "image_file.h"

namespace lumarex_cli {

// Encodes `pic` (8 bits a sample, rounded from 16; its alpha when
// `withAlpha`) at `quality` 1..100 with the EXIF and colour profile of
// `meta` and the XMP packet `xmp` (none when empty), and writes the file to
// `sink`. On failure `error` says why.
bool WriteWebp(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, const std::string& xmp, int quality,
               OIIO::Filesystem::IOProxy& sink, std::string& error);

// What a WebP file's first bytes say of it.
struct WebpHeader {
    int width = 0, height = 0;  // the picture's, or an animation's canvas
    bool alpha = false;
    bool animation = false;
    uint64_t fileBytes = 0;  // the whole file's size
};

// Whether the file at `path` begins as a WebP file does: "RIFF", a size,
// "WEBP".
bool IsWebpFile(const std::string& path);

// Reads the header of the WebP file at `path` from its first bytes, before
// its pixels and metadata are read (the size is checked against the limits
// first); false when it is damaged.
bool ReadWebpHeader(const std::string& path, WebpHeader& header);

// The bytes of the WebP file at `path`, read once for its metadata and its
// pixels; empty when it cannot be read.
std::vector<uint8_t> ReadWebpFile(const std::string& path);

// Adds to `spec` the EXIF (decoded) and the colour profile of the WebP file
// `bytes`, which the image library's reader leaves out. Nothing is added
// when the file has neither; the pixels are read as ever. `xmp` becomes its
// XMP packet, or empty. True when its EXIF marks it Adobe RGB (adobe_rgb.h).
bool ReadWebpMetadata(const std::vector<uint8_t>& bytes, OIIO::ImageSpec& spec, std::string& xmp);

// Decodes the still WebP file `bytes` with libwebp into `samples`:
// `width` x `height` pixels of `channels` (3, or 4 with alpha) 8-bit
// samples, or 16-bit ones (v x 257) when `deep`; of an animation, its first
// frame on the canvas. The colour under transparent pixels is kept (the
// image library's reader multiplied the colour by alpha, which loses it).
// False when libwebp cannot decode it or its size is not the one given.
bool DecodeWebp(const std::vector<uint8_t>& bytes, int width, int height, int channels, bool deep, void* samples);

}  // namespace lumarex_cli
