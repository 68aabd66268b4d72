// SPDX-License-Identifier: MIT
// Reading and writing photographs for the lumarex command: whatever
// OpenImageIO reads (HEIC and AVIF with libheif, heif_file.h); PNG, JPEG,
// TIFF, WebP, AVIF and HEIC written through it, metadata (EXIF, ICC profile)
// carried from input to output, outputs written through output_file.h.
//
// What a picture looks like to the correction:
// - Upright: a photo stored rotated or mirrored with an EXIF orientation is
//   turned as it is displayed, and written upright with orientation 1, so
//   every output format (PNG too) and the before/after picture display as
//   the input did, and regions are given as displayed.
// - Colour without alpha: colour is read unpremultiplied (as the opaque photo
//   would be) and corrected on its own; alpha is carried aside untouched and
//   written back unpremultiplied. Colour under fully transparent pixels is
//   corrected like any other, not lost.
// - A colour profile that no longer describes the written pixels (a CMYK
//   profile on a CMYK JPEG decoded to RGB) is dropped, with a note.
#pragma once

#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "colour_profile.h"
#include "lumarex/lumarex.h"

namespace lumarex_cli {

struct TiffColour;  // xmp_packet.h

// A photograph as the correction sees it: interleaved RGB (red first) of 8 or
// 16 bits, plus what is needed to write it back as it came.
struct Picture {
    int width = 0;
    int height = 0;
    int bits = 8;                  // 8 or 16
    std::vector<uint8_t> rgb8;     // width * height * 3, when bits == 8
    std::vector<uint16_t> rgb16;   // width * height * 3, when bits == 16
    bool grey = false;             // the file had one colour channel
    bool hasAlpha = false;         // an alpha channel is kept aside, untouched
    std::vector<uint16_t> alpha;   // width * height, unassociated, 16-bit scale (0..65535)
    OIIO::ImageSpec spec;          // metadata to write back
    std::string xmp;               // the XMP packet, written back as it came (xmp_packet.h)
    std::string xmpExtension;      // a JPEG's extended XMP, which the packet names (xmp_packet.h)
};

// Colour sample `i` of `pic` on the 16-bit scale: an 8-bit one times 257,
// which takes 255 to 65535.
inline uint32_t Sample16(const Picture& pic, size_t i) {
    return pic.bits == 16 ? uint32_t(pic.rgb16[i]) : uint32_t(pic.rgb8[i]) * 257u;
}

// A sample of the 16-bit scale rounded to 8 bits; exact on v x 257.
inline uint8_t To8(uint32_t v16) { return uint8_t((v16 * 255u + 32767u) / 65535u); }

// The w x h pixels from (x, y) of `p` as a picture of their own, with p's
// metadata and, when `withAlpha`, its alpha; only those samples are copied.
// The rectangle must lie inside p.
Picture CropPicture(const Picture& p, int x, int y, int w, int h, bool withAlpha);

// The picture's colour samples averaged down to `width` x `height` (each
// target pixel the mean of the source pixels whose index maps onto it,
// rounded); no alpha, no metadata.
Picture ScaledDown(const Picture& photo, int width, int height);

// The library's description of the picture's interleaved RGB samples
// (8 or 16-bit by pic.bits); it points into `pic`.
ImageDesc DescribeRgb(Picture& pic);

// Called with the share done, 0..1; returns true to stop.
using Progress = std::function<bool(float done)>;

// How a camera raw file (DNG, CR2, CR3, NEF, ARW, RAF, ORF, RW2, ...) is
// developed before the correction: demosaiced, in sRGB with its transfer
// curve, at 16 bits, turned upright by the camera's orientation. Other
// files ignore it.
struct RawDevelopment {
    enum class WhiteBalance { kCamera, kAuto, kNone } whiteBalance = WhiteBalance::kCamera;
    // Blown highlights: clipped to white, unclipped (their detail kept,
    // tinted), blended, or rebuilt from the channels that did not clip.
    enum class Highlights { kClip, kUnclip, kBlend, kRebuild } highlights = Highlights::kClip;
    bool halfSize = false;  // half the width and height, no demosaicing: four times as fast
};

class HeifInput;

// A library's message on one line (they may span lines, and the command
// prints one line per problem); "unknown error" when it is empty.
std::string OneLine(std::string s);

// Decodes an EXIF block of `size` bytes into `spec`: its TIFF structure,
// after JPEG's "Exif\0\0" where the file's writer kept that (WebP and HEIF
// writers differ). True when the block marks the photo Adobe RGB
// (adobe_rgb.h), which `spec` cannot say.
bool DecodeExif(const uint8_t* data, size_t size, OIIO::ImageSpec& spec);

// An input file opened and its header read, before any pixel memory is
// taken: the caller checks the size against its limits, then reads.
class PhotoReader {
public:
    PhotoReader();
    ~PhotoReader();
    // Opens `path`, a camera raw file developed as `raw` says. On failure
    // returns false and sets `error` to a short reason ("no such file", "not
    // a readable image file (...)", "unsupported: 2 channels ...").
    bool Open(const std::string& path, std::string& error, const RawDevelopment& raw = {});
    int Width() const { return width_; }
    int Height() const { return height_; }
    int Channels() const { return channels_; }
    bool Deep() const { return deep_; }  // more than 8 bits per sample
    // What reading the pixels holds at its peak as the file's decoder goes
    // about it, where that can pass the reading phase's own count (0 where
    // it cannot): libheif's planes and converted copy for a HEIC or AVIF of
    // more than 8 bits; a TIFF's conversion chunk beside its samples; a
    // WebP file's bytes beside its samples (the file is read only after
    // this has been checked).
    uint64_t DecoderBytes() const;

    // Reads the pixels. `want16` keeps deep files at 16 bits; otherwise they
    // are reduced to 8 bits with rounding. `notes` gets what was done on the
    // way, ", "-separated ("16-bit samples reduced to 8 bits", "turned
    // upright (EXIF orientation 6)", ...).
    bool Read(bool want16, Picture& out, std::string& notes, std::string& error, const Progress& progress);

private:
    bool OpenFile(const std::string& path, std::string& error, const RawDevelopment& raw);
    bool ReadFile(bool want16, Picture& out, std::string& notes, std::string& error, const Progress& progress);
    bool OpenHeif(const std::string& path, std::string& error);
    bool OpenWebp(const std::string& path, std::string& error);
    bool OpenGif(const std::string& path, int width, int height, std::string& error);
    // Opens the file that OpenGif described, once its size has passed.
    bool OpenDeferred(std::string& error);
    // `rawColour`: samples as stored, not turned into RGB (a CIELAB TIFF's).
    bool OpenWithImageLibrary(const std::string& path, const RawDevelopment& raw, std::string& rawNote,
                              std::string& error, bool rawColour = false);
    // How the CIELAB samples of a TIFF opened with `rawColour` are stored;
    // false for a depth they are not read at.
    bool TakeLabSamples(const TiffColour& colour, std::string& error);
    bool SeekFirstPicture(std::string& error);
    bool ReadSamples(OIIO::TypeDesc type, void* samples, std::string& error, const Progress& progress);
    template <class T>
    void Finish(std::vector<T>& all, Picture& out, std::string& notes) const;

    std::unique_ptr<OIIO::ImageInput> in_;
    std::unique_ptr<HeifInput> heif_;  // a HEIC or AVIF file, read with libheif (heif_file.h) instead of in_
    std::string format_;         // the image library's name of the file's format
    std::vector<uint8_t> webp_;  // a WebP file's bytes, read once its size passed (webp_file.h)
    std::string path_;           // the file being read
    std::string deferredPath_;   // a WebP file (read with libwebp) or a GIF, read once its size passed
    uint64_t webpBytes_ = 0;     // its size
    uint64_t headerBlockBytes_ = 0;  // the largest block its header claims (HeaderBlock in image_file.cpp)
    OIIO::ImageSpec webpSpec_;   // its description, as the image library gave it
    bool several_ = false;       // the file holds more than one picture
    bool unassociated_ = false;  // the samples were read with their colour not multiplied by alpha
    int width_ = 0, height_ = 0, channels_ = 0, alphaIndex_ = -1;
    bool deep_ = false;
    int deepBits_ = 16;    // a deep file's depth as its note gives it: a HEIC's or AVIF's own, else 16
    std::string rawNote_;  // how a camera raw file was developed
    bool adobeRgb_ = false;  // its EXIF marks it Adobe RGB (adobe_rgb.h)
    std::string describedNote_;  // what a HEIF's colour description said (HeifInput::ColourNote)
    std::optional<LabSamples> lab_;  // a TIFF's CIELAB samples, turned into sRGB as read
};

// Turns interleaved samples (`channels` per pixel) stored with EXIF
// `orientation` 1..8 upright; width and height become the displayed ones.
// For 8 and 16-bit samples.
template <class T>
std::vector<T> Upright(const std::vector<T>& stored, int& width, int& height, int channels, int orientation);

// The colour space named in an ICC profile's header ("RGB ", "GRAY",
// "CMYK"), empty when the profile is too short to say.
std::string ProfileColourSpace(const OIIO::ImageSpec& spec);

// The bytes of the RGB ICC profile `spec` carries; empty when it carries
// none or one of another colour space.
std::string RgbProfileOf(const OIIO::ImageSpec& spec);

// Whether the file name's extension names a format this machine writes:
// .png, .jpg/.jpeg, .tif/.tiff, and .webp, .avif, .heic/.heif where the
// image library was built with their writers and encoders.
bool IsSupportedOutput(const std::string& path);

// The extensions of the formats this machine writes, ", "-separated.
std::string WritableFormats();

// "unsupported output format '.bmp' (this machine writes .png, ...)".
std::string UnsupportedOutputMessage(const std::string& path);

// Writes `pic` to `path` in the format its extension names, with its
// metadata (EXIF, ICC profile), through a temporary file renamed into place.
// PNG and TIFF keep 16-bit samples; JPEG, WebP, AVIF and HEIC store 8 bits.
// `quality` 1..100 applies to the lossy formats (JPEG, WebP, AVIF, HEIC).
// `notes` gets what could not be kept (alpha in a JPEG, 16 bits in an AVIF).
// With `taken` given, an existing file is never replaced: when one is at
// `path` as the file would be put in place, the write fails with *taken set.
bool WritePicture(const std::string& path, const Picture& pic, int quality, std::string& notes,
                  std::string& error, const Progress& progress, bool* taken = nullptr);

// Puts `before` and `after` (same size and depth) side by side with a thin
// gap, scaled down so the result is at most `maxWidth` wide (and no higher
// than a JPEG holds), and writes it as a JPEG with after's colour profile.
bool WriteSideBySide(const std::string& path, const Picture& before, const Picture& after, int maxWidth,
                     std::string& error);

// Appends `note` to a ", "-separated list.
void AddNote(std::string& notes, const std::string& note);

}  // namespace lumarex_cli
