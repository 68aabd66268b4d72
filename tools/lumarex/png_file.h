// SPDX-License-Identifier: MIT
// PNG outputs with their EXIF where photo programs and browsers look for
// it. OpenImageIO 2.4's PNG writer stores each EXIF tag that is text as a
// text chunk of its own (the numbers, such as the exposure, not at all),
// which nothing but OpenImageIO reads as EXIF, and adds chunks of its own
// (an "oiio:ColorSpace" text, a zero offset). The writer still encodes the
// picture, its colour chunks (iCCP, sRGB, gAMA, cHRM) and the text that PNG
// itself names (Description, Author, Copyright, Software, Comment, ...);
// its file goes through the stream below on its way to the output file,
// which puts the whole EXIF in one eXIf chunk (the TIFF-structured block,
// as JPEG carries it after "Exif\0\0") before the pixels and leaves out the
// text the eXIf now holds and the writer's own chunks. The photo's XMP
// packet goes in an iTXt chunk beside the eXIf.
//
// The stream rewrites the file as it passes: nothing of it is held but a
// chunk's header or one of the small chunks it may leave out, and no byte
// is written twice. OpenImageIO 2.4 reads the eXIf chunk back.
#pragma once

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <cstdint>
#include <set>
#include <string>
#include <vector>

#include "passing_stream.h"

namespace lumarex_cli {

class PngMetadataStream final : public PassingStream {
public:
    // Writes to `out` the PNG file written to this stream, with the EXIF of
    // `meta` (nothing when it has none) and the XMP packet `xmp` (nothing
    // when empty).
    PngMetadataStream(const OIIO::ImageSpec& meta, const std::string& xmp, OIIO::Filesystem::IOProxy& out);
    const char* proxytype() const override { return "png metadata"; }

    // Whether the stream took in a whole PNG file, in order, up to its end
    // chunk: what was passed on is then a whole PNG file too.
    bool Complete() const { return InOrder() && state_ == State::kEnded; }

private:
    enum class State { kSignature, kChunkHeader, kPassing, kHolding, kEnded, kBroken };
    void Take(const uint8_t* p, size_t n) override;
    void ChunkHeaderTaken();
    void HeldChunkTaken();

    std::vector<uint8_t> exifChunk_;     // the whole eXIf chunk; empty when there is no EXIF
    std::vector<uint8_t> xmpChunk_;      // the whole iTXt chunk of the XMP; empty when there is none
    std::set<std::string> exifNames_;    // the image library's names of the tags the eXIf holds
    State state_ = State::kSignature;
    std::vector<uint8_t> pending_;       // the signature, a chunk header or a held chunk, as far as taken
    uint64_t left_ = 0;                  // bytes of the chunk being passed on still to come
    bool pixelsStarted_ = false;         // the first IDAT was reached (the eXIf is written before it)
    bool lastChunk_ = false;             // the chunk being passed on is IEND
};

}  // namespace lumarex_cli
