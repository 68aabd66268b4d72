// SPDX-License-Identifier: MIT
#include "adobe_rgb.h"

#include "byte_order.h"
#include "colour_profile.h"
#include "jpeg_segments.h"

#include <cstring>
#include <fstream>
#include <iterator>
#include <utility>

namespace lumarex_cli {

namespace {

// A camera's directories hold a few dozen entries; a count far beyond that
// is damage, and reading it would only cost time.
constexpr unsigned kMaxEntries = 1000;

constexpr uint16_t kExifPointer = 0x8769, kColorSpace = 0xA001, kInteropPointer = 0xA005, kInteropIndex = 0x0001;
constexpr uint16_t kAscii = 2, kShort = 3, kLong = 4, kIfd = 13;

struct Entry {
    uint16_t type = 0;
    uint32_t count = 0;
    uint8_t value[4] = {};
};

// A TIFF structure (an EXIF block is one) read through `read`.
class TiffReader {
public:
    explicit TiffReader(const ReadBytesAt& read) : read_(read) {}

    // Reads the header; false when it is not a TIFF header. `first` is the
    // offset of the first directory.
    bool Header(uint32_t& first) {
        uint8_t h[8];
        if (!read_(0, 8, h)) return false;
        if (h[0] == 'I' && h[1] == 'I') little_ = true;
        else if (h[0] == 'M' && h[1] == 'M') little_ = false;
        else return false;
        first = U32(h + 4);
        return U16(h + 2) == 42;
    }

    // The entry of `tag` in the directory at `at`.
    bool Find(uint32_t at, uint16_t tag, Entry& e) {
        uint8_t n[2];
        if (!read_(at, 2, n)) return false;
        const unsigned count = U16(n);
        if (count == 0 || count > kMaxEntries) return false;
        std::vector<uint8_t> entries(size_t(count) * 12);
        if (!read_(uint64_t(at) + 2, entries.size(), entries.data())) return false;
        for (unsigned i = 0; i < count; ++i) {
            const uint8_t* p = &entries[size_t(i) * 12];
            if (U16(p) != tag) continue;
            e.type = U16(p + 2);
            e.count = U32(p + 4);
            std::memcpy(e.value, p + 8, 4);
            return true;
        }
        return false;
    }

    // The offset a directory pointer entry gives.
    bool Pointer(uint32_t at, uint16_t tag, uint32_t& to) {
        Entry e;
        if (!Find(at, tag, e) || (e.type != kLong && e.type != kIfd) || e.count != 1) return false;
        to = U32(e.value);
        return true;
    }

    // A number of one value, short or long.
    bool Number(uint32_t at, uint16_t tag, uint32_t& v) {
        Entry e;
        if (!Find(at, tag, e) || e.count != 1) return false;
        if (e.type == kShort) v = U16(e.value);
        else if (e.type == kLong) v = U32(e.value);
        else return false;
        return true;
    }

    // A text of up to three characters and its terminator, held in the
    // entry itself.
    bool ShortText(uint32_t at, uint16_t tag, std::string& text) {
        Entry e;
        if (!Find(at, tag, e) || e.type != kAscii || e.count == 0 || e.count > 4) return false;
        text.assign(reinterpret_cast<const char*>(e.value), e.count);
        while (!text.empty() && text.back() == '\0') text.pop_back();
        return true;
    }

private:
    uint16_t U16(const uint8_t* p) const { return Load16(p, little_); }
    uint32_t U32(const uint8_t* p) const { return Load32(p, little_); }

    const ReadBytesAt& read_;
    bool little_ = true;
};

// `size` bytes of an open file from `base`, read as a byte source.
ReadBytesAt FileWindow(std::ifstream& file, uint64_t base, uint64_t size) {
    return [&file, base, size](uint64_t offset, size_t n, uint8_t* out) {
        if (offset > size || n > size - offset) return false;
        file.clear();
        file.seekg(std::streamoff(base + offset));
        file.read(reinterpret_cast<char*>(out), std::streamsize(n));
        return size_t(file.gcount()) == n;
    };
}

// Where a PNG's eXIf chunk lies, if it comes before the picture's data.
bool PngExif(std::ifstream& file, uint64_t& base, uint64_t& size) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t b[8];
    if (!file.read(reinterpret_cast<char*>(b), 8) || std::memcmp(b, signature, 8) != 0) return false;
    uint64_t at = 8;
    for (int chunks = 0; chunks < 10000; ++chunks) {
        file.clear();
        if (!file.seekg(std::streamoff(at)) || !file.read(reinterpret_cast<char*>(b), 8)) return false;
        const uint64_t length = Load32(b, false);
        if (length > 0x7FFFFFFF || std::memcmp(b + 4, "IDAT", 4) == 0 || std::memcmp(b + 4, "IEND", 4) == 0)
            return false;
        if (std::memcmp(b + 4, "eXIf", 4) == 0) {
            base = at + 8;
            size = length;
            // Some writers keep JPEG's marker in front of the block.
            uint8_t marker[6];
            if (size >= 6 && file.read(reinterpret_cast<char*>(marker), 6) &&
                std::memcmp(marker, "Exif\0\0", 6) == 0)
                base += 6, size -= 6;
            return true;
        }
        at += 12 + length;
    }
    return false;
}

std::vector<uint8_t> BuildAdobeRgbProfile() {
    // The colorants: the primaries' XYZ at D65 white (x, y: red 0.64, 0.33;
    // green 0.21, 0.71; blue 0.15, 0.06; white 0.3127, 0.3290), adapted to
    // D50 with the Bradford transform, in s15Fixed16 rounded to nearest.
    // Each row sums to D50 within the rounding.
    const int32_t colorants[3][3] = {{0x9C18, 0x4FA5, 0x04FC}, {0x348D, 0xA02C, 0x0F95}, {0x2631, 0x102F, 0xBE9B}};
    // One gamma, 563/256 in u8Fixed8.
    const std::vector<uint8_t> curve = {'c', 'u', 'r', 'v', 0, 0, 0, 0, 0, 0, 0, 1, 0x02, 0x33};
    // The name says what the profile holds without claiming to be the
    // original's.
    return DisplayProfile("Compatible with Adobe RGB (1998)", colorants, curve);
}

}  // namespace

bool ExifMarksAdobeRgb(const ReadBytesAt& read) {
    TiffReader tiff(read);
    uint32_t first = 0, exif = 0, interop = 0, space = 0;
    std::string index;
    return tiff.Header(first) && tiff.Pointer(first, kExifPointer, exif) && tiff.Number(exif, kColorSpace, space) &&
           space == 65535 && tiff.Pointer(exif, kInteropPointer, interop) &&
           tiff.ShortText(interop, kInteropIndex, index) && index == "R03";
}

bool ExifBlockMarksAdobeRgb(const uint8_t* data, size_t size) {
    if (size > 6 && std::memcmp(data, "Exif\0\0", 6) == 0) data += 6, size -= 6;
    return ExifMarksAdobeRgb([data, size](uint64_t offset, size_t n, uint8_t* out) {
        if (offset > size || n > size - offset) return false;
        std::memcpy(out, data + offset, n);
        return true;
    });
}

bool FileMarksAdobeRgb(const std::string& path, const std::string& format) {
    std::ifstream file(path, std::ios::binary);
    if (!file) return false;
    uint64_t base = 0, size = 0;
    if (format == "jpeg") {
        // The EXIF block: "Exif\0\0", then at least a TIFF header.
        if (!FindJpegApp1(file, "Exif\0\0", 6, 8, base, size)) return false;
    } else if (format == "png") {
        if (!PngExif(file, base, size)) return false;
    } else if (format == "tiff") {
        file.seekg(0, std::ios::end);
        const std::streamoff end = file.tellg();
        if (end <= 0) return false;
        size = uint64_t(end);
    } else {
        return false;
    }
    return ExifMarksAdobeRgb(FileWindow(file, base, size));
}

const std::vector<uint8_t>& AdobeRgbProfile() {
    static const std::vector<uint8_t> profile = BuildAdobeRgbProfile();
    return profile;
}

}  // namespace lumarex_cli
