// SPDX-License-Identifier: MIT
// A photo's XMP packet (its rating, hierarchical keywords, labels, the
// editing history a photo program keeps), carried from the file read to the
// file written as the bytes it came as. OpenImageIO 2.4 decodes a few of its
// fields into attributes and writes none of them back, so the packet is
// read and written here: JPEG's APP1 segment, PNG's iTXt chunk, TIFF's
// XMLPacket tag (700), WebP's "XMP " chunk and HEIF's XMP item; a raw
// file's sidecar and a JPEG's extended XMP are read too.
//
// The changes made to it: the orientation it may state is set upright, as
// the pixels written are (a viewer that reads the XMP's orientation would
// turn the picture again), and a raw converter's settings are marked as
// applied.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "passing_stream.h"

namespace lumarex_cli {

// The XMP packet of the JPEG, PNG or TIFF file at `path` (`format` as the
// image library names it; a camera raw file built on TIFF is read as
// "tiff"), or empty when it has none or is not one of those. Only the main
// packet: a JPEG's extended XMP is read by JpegXmpExtension. With `iso`, a
// TIFF's EXIF ISO speed
// goes there too (0 when it states none, or for other formats):
// OpenImageIO 2.4's TIFF reader leaves it out.
std::string ReadXmpPacket(const std::string& path, const std::string& format, uint16_t* iso = nullptr);

// How the first picture of the TIFF at `path` stores its colour, from one
// opening with libtiff, as the packet is read: its photometric
// interpretation (8 for CIELab, 9 for ICCLab, ...; -1 when the file is not
// a TIFF) and the white point it states (its WhitePoint tag, chromaticity
// x, y), as XYZ with Y = 1, where it states one that some light has.
// OpenImageIO 2.4's reader leaves the white point out.
struct TiffColour {
    int photometric = -1;
    std::optional<std::array<double, 3>> white;
};
TiffColour TiffColourOf(const std::string& path);

// The XMP sidecar of the camera raw file at `path`, where it has no packet
// of its own: the file a raw converter keeps beside it for the rating,
// keywords and development settings, named as Adobe's programs name it
// (IMG_1234.xmp beside IMG_1234.CR2, in either case) or as others do
// (IMG_1234.CR2.xmp). Empty when there is none, it is larger than
// kLargestPacket or it is not XMP.
std::string RawSidecarXmp(const std::string& path);

// A JPEG's extended XMP: a writer whose packet does not fit one segment
// (64 KB) moves its largest properties (a raw converter's masks, an editing
// history) into a second packet, stored in segments of its own, which the
// main packet names by a GUID (xmpNote:HasExtendedXMP, the MD5 digest of
// those bytes in hex). The second packet of the JPEG file at `path` whose
// main packet is `packet`, assembled as its writer serialised it; empty
// when the packet names none, or its segments are missing, disagree or
// overlap, or it is larger than kLargestPacket.
std::string JpegXmpExtension(const std::string& path, const std::string& packet);

// `packet` split for a JPEG as a writer splits one too large for a segment:
// into `main`, of at most `most` bytes, which names `extension` by its MD5
// digest (xmpNote:HasExtendedXMP), and the extension, which holds the
// largest properties of the packet's description, moved there whole with
// the namespaces they use. False (and neither set) when the packet is not
// one description whose properties can be told apart, or already names an
// extension, or no such split fits.
bool SplitXmp(const std::string& packet, size_t most, std::string& main, std::string& extension);

// `packet` and its extended XMP as one packet, for a format that holds a
// packet of any size: the extension's descriptions put into the packet's
// RDF, and the packet's mention of an extension taken out. Empty when the
// extension cannot be merged so (it has no RDF, or declares a namespace
// outside its descriptions, which they would lose).
std::string MergedXmp(const std::string& packet, const std::string& extension);

// The GUID by which `packet` names its extended XMP (32 hexadecimal
// digits), or empty.
std::string ExtendedXmpGuid(const std::string& packet);

// The packet to write with a corrected copy of its photo: the orientation
// it states (tiff:Orientation, as an attribute or an element) set to 1, and
// Camera Raw's settings, where it has them, marked as already applied
// (crs:AlreadyApplied True), so that a raw converter does not develop the
// corrected pixels with them again.
// Settings that only `extension` (the packet's extended XMP) holds are
// marked in the packet.
std::string XmpOfCorrected(std::string packet, const std::string& extension = {});

// A field of a photo's IPTC block as the image library reads it: the
// attribute's name ("IPTC:City", "Keywords") and its text; a repeatable
// field (keywords, creators) holds its values with "; " between them.
struct IptcField {
    std::string name, value;
};
// `packet` with the IPTC fields that it does not already state, for a format
// that has no IPTC block (PNG, WebP, HEIC, AVIF): the properties that
// IPTC's and Adobe's own mapping gives them (keywords as dc:subject, the
// caption as dc:description, the city as photoshop:City, ...), in a
// description of their own joined to its RDF, or in a new packet where there
// is none. What the packet states (in a namespace bound to its usual prefix,
// or bound otherwise, in which case that namespace is left to the packet)
// stays as it is. Text that is not UTF-8 is taken as Latin-1, as older IPTC
// writers stored it. `packet` as it is when there is nothing to add, or it
// has no RDF to add to.
std::string XmpWithIptc(const std::string& packet, const std::vector<IptcField>& fields);
// A packet is some kilobytes; one of more than this is damage, and is not
// read.
inline constexpr uint64_t kLargestPacket = 16u << 20;

// The longest packet one JPEG APP1 segment holds.
inline constexpr size_t kJpegXmpMax = 65535 - 2 - 29;

// `packet` with the padding that photo programs leave in it for editing in
// place (white space before the closing processing instruction) taken out.
std::string WithoutPadding(const std::string& packet);

// Adds to the TIFF file at `path`, written whole, what OpenImageIO 2.4's
// TIFF writer leaves out: `packet` as its XMLPacket tag (none when empty)
// and `iso`, the EXIF ISO speed (none when 0), which the writer skips
// because libtiff takes that tag as a list, into the EXIF directory the
// writer made (a file without one gets none). That directory and the first
// are rewritten at the end of the file and pointed to. False, with `error` saying why, when the file
// cannot be changed; it is then not to be used.
bool CompleteTiff(const std::string& path, const std::string& packet, uint16_t iso, std::string& error);

// A JPEG file on its way to `out`, with `packet` put in as an APP1 segment
// after the file's first APP0 and APP1 segments (its JFIF header and EXIF,
// where readers look for the XMP), followed by the segments of `extension`,
// its extended XMP (JpegXmpExtension; left out when the packet names no
// GUID), and any XMP segment of the encoder's own left out. It holds
// nothing but the segment header it is reading; past the start of the
// picture's data, bytes pass straight on.
class JpegXmpStream final : public PassingStream {
public:
    JpegXmpStream(std::string packet, const std::string& extension, OIIO::Filesystem::IOProxy& out);
    const char* proxytype() const override { return "jpeg xmp"; }

    // Whether the stream took in a JPEG file, in order, up to the start of
    // its picture's data, and put the packet in.
    bool Complete() const { return InOrder() && state_ == State::kPicture && packetWritten_; }

private:
    enum class State { kStart, kHeader, kSignature, kPassing, kDropping, kPicture, kBroken };
    void Take(const uint8_t* p, size_t n) override;
    void HeaderTaken();
    void EmitPacket();

    std::vector<uint8_t> segment_;   // the whole APP1 segments of the packet and its extension
    State state_ = State::kStart;
    std::vector<uint8_t> pending_;   // the start marker, or a segment's marker, length and signature
    uint64_t left_ = 0;              // bytes of the segment being passed on or left out still to come
    bool packetWritten_ = false;
};

}  // namespace lumarex_cli
