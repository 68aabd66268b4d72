// SPDX-License-Identifier: MIT
#include "png_file.h"

#include <OpenImageIO/tiffutils.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>

#include "byte_order.h"

namespace lumarex_cli {
namespace {

constexpr uint8_t kSignature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1a, '\n'};

void PutBigEndian(std::vector<uint8_t>& out, uint32_t v) {
    for (int shift = 24; shift >= 0; shift -= 8) out.push_back(uint8_t(v >> shift));
}

// A whole chunk: the data's length, the type, the data, and the CRC-32 of
// type and data.
std::vector<uint8_t> Chunk(const char type[4], const std::vector<char>& data) {
    std::vector<uint8_t> c;
    c.reserve(data.size() + 12);
    PutBigEndian(c, uint32_t(data.size()));
    c.insert(c.end(), type, type + 4);
    c.insert(c.end(), data.begin(), data.end());
    const uLong crc = crc32(0L, c.data() + 4, uInt(c.size() - 4));
    PutBigEndian(c, uint32_t(crc));
    return c;
}

bool StartsWith(const std::string& s, const char* prefix) { return s.rfind(prefix, 0) == 0; }

constexpr char kXmpKeyword[] = "XML:com.adobe.xmp";

}  // namespace

PngMetadataStream::PngMetadataStream(const OIIO::ImageSpec& meta, const std::string& xmp,
                                     OIIO::Filesystem::IOProxy& out)
    : PassingStream(out) {
    // The iTXt chunk where PNG readers look for the packet: the keyword, no
    // compression, empty language tag and translated keyword, the packet.
    if (!xmp.empty()) {
        std::vector<char> text(kXmpKeyword, kXmpKeyword + sizeof kXmpKeyword);
        text.insert(text.end(), {0, 0, 0, 0});
        text.insert(text.end(), xmp.begin(), xmp.end());
        xmpChunk_ = Chunk("iTXt", text);
    }
    // The image library appends the block to the vector it is given (JPEG
    // writers start that with "Exif\0\0"): from an empty one, the block
    // starts at the TIFF header ("II*\0"), as the eXIf chunk holds it.
    std::vector<char> exif;
    OIIO::encode_exif(meta, exif, OIIO::endian::little);
    // The tags are named as the block holds them, read back: exactly the
    // text that the eXIf replaces, whatever the image library encoded.
    OIIO::ImageSpec held;
    if (OIIO::decode_exif(OIIO::cspan<uint8_t>(reinterpret_cast<const uint8_t*>(exif.data()), exif.size()), held))
        for (const OIIO::ParamValue& p : held.extra_attribs) exifNames_.insert(p.name().string());
    // A block of no tags (a photo without EXIF) is not written.
    if (!exifNames_.empty()) exifChunk_ = Chunk("eXIf", exif);
}

// A stream that is not a PNG file is kept as broken and refused by
// Complete().
void PngMetadataStream::Take(const uint8_t* p, size_t n) {
    while (n > 0) {
        size_t m = 0;
        switch (state_) {
        case State::kSignature:
        case State::kChunkHeader:
            m = std::min(n, 8 - pending_.size());
            pending_.insert(pending_.end(), p, p + m);
            if (pending_.size() < 8) break;
            if (state_ == State::kChunkHeader) {
                ChunkHeaderTaken();
            } else if (std::memcmp(pending_.data(), kSignature, 8) == 0) {
                Emit(pending_.data(), 8);
                pending_.clear();
                state_ = State::kChunkHeader;
            } else {
                state_ = State::kBroken;
            }
            break;
        case State::kPassing:
            m = size_t(std::min<uint64_t>(n, left_));
            Emit(p, m);
            left_ -= m;
            if (left_ == 0) state_ = lastChunk_ ? State::kEnded : State::kChunkHeader;
            break;
        case State::kHolding:
            m = size_t(std::min<uint64_t>(n, left_));
            pending_.insert(pending_.end(), p, p + m);
            left_ -= m;
            if (left_ == 0) HeldChunkTaken();
            break;
        case State::kEnded:  // nothing follows the end chunk
        case State::kBroken:
            state_ = State::kBroken;
            return;
        }
        p += m;
        n -= m;
    }
}

// A chunk's length and type are in pending_. The writer's offset chunk and
// text chunks are held whole, to be left out or passed on; everything else
// is passed on as it comes, the eXIf chunk just before the first pixels.
void PngMetadataStream::ChunkHeaderTaken() {
    const uint32_t length = Load32(pending_.data(), false);
    const std::string type(pending_.begin() + 4, pending_.end());
    if (length > 0x7fffffffu) {
        state_ = State::kBroken;
        return;
    }
    left_ = uint64_t(length) + 4;  // the data and its CRC
    if (type == "tEXt" || type == "oFFs" || type == "eXIf" || type == "iTXt") {
        state_ = State::kHolding;
        return;
    }
    if (type == "IDAT" && !pixelsStarted_) {
        pixelsStarted_ = true;
        Emit(exifChunk_.data(), exifChunk_.size());
        Emit(xmpChunk_.data(), xmpChunk_.size());
    }
    Emit(pending_.data(), pending_.size());
    pending_.clear();
    lastChunk_ = type == "IEND";
    state_ = State::kPassing;
}

// Left out: an eXIf of the writer's own (newer OpenImageIO writes one; ours
// is the one kept), the offset (outputs have none: it is always zero), the
// image library's own attributes ("oiio:ColorSpace"; "ICCProfile:..."
// restate the iCCP chunk's header) and each tag the eXIf holds, but for
// Copyright and Software, which are PNG's own text keywords as well. The
// rest is text the photo had (a description, an author, a comment,
// keywords). Of the international text, an XMP packet of the writer's own
// is left out (the photo's is the one kept).
void PngMetadataStream::HeldChunkTaken() {
    const std::string type(pending_.begin() + 4, pending_.begin() + 8);
    const auto data = pending_.begin() + 8, end = pending_.end() - 4;
    const std::string keyword(data, std::find(data, end, uint8_t(0)));
    bool keep = false;
    if (type == "tEXt")
        keep = !StartsWith(keyword, "oiio:") && !StartsWith(keyword, "ICCProfile:") &&
               (exifNames_.count(keyword) == 0 || keyword == "Copyright" || keyword == "Software");
    else if (type == "iTXt")
        keep = keyword != kXmpKeyword;
    if (keep) Emit(pending_.data(), pending_.size());
    pending_.clear();
    state_ = State::kChunkHeader;
}

}  // namespace lumarex_cli
