// SPDX-License-Identifier: MIT
// The caller's image of a harness: a descriptor from fuzzed fields over a
// buffer the harness owns, so that every sample the library may address lies
// inside it (the caller's promise, which the library cannot check). All else
// stays as fuzzed: strides of any sign, overlapping pixels and rows, channels
// interleaved, planar or stacked, odd 16-bit addresses, unknown sample types.
// To keep runs fast, a dimension along a non-zero stride is taken modulo 64;
// one along a zero stride keeps its value up to 2^18 pixels or past 2^28 (the
// size guards' ground; the fuzz host refuses the memory) and is taken modulo
// 512 in between; an image still spanning over 256 KiB is cut to one row,
// then one pixel (a whole-image destination loses its strides instead).
#pragma once

#include <cstdint>
#include <memory>
#include <span>
#include <vector>

#include "lumarex/lumarex.h"

namespace lx::fuzz {

// The fuzzed fields of an image.
struct ImageFields {
    int32_t sampleType = 0;
    int32_t width = 0, height = 0;
    int32_t rowStride = 0, pixelStride = 0;  // bytes, as the descriptor takes them
    uint32_t place[3] = {0, 1, 2};           // where channels 1, 2, 3 start in the buffer (modulo its room)
    uint32_t pixelSeed = 0;                  // samples not given by the input come from this
};

// Bytes per sample of a descriptor's sample type: 1 or 2, 0 for a type the
// library does not know.
inline int SampleBytes(int32_t sampleType) { return sampleType == 0 ? 1 : sampleType == 1 ? 2 : 0; }

template <class IO>
void Visit(IO& io, ImageFields& f) {
    io(f.sampleType), io(f.width), io(f.height), io(f.rowStride), io(f.pixelStride);
    for (uint32_t& p : f.place) io(p);
    io(f.pixelSeed);
}

struct SizeRule {
    // Dimensions along zero strides keep their size when the image has at
    // most `stillPixels` or more than `hugePixels` pixels; otherwise they are
    // taken modulo 512.
    int64_t stillPixels = int64_t{1} << 18;
    int64_t hugePixels = int64_t{1} << 28;
    // The size the library addresses whatever the descriptor says (the blob's,
    // for a whole-image destination); -1: the descriptor's.
    int32_t fixedWidth = -1, fixedHeight = -1;
};

class CallerImage {
public:
    // `sampleBytes`: how wide the samples the library reads are (1 or 2), or
    // 0 when it reads none (a sample type it refuses). `pixels` fill the
    // buffer first; the rest comes from the fields' seed.
    CallerImage(const ImageFields& fields, int sampleBytes, const SizeRule& rule, std::span<const uint8_t> pixels);

    const ImageDesc& desc() const { return desc_; }
    // The size the library addresses, and the strides it uses (16-bit ones
    // rounded down to even), in bytes.
    int32_t width() const { return width_; }
    int32_t height() const { return height_; }
    bool HasSamples() const { return sampleBytes_ > 0 && width_ > 0 && height_ > 0; }

    // Sample k (0 red, 1 green, 2 blue) of pixel (x, y), as the library reads it.
    uint32_t Sample(int k, int32_t x, int32_t y) const;

    // Checks after a call: nothing in the buffer changed, or nothing but the
    // addressed samples. Either fails the input otherwise.
    void ExpectUntouched(const char* call) const;
    void ExpectWrittenOnlyAtSamples(const char* call) const;

private:
    const uint8_t* At(int k, int32_t x, int32_t y) const;
    void MarkSamples();

    ImageDesc desc_{};
    int sampleBytes_ = 0;
    int32_t width_ = 0, height_ = 0;
    int64_t rowStride_ = 0, pixelStride_ = 0;
    int64_t start_[3] = {};  // buffer offset of each channel's pixel (0, 0)
    size_t size_ = 0;
    std::unique_ptr<uint8_t[]> buffer_;  // exactly size_ bytes, so that ASan sees one past the end
    std::vector<uint8_t> before_;        // the buffer as it was handed over
    std::vector<uint8_t> addressed_;     // 1 where a byte belongs to an addressed sample
};

}  // namespace lx::fuzz
