// SPDX-License-Identifier: MIT
// HEIC and AVIF files, read and written with libheif rather than through the
// image library. Its writer (OpenImageIO 2.4) stores 8-bit samples only and
// drops the colour profile: a 16-bit picture is stored at 10 bits, the depth
// phones and browsers decode, and the profile and EXIF are kept; the file
// goes through the output file's sink, as PNG and JPEG do. Its reader
// decodes 8 bits only, leaves the colour profile out, decodes the pixels as
// it opens the file, before the size can be checked against the limits, and
// overruns its buffer when the picture decoded is smaller than the file's
// header said: HeifInput reads 10 and 12-bit photos at 16 bits, decodes only
// when asked, and checks what it decoded.
#pragma once

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>
#include <libheif/heif.h>

#include <memory>
#include <string>

#include "image_file.h"

namespace lumarex_cli {

// libheif's objects, each released by its own function.
struct HeifFree {
    void operator()(heif_context* p) const { heif_context_free(p); }
    void operator()(heif_encoder* p) const { heif_encoder_release(p); }
    void operator()(heif_image* p) const { heif_image_release(p); }
    void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
};
template <class T>
using Owned = std::unique_ptr<T, HeifFree>;

// Whether libheif here has an encoder for AVIF (`av1`) or for HEIC.
bool HeifEncoderPresent(bool av1);

// Encodes `pic` (its colour, and its alpha when `withAlpha`) as AVIF (`av1`)
// or HEIC at `quality` 1..100, with the colour profile and EXIF of `meta`
// and the XMP packet `xmp` (none when empty), and writes the file to
// `sink`. `notes` gets the depth used when it is less than the picture's.
// On failure `error` says why.
bool WriteHeif(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, const std::string& xmp, bool av1,
               int quality, OIIO::Filesystem::IOProxy& sink, std::string& notes, std::string& error);

// Whether the file at `path` is a HEIF file (HEIC, AVIF, a camera's HEIF),
// as the brands of its first box say, or, when those are damaged, its name
// (`namedAsHeif`); such files are read with HeifInput.
bool IsHeifFile(const std::string& path, bool namedAsHeif);

// The primary image of a HEIC or AVIF file: Open reads its header and
// metadata, Decode its pixels, once, and CopyTo hands them on; the file is
// let go once they are decoded, the decoded picture once it is handed on.
class HeifInput {
public:
    // On failure `error` says why ("not a readable image file (...)").
    bool Open(const std::string& path, std::string& error);
    // The picture as displayed: libheif turns and mirrors it as the file
    // says (the EXIF orientation that phones write beside that is not
    // applied again).
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Bits() const { return bits_; }  // the stored depth: 8, 10 or 12
    bool HasAlpha() const { return alpha_; }
    bool Premultiplied() const { return premultiplied_; }  // the colour is multiplied by alpha
    bool Several() const { return several_; }  // the file holds more pictures than its primary one
    // The picture's description: size, channels (RGB, or RGBA with alpha),
    // the decoded EXIF without its orientation, the ICC colour profile.
    const OIIO::ImageSpec& Spec() const { return spec_; }
    // Its EXIF marks it Adobe RGB (adobe_rgb.h).
    bool ExifMarksAdobeRgb() const { return adobeRgb_; }
    // The XMP packet of the primary picture, or empty.
    const std::string& Xmp() const { return xmp_; }
    // What its colour description said, for want of an ICC profile: that it
    // gave Spec() a profile of the space it names ("Display P3 by its colour
    // description: ...", colour_profile.h), or that the picture is HDR;
    // otherwise empty.
    const std::string& ColourNote() const { return colourNote_; }

    // Decodes the pixels. libheif's decoding is the peak of reading a HEIC
    // (PhotoReader::DecoderBytes counts it for a deep one), so the caller
    // takes the memory for the samples only after this. `progress`
    // is asked before (the decoding itself cannot be stopped); when it says
    // stop, `error` is "stopped".
    bool Decode(std::string& error, const Progress& progress);
    // Copies the decoded pixels into `samples`: Width() x Height() pixels of
    // 3 or 4 interleaved samples, 16-bit ones when `wide` (a stored v of
    // `Bits()` becomes v x 65535 / (2^Bits() - 1), rounded: v x 257 for 8
    // bits), otherwise 8-bit ones rounded from those. `progress` is asked
    // now and then.
    bool CopyTo(bool wide, void* samples, std::string& error, const Progress& progress);

private:
    Owned<heif_context> context_;
    Owned<heif_image_handle> handle_;
    Owned<heif_image> image_;  // the decoded pixels, until they are copied
    OIIO::ImageSpec spec_;
    int width_ = 0, height_ = 0, bits_ = 8;
    bool alpha_ = false, premultiplied_ = false, several_ = false, adobeRgb_ = false;
    std::string colourNote_;
    std::string xmp_;
};

}  // namespace lumarex_cli
