// SPDX-License-Identifier: MIT
#include "image_file.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <exception>
#include <filesystem>
#include <limits>
#include <map>
#include <mutex>
#include <new>
#include <system_error>

#include <OpenImageIO/strutil.h>
#include <OpenImageIO/tiffutils.h>

#include "adobe_rgb.h"
#include "byte_order.h"
#include "heif_file.h"
#include "large_pages.h"
#include "output_file.h"
#include "png_file.h"
#include "webp_file.h"
#include "xmp_packet.h"

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Extension(const std::string& path) { return Lower(fs::path(path).extension().string()); }

// OIIO's progress callbacks return true to stop.
bool OnOiioProgress(void* context, float done) { return (*static_cast<const Progress*>(context))(done); }

// Associated (premultiplied) colour to unassociated, rounded; colour under
// alpha 0 is 0 in the file and stays 0.
void Unpremultiply(std::vector<uint16_t>& px, size_t pixels, int channels) {
    for (size_t i = 0; i < pixels; ++i) {
        uint16_t* p = &px[i * size_t(channels)];
        const uint32_t a = p[channels - 1];
        if (a == 0) continue;
        for (int c = 0; c < channels - 1; ++c) p[c] = uint16_t(std::min<uint32_t>(65535u, (p[c] * 65535u + a / 2) / a));
    }
}

void EraseProfile(OIIO::ImageSpec& spec) {
    auto& a = spec.extra_attribs;
    a.erase(std::remove_if(a.begin(), a.end(),
                           [](const OIIO::ParamValue& p) {
                               const std::string n = p.name().string();
                               return n == "ICCProfile" || n.rfind("ICCProfile:", 0) == 0;
                           }),
            a.end());
}

std::string Trimmed(std::string s) {
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s;
}

// Source index range [from, to) of target index i when n source samples
// become m: at least one sample each.
void SourceSpan(int i, int n, int m, int& from, int& to) {
    from = int(int64_t{i} * n / m);
    to = std::max(from + 1, int(int64_t{i + 1} * n / m));
}

template <typename T>
void Average(const std::vector<T>& src, int sw, int sh, std::vector<T>& dst, int dw, int dh) {
    dst.assign(size_t(dw) * size_t(dh) * 3, 0);
    std::vector<uint64_t> row(size_t(dw) * 3);
    for (int ty = 0; ty < dh; ++ty) {
        int y0, y1;
        SourceSpan(ty, sh, dh, y0, y1);
        std::fill(row.begin(), row.end(), 0);
        for (int y = y0; y < y1; ++y) {
            const T* s = &src[size_t(y) * size_t(sw) * 3];
            for (int tx = 0; tx < dw; ++tx) {
                int x0, x1;
                SourceSpan(tx, sw, dw, x0, x1);
                for (int x = x0; x < x1; ++x)
                    for (int c = 0; c < 3; ++c) row[size_t(tx) * 3 + c] += s[size_t(x) * 3 + c];
            }
        }
        for (int tx = 0; tx < dw; ++tx) {
            int x0, x1;
            SourceSpan(tx, sw, dw, x0, x1);
            const uint64_t count = uint64_t(x1 - x0) * uint64_t(y1 - y0);
            for (int c = 0; c < 3; ++c)
                dst[(size_t(ty) * dw + tx) * 3 + c] = T((row[size_t(tx) * 3 + c] + count / 2) / count);
        }
    }
}

}  // namespace

void AddNote(std::string& notes, const std::string& note) {
    if (note.empty()) return;
    if (!notes.empty()) notes += ", ";
    notes += note;
}

namespace {

// The alpha channel the file names, or -1 when it names none that exists.
int NamedAlpha(const OIIO::ImageSpec& spec) {
    return spec.alpha_channel >= 0 && spec.alpha_channel < spec.nchannels ? spec.alpha_channel : -1;
}

// The formats written, by extension. Lossy ones take the quality as
// OpenImageIO's "Compression" "<name>:<quality>", which for the HEIF writer
// also picks the encoder (AV1 for AVIF, HEVC for HEIC).
struct OutputFormat {
    const char* ext;       // lower case, with its dot
    const char* writer;    // OpenImageIO's format name
    const char* lossy;     // the compression name the quality goes with; null when lossless
    int bits;              // the deepest samples the writer stores here: 16 or 8
    bool alpha;
    bool bySink;           // written through the output file's sink, else by name (see WritePicture)
};

// WebP stores 8-bit samples; it is written by webp_file.h. HEIC and AVIF are
// written by heif_file.h, which chooses their depth.
constexpr OutputFormat kOutputFormats[] = {
    {".png", "png", nullptr, 16, true, true},     {".jpg", "jpeg", "jpeg", 8, false, true},
    {".jpeg", "jpeg", "jpeg", 8, false, true},    {".tif", "tiff", nullptr, 16, true, false},
    {".tiff", "tiff", nullptr, 16, true, false},  {".webp", "webp", "webp", 8, true, true},
    {".avif", "heif", "avif", 16, true, true},    {".heic", "heif", "heic", 16, true, true},
    {".heif", "heif", "heic", 16, true, true},
};

// The longest side the JPEG library writes.
constexpr int kJpegMaxSide = 65500;

const OutputFormat* FormatOf(const std::string& path) {
    const std::string e = Extension(path);
    for (const OutputFormat& f : kOutputFormats)
        if (e == f.ext) return &f;
    return nullptr;
}

// Whether this machine's libraries write `f`: OpenImageIO may be built
// without a writer, libheif without an encoder.
bool Writable(const OutputFormat& f) {
    static std::mutex guard;
    static std::map<std::string, bool> known;
    const std::lock_guard<std::mutex> lock(guard);
    const auto found = known.find(f.ext);
    if (found != known.end()) return found->second;
    const std::string writer = f.writer;
    const bool ok = writer == "heif"   ? HeifEncoderPresent(std::string(f.lossy) == "avif")
                    : writer == "webp" ? true  // libwebp is linked in
                                       : OIIO::ImageOutput::create(writer) != nullptr;
    known.emplace(f.ext, ok);
    return ok;
}

}  // namespace

bool IsSupportedOutput(const std::string& path) {
    const OutputFormat* f = FormatOf(path);
    return f != nullptr && Writable(*f);
}

std::string WritableFormats() {
    std::string list;
    for (const OutputFormat& f : kOutputFormats)
        if (Writable(f)) list += (list.empty() ? "" : ", ") + std::string(f.ext);
    return list;
}

std::string UnsupportedOutputMessage(const std::string& path) {
    const std::string e = Extension(path);
    return "unsupported output format '" + (e.empty() ? std::string("(none)") : e) + "' (this machine writes " +
           WritableFormats() + ")";
}

Picture CropPicture(const Picture& p, int x, int y, int w, int h, bool withAlpha) {
    Picture c;
    c.width = w, c.height = h, c.bits = p.bits, c.grey = p.grey, c.spec = p.spec, c.xmp = p.xmp;
    c.xmpExtension = p.xmpExtension;
    c.hasAlpha = withAlpha && p.hasAlpha;
    const size_t n = size_t(w) * 3;
    if (p.bits == 16) c.rgb16.reserve(n * size_t(h));
    else c.rgb8.reserve(n * size_t(h));
    for (int row = y; row < y + h; ++row) {
        const size_t from = (size_t(row) * size_t(p.width) + size_t(x)) * 3;
        if (p.bits == 16) c.rgb16.insert(c.rgb16.end(), p.rgb16.begin() + from, p.rgb16.begin() + from + n);
        else c.rgb8.insert(c.rgb8.end(), p.rgb8.begin() + from, p.rgb8.begin() + from + n);
        if (c.hasAlpha) {
            const size_t a = size_t(row) * size_t(p.width) + size_t(x);
            c.alpha.insert(c.alpha.end(), p.alpha.begin() + a, p.alpha.begin() + a + w);
        }
    }
    return c;
}

Picture ScaledDown(const Picture& photo, int width, int height) {
    Picture p;
    p.width = width, p.height = height, p.bits = photo.bits, p.grey = photo.grey;
    if (photo.bits == 16) Average(photo.rgb16, photo.width, photo.height, p.rgb16, width, height);
    else Average(photo.rgb8, photo.width, photo.height, p.rgb8, width, height);
    return p;
}

ImageDesc DescribeRgb(Picture& pic) {
    const int bytes = pic.bits == 16 ? 2 : 1;
    uint8_t* base = bytes == 2 ? reinterpret_cast<uint8_t*>(pic.rgb16.data()) : pic.rgb8.data();
    return ImageDesc{bytes == 2 ? 1 : 0, pic.width, pic.height, pic.width * 3 * bytes, 3 * bytes,
                     base, base + bytes, base + 2 * bytes};
}

template <class T>
std::vector<T> Upright(const std::vector<T>& stored, int& width, int& height, int channels, int orientation) {
    const int w = width, h = height;
    const bool swap = orientation >= 5 && orientation <= 8;
    const int ow = swap ? h : w, oh = swap ? w : h;
    std::vector<T> out(stored.size());
    for (int y = 0; y < oh; ++y)
        for (int x = 0; x < ow; ++x) {
            // The stored pixel shown at (x, y). Orientation 6: the stored
            // first row is the displayed right column (turn 90 degrees
            // clockwise to view); 8: the left column; 5 and 7 are those,
            // mirrored; 2, 3, 4 mirror or turn 180 degrees.
            int sx = x, sy = y;
            switch (orientation) {
            case 2: sx = w - 1 - x; break;
            case 3: sx = w - 1 - x, sy = h - 1 - y; break;
            case 4: sy = h - 1 - y; break;
            case 5: sx = y, sy = x; break;
            case 6: sx = y, sy = h - 1 - x; break;
            case 7: sx = w - 1 - y, sy = h - 1 - x; break;
            case 8: sx = w - 1 - y, sy = x; break;
            default: break;
            }
            std::copy_n(&stored[(size_t(sy) * w + sx) * channels], channels, &out[(size_t(y) * ow + x) * channels]);
        }
    width = ow;
    height = oh;
    return out;
}

template std::vector<uint8_t> Upright(const std::vector<uint8_t>&, int&, int&, int, int);
template std::vector<uint16_t> Upright(const std::vector<uint16_t>&, int&, int&, int, int);

std::string ProfileColourSpace(const OIIO::ImageSpec& spec) {
    const OIIO::ParamValue* icc = spec.find_attribute("ICCProfile");
    if (icc == nullptr || icc->type().size() < 20) return {};
    // Bytes 16..19 of the 128-byte header: the data colour space signature.
    const auto* bytes = static_cast<const char*>(icc->data());
    return std::string(bytes + 16, 4);
}

std::string RgbProfileOf(const OIIO::ImageSpec& spec) {
    const OIIO::ParamValue* icc = spec.find_attribute("ICCProfile");
    if (icc == nullptr || ProfileColourSpace(spec) != "RGB ") return {};
    return std::string(static_cast<const char*>(icc->data()), icc->type().size());
}

namespace {

// The screen size of the GIF file at `path` from its first ten bytes
// ("GIF", a version the GIF library does not check, then width and height,
// little-endian); false when the file is not a GIF.
bool GifScreen(const std::string& path, int& width, int& height) {
    unsigned char head[10] = {};
    std::ifstream file(path, std::ios::binary);
    if (!file.read(reinterpret_cast<char*>(head), sizeof head) || std::memcmp(head, "GIF", 3) != 0) return false;
    width = head[6] | head[7] << 8;
    height = head[8] | head[9] << 8;
    return true;
}

// A block whose size the file's header gives, and which the image library's
// readers take memory for and read as they open the file.
struct ClaimedBlock {
    uint64_t bytes = 0;  // its size
    uint64_t end = 0;    // where it ends in the file
    const char* what = "";
};

// An OpenEXR header's largest attribute, or the first that runs past the
// end of the file (OpenEXR takes the memory an attribute's size gives before
// it reads the value: 2 GB for a 51-byte file). False for a file that is no
// OpenEXR file or whose header is cut short (the image library says why).
bool LargestExrAttribute(std::ifstream& file, uint64_t fileBytes, ClaimedBlock& block) {
    unsigned char version[4] = {};
    if (!file.read(reinterpret_cast<char*>(version), 4)) return false;
    const bool multipart = (version[1] & 0x10) != 0;
    const auto text = [&file](std::string& out) {
        out.clear();
        for (char c; file.get(c);) {
            if (c == '\0') return true;
            if (out.size() == 255) return false;
            out += c;
        }
        return false;
    };
    block.what = "an attribute";
    std::string name, type;
    while (text(name)) {
        if (name.empty()) {
            // The end of a header; in a file of several parts, an empty
            // header ends the list.
            if (!multipart || file.peek() == 0 || file.peek() == std::char_traits<char>::eof()) return true;
            continue;
        }
        unsigned char size[4] = {};
        if (!text(type) || !file.read(reinterpret_cast<char*>(size), 4)) return false;
        const uint32_t bytes = Load32(size, true);
        const uint64_t at = uint64_t(file.tellg());
        const uint64_t claimed = bytes;  // a negative size (from bit 31 up) is past any end
        if (claimed >= block.bytes || at + claimed > fileBytes) block = {claimed, at + claimed, "an attribute"};
        if (at + claimed > fileBytes) return true;
        file.seekg(std::streamoff(claimed), std::ios::cur);
    }
    return false;
}

// A Photoshop file's first three sections (colour data, image resources,
// layers), each after its size, the largest or the first that runs past the
// end of the file. The layers' size takes 8 bytes in a large document (PSB).
bool PhotoshopSections(std::ifstream& file, bool large, uint64_t fileBytes, ClaimedBlock& block) {
    constexpr const char* kNames[] = {"colour data", "image resources", "layers"};
    uint64_t at = 26;
    for (int section = 0; section < 3; ++section) {
        const int width = section == 2 && large ? 8 : 4;
        unsigned char size[8] = {};
        file.clear();
        file.seekg(std::streamoff(at));
        if (!file.read(reinterpret_cast<char*>(size), width)) return section > 0;
        uint64_t bytes = 0;
        for (int i = 0; i < width; ++i) bytes = bytes << 8 | size[i];
        at += uint64_t(width);
        const uint64_t end = bytes > fileBytes ? UINT64_MAX : at + bytes;
        if (bytes >= block.bytes || end > fileBytes) block = {bytes, end, kNames[section]};
        if (end > fileBytes) return true;
        at = end;
    }
    return true;
}

// The first bytes of a file, read once for the checks below; `size` of
// them are there (a file cut short reads 0 past its end).
struct FileHead {
    unsigned char bytes[128] = {};
    std::streamsize size = 0;
    bool Is(const char* magic) const { return size >= 4 && std::memcmp(bytes, magic, 4) == 0; }
};

// The block of a file's header that the image library's reader takes
// memory for as it opens the file: a film scan's user data (DPX or Cineon,
// either byte order), a Photoshop file's largest section, an OpenEXR
// header's largest attribute. False for a file with no such block.
bool HeaderBlock(std::ifstream& file, const FileHead& head, uint64_t fileBytes, ClaimedBlock& block) {
    // A film scan's user data follows its generic and industry headers,
    // whose sizes its header gives too (all ones, "undefined" in these
    // formats: the standard sizes; for the user data: none). The three
    // sizes stand one after another, from `at`.
    const auto filmScan = [&](bool little, int at, uint32_t standard) {
        const auto given = [&](int field, uint32_t otherwise) {
            const uint32_t v = Load32(head.bytes + at + 4 * field, little);
            return v == 0xFFFFFFFFu ? otherwise : v;
        };
        block.bytes = given(2, 0);
        block.end = uint64_t(given(0, standard)) + given(1, 2048 - standard) + block.bytes;
        block.what = "user data";
        return true;
    };
    if (head.Is("SDPX") || head.Is("XPDS")) return filmScan(head.Is("XPDS"), 24, 1664);
    constexpr const char* kCineon = "\x80\x2a\x5f\xd7", *kCineonLittle = "\xd7\x5f\x2a\x80";
    if (head.Is(kCineon) || head.Is(kCineonLittle)) return filmScan(head.Is(kCineonLittle), 8, 1024);
    if (head.Is("8BPS")) return PhotoshopSections(file, head.bytes[5] == 2, fileBytes, block);
    if (head.Is("\x76\x2f\x31\x01")) {
        file.clear();
        file.seekg(4);
        return LargestExrAttribute(file, fileBytes, block);
    }
    return false;
}

// A Photoshop file whose colour mode needs more channels than its header
// gives (RGB in one channel): OpenImageIO 2.4's reader reads the channels
// the mode names, past those there are, and ends the process. The reason,
// or empty for a file that is no such file.
std::string PhotoshopChannelsFault(const FileHead& head) {
    if (!head.Is("8BPS") || head.size < 26) return {};
    const int channels = Load16(head.bytes + 12, false), mode = Load16(head.bytes + 24, false);
    // Bitmap, grey, indexed, RGB, CMYK, -, -, multichannel, duotone, Lab.
    constexpr int kLeast[] = {1, 1, 1, 3, 4, 0, 0, 1, 1, 3};
    if (mode >= int(std::size(kLeast)) || kLeast[mode] == 0)
        return "not a readable image file (a Photoshop colour mode " + std::to_string(mode) + " that does not exist)";
    if (channels < kLeast[mode])
        return "not a readable image file (its Photoshop colour mode needs " + std::to_string(kLeast[mode]) +
               " channels, its header gives " + std::to_string(channels) + ")";
    return {};
}

// A DirectDraw surface of uncompressed samples with a channel whose bit
// mask is empty: OpenImageIO 2.4's reader looks for the mask's lowest bit
// and never stops. The reason, or empty for a file that is no such file.
std::string DdsMaskFault(const FileHead& head) {
    if (!head.Is("DDS ") || head.size < 108) return {};
    // The pixel format: flags, the compression's code, the bits a pixel and
    // the red, green, blue and alpha masks.
    const uint32_t flags = Load32(head.bytes + 80, true);
    constexpr uint32_t kAlphaPixels = 0x1, kCompressed = 0x4, kRgb = 0x40, kLuminance = 0x20000;
    if ((flags & kCompressed) != 0) return {};
    const char* names[] = {"red", "green", "blue", "alpha"};
    for (int c = 0; c < 4; ++c) {
        const bool used = c == 3 ? (flags & kAlphaPixels) != 0 : c == 0 ? (flags & (kRgb | kLuminance)) != 0
                                                                        : (flags & kRgb) != 0;
        if (used && Load32(head.bytes + 92 + 4 * c, true) == 0)
            return std::string("not a readable image file (a DDS picture whose ") + names[c] + " channel has no bits)";
    }
    return {};
}

// What the header of `path` (of `fileBytes` bytes) claims that the image
// library's readers would act on as they open it: false with the reason for
// a file to refuse; otherwise `blockBytes` is the largest block a reader
// takes memory for (0 for none).
bool CheckHeader(const std::string& path, uint64_t fileBytes, uint64_t& blockBytes, std::string& error) {
    blockBytes = 0;
    FileHead head;
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(head.bytes), sizeof head.bytes);
    head.size = file.gcount();
    if (ClaimedBlock block; HeaderBlock(file, head, fileBytes, block)) {
        if (block.end > fileBytes) {
            error = "not a readable image file (its header claims " + std::string(block.what) + " of " +
                    std::to_string(block.bytes) + " bytes, past the end of the file)";
            return false;
        }
        blockBytes = block.bytes;
    }
    for (std::string fault : {PhotoshopChannelsFault(head), DdsMaskFault(head)})
        if (!fault.empty()) {
            error = std::move(fault);
            return false;
        }
    return true;
}

// The raw reader's settings for `raw` (LibRaw's through OpenImageIO's
// "raw:" attributes, which other readers ignore), and the note that says
// what was done.
void ConfigureRaw(const RawDevelopment& raw, OIIO::ImageSpec& config, std::string& note) {
    using WB = RawDevelopment::WhiteBalance;
    config.attribute("raw:use_camera_wb", raw.whiteBalance == WB::kCamera ? 1 : 0);
    config.attribute("raw:use_auto_wb", raw.whiteBalance == WB::kAuto ? 1 : 0);
    config.attribute("raw:ColorSpace", "sRGB");
    config.attribute("raw:auto_bright", 0);
    // LibRaw's modes: 0 clip, 1 unclip, 2 blend, 3..9 rebuild (5: halfway
    // between detail and the risk of coloured edges).
    const int mode[] = {0, 1, 2, 5};
    config.attribute("raw:HighlightMode", mode[int(raw.highlights)]);
    config.attribute("raw:half_size", raw.halfSize ? 1 : 0);
    const char* wb[] = {"the camera's white balance", "a measured white balance", "no white balance"};
    const char* hl[] = {"clipped", "unclipped", "blended", "rebuilt"};
    note = std::string("developed from camera raw") + (raw.halfSize ? " at half size" : "") + " with " +
           wb[int(raw.whiteBalance)] + " and highlights " + hl[int(raw.highlights)];
}

}  // namespace

std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    if (s.empty()) return "unknown error";
    // A reader may say the same thing once per element of a damaged file
    // (a Photoshop file's 20 000 layers: a megabyte of "hit end of file").
    // The first words say why.
    constexpr size_t kLongest = 300;
    if (s.size() > kLongest) {
        size_t cut = s.rfind(' ', kLongest);
        if (cut == std::string::npos || cut < kLongest / 2) cut = kLongest;
        while (cut > 0 && (static_cast<unsigned char>(s[cut]) & 0xC0) == 0x80) --cut;  // not inside a character
        s.resize(cut);
        s += " ...";
    }
    return s;
}

bool DecodeExif(const uint8_t* data, size_t size, OIIO::ImageSpec& spec) {
    if (size > 6 && std::memcmp(data, "Exif\0\0", 6) == 0) data += 6, size -= 6;
    OIIO::decode_exif(OIIO::cspan<uint8_t>(data, OIIO::oiio_span_size_type(size)), spec);
    return ExifBlockMarksAdobeRgb(data, size);
}

namespace {

// Formats the image library reads that hold no photo. A video's first frame
// would be corrected as a picture, through a video decoder far larger than
// any picture's; the "null" reader makes a blank picture of any file whose
// name ends in .null. A 3D program's renders and depth maps and a medical
// scan are no photos either, nor is an icon; OpenImageIO 2.4's Maya IFF and
// ICO readers write outside their buffers on a damaged file, which ended
// the process or corrupted its memory. They are
// refused by what they are, and never tried on a file of another name. The
// reason, or null for a format of photos.
const char* NotAPhoto(const std::string& format) {
    if (format == "ffmpeg") return "is a video, not a photo";
    if (format == "openvdb") return "is OpenVDB volume data, not a photo";
    if (format == "iff") return "is a Maya IFF render, not a photo";
    if (format == "softimage") return "is a Softimage PIC render, not a photo";
    if (format == "zfile") return "is a depth map (zfile), not a photo";
    if (format == "dicom") return "is a medical image (DICOM), not a photo";
    if (format == "ico") return "is an icon (ICO), not a photo";
    if (format == "null") return "not an image file (the image library makes up a blank picture for any .null name)";
    return nullptr;
}

// The image library's format for a file's extension ("" when none claims
// it), from its own list ("jpeg:jpg,jpe,...;png:png;...").
std::string FormatOfExtension(const std::string& ext) {
    if (ext.size() < 2) return {};
    std::string list;
    OIIO::getattribute("extension_list", list);
    const std::string bare = ext.substr(1);
    for (const std::string& entry : OIIO::Strutil::splits(list, ";")) {
        const size_t colon = entry.find(':');
        if (colon == std::string::npos) continue;
        for (const std::string& e : OIIO::Strutil::splits(entry.substr(colon + 1), ","))
            if (Lower(e) == bare) return entry.substr(0, colon);
    }
    return {};
}

std::unique_ptr<OIIO::ImageInput> OpenStillPicture(const std::string& path, const OIIO::ImageSpec& config,
                                                   std::string& error) {
    // As the image library opens a file (the reader its extension names,
    // then any reader that recognises it), but only with readers of
    // photos.
    const std::string named = FormatOfExtension(Extension(path));
    if (const char* reason = NotAPhoto(named)) {
        error = reason;
        return nullptr;
    }
    std::vector<std::string> formats;
    if (!named.empty()) formats.push_back(named);
    int tryAll = 1;  // 0 where the caller asks the image library for the extension's reader alone
    OIIO::getattribute("try_all_readers", tryAll);
    std::string all;
    if (tryAll != 0) OIIO::getattribute("input_format_list", all);
    for (const std::string& f : OIIO::Strutil::splits(all, ","))
        if (f != named && !NotAPhoto(f)) formats.push_back(f);
    std::string namedError;
    for (const std::string& f : formats) {
        std::unique_ptr<OIIO::ImageInput> in = OIIO::ImageInput::create(f);
        if (!in) continue;
        if (f != named && !in->valid_file(path)) continue;
        OIIO::ImageSpec spec;
        if (in->open(path, spec, config)) return in;
        if (f == named) namedError = in->geterror();
    }
    (void)OIIO::geterror();
    error = "not a readable image file (" +
            OneLine(namedError.empty() ? "no reader of photos recognises it" : namedError) + ")";
    return nullptr;
}

}  // namespace

PhotoReader::PhotoReader() = default;
PhotoReader::~PhotoReader() = default;

namespace {

// OpenImageIO 2.4's readers throw on some damaged files (the GIF reader a
// std::length_error from a vector it sizes by the file): such a file
// fails with the reason, as any other unreadable one, and a batch goes on.
// Running out of memory is left to the caller, which reports it as such.
template <class F>
bool CatchingReaderErrors(std::string& error, F&& f) {
    try {
        return f();
    } catch (const std::bad_alloc&) {
        throw;
    } catch (const std::exception& e) {
        error = "not a readable image file (the image library failed on it: " + OneLine(e.what()) + ")";
        return false;
    }
}

}  // namespace

bool PhotoReader::Open(const std::string& path, std::string& error, const RawDevelopment& raw) {
    return CatchingReaderErrors(error, [&] { return OpenFile(path, error, raw); });
}

bool PhotoReader::Read(bool want16, Picture& out, std::string& notes, std::string& error, const Progress& progress) {
    return CatchingReaderErrors(error, [&] { return ReadFile(want16, out, notes, error, progress); });
}

uint64_t PhotoReader::DecoderBytes() const {
    const uint64_t n = uint64_t(width_) * uint64_t(height_);
    // Measured on 12 to 60 megapixel photos: 26 bytes a pixel with alpha, 20
    // without.
    if (heif_) return deep_ ? n * (alphaIndex_ >= 0 ? 26 : 20) : 0;
    // The WebP file's bytes, held while its pixels are decoded into the
    // reading phase's own (8-bit samples, then RGB).
    if (format_ == "webp") return webpBytes_ + n * (uint64_t(channels_) * 2 + 6 + 3);
    // A film scan's user data, a Photoshop file's colour data, an OpenEXR
    // header's largest attribute (HeaderBlock), and the image library's copy
    // of it in the picture's description.
    if (format_ == "dpx" || format_ == "cineon" || format_ == "psd" || format_ == "openexr")
        return headerBlockBytes_ * 2;
    if (!in_ || format_ != "tiff") return 0;
    // OpenImageIO 2.4 converts a TIFF's samples in chunks of about 64 MB of
    // scanlines (the picture's rows, if fewer) rounded up to whole strips,
    // beside the samples converted: a strip that claims far more rows than
    // the picture has makes the chunk that large (43690 rows of a 2-row
    // picture: 11 GB).
    const OIIO::ImageSpec& spec = in_->spec();
    const int rowsPerStrip = spec.get_int_attribute("tiff:RowsPerStrip", 64);
    if (rowsPerStrip <= 0) return 0;
    const uint64_t scanline = std::max<uint64_t>(1, spec.scanline_bytes(true)), strip = uint64_t(rowsPerStrip);
    const uint64_t chunk = std::clamp<uint64_t>((uint64_t(1) << 26) / scanline, 1, uint64_t(height_));
    const uint64_t rows = (chunk + strip - 1) / strip * strip;
    return n * uint64_t(channels_) * 2 + rows * scanline;
}

bool PhotoReader::OpenFile(const std::string& path, std::string& error, const RawDevelopment& raw) {
    describedNote_.clear();
    lab_.reset();
    path_ = path;
    // Only regular files: opening a named pipe waits for a writer that may
    // never come, and a device such as /dev/zero never ends.
    std::error_code ec;
    const fs::file_status status = fs::status(path, ec);
    if (!fs::exists(status)) {
        // A name too long, or a file named as a folder ("photo.jpg/"),
        // says so rather than that there is no such file.
        error = ec && ec != std::errc::no_such_file_or_directory ? "cannot be opened (" + ec.message() + ")"
                                                                 : "no such file";
        return false;
    }
    if (fs::is_directory(status)) {
        error = "is a folder, not an image file";
        return false;
    }
    if (!fs::is_regular_file(status)) {
        const char* kind = fs::is_fifo(status)              ? "a named pipe"
                           : fs::is_character_file(status) ? "a character device"
                           : fs::is_block_file(status)     ? "a block device"
                           : fs::is_socket(status)         ? "a socket"
                                                           : "a special file";
        error = std::string("is ") + kind + ", not an image file";
        return false;
    }
    // A file that cannot be opened says why (most often its permissions),
    // where each reader below would only say that it failed.
    if (std::FILE* f = std::fopen(path.c_str(), "rb")) {
        std::fclose(f);
    } else {
        error = std::string("cannot be opened (") + std::strerror(errno) + ")";
        return false;
    }
    const std::string ext = Extension(path);
    if (IsHeifFile(path, ext == ".heic" || ext == ".heif" || ext == ".hif" || ext == ".avif"))
        return OpenHeif(path, error);
    if (IsWebpFile(path)) return OpenWebp(path, error);
    if (int w = 0, h = 0; GifScreen(path, w, h)) return OpenGif(path, w, h, error);
    // A block that the header gives the size of is taken and read as the
    // image library opens the file: 4 GB at most, from a file of a few
    // bytes. It must lie within the file.
    headerBlockBytes_ = 0;
    const uint64_t fileBytes = fs::file_size(path, ec);
    if (!ec && !CheckHeader(path, fileBytes, headerBlockBytes_, error)) return false;
    // OpenImageIO 2.4 turns a TIFF's CIELAB into RGB through libtiff's
    // display model (not sRGB: a portrait's colours off by up to 30 levels),
    // 16 bits into 8, and refuses ICCLab. Their samples are read as stored
    // and turned into sRGB at their depth as they are read.
    const TiffColour tiffColour = TiffColourOf(path);
    const bool lab = tiffColour.photometric == 8 || tiffColour.photometric == 9;
    std::string rawNote;
    if (!OpenWithImageLibrary(path, raw, rawNote, error, /*rawColour=*/lab)) return false;
    // A file OpenImageIO takes for HEIF that IsHeifFile did not (damaged
    // brands under another name) is read by our own HEIF reader too:
    // OpenImageIO 2.4's overruns its buffer on a picture of another size
    // than its header's.
    if (std::string(in_->format_name()) == "heif") {
        in_.reset();
        return OpenHeif(path, error);
    }
    if (std::string(in_->format_name()) == "webp") {
        in_.reset();
        return OpenWebp(path, error);
    }
    if (lab && !TakeLabSamples(tiffColour, error)) return false;
    const OIIO::ImageSpec& spec = in_->spec();
    const int nc = spec.nchannels;
    // A named alpha channel, or the last of two or four. (OpenImageIO 2.4
    // names channel 4 of a GIF's four, which does not exist.)
    const int named = NamedAlpha(spec);
    alphaIndex_ = named >= 0 ? named : (nc == 2 || nc == 4 ? nc - 1 : -1);
    const int colour = nc - (alphaIndex_ >= 0 ? 1 : 0);
    if (!(colour == 1 || colour == 3) || (alphaIndex_ >= 0 && alphaIndex_ != nc - 1)) {
        error = "unsupported: " + std::to_string(nc) + " channels (RGB or grey, with or without alpha, are supported)";
        return false;
    }
    if (spec.width <= 0 || spec.height <= 0) {
        error = "unsupported size " + std::to_string(spec.width) + "x" + std::to_string(spec.height);
        return false;
    }
    // A volume (a FITS cube, a TIFF of several slices) reads as that many
    // pictures into the room of one.
    if (spec.depth != 1) {
        error = "unsupported: a volume of " + std::to_string(spec.depth) + " slices, not a flat picture";
        return false;
    }
    width_ = spec.width;
    height_ = spec.height;
    channels_ = nc;
    deep_ = spec.format.size() > 1;
    format_ = in_->format_name();
    rawNote_ = format_ == "raw" ? rawNote : std::string();
    adobeRgb_ = FileMarksAdobeRgb(path, format_);
    return SeekFirstPicture(error);
}

bool PhotoReader::TakeLabSamples(const TiffColour& colour, std::string& error) {
    const OIIO::TypeDesc format = in_->spec().format;
    if (std::string(in_->format_name()) != "tiff") return true;
    if (format != OIIO::TypeDesc::UINT8 && format != OIIO::TypeDesc::UINT16) {
        error = std::string("unsupported: CIELAB samples of type ") + format.c_str() + " (8 and 16 bits are supported)";
        return false;
    }
    LabSamples lab;
    lab.icc = colour.photometric == 9;
    lab.bits = format == OIIO::TypeDesc::UINT16 ? 16 : 8;
    if (colour.white) lab.white = *colour.white;
    lab_ = lab;
    return true;
}

bool PhotoReader::OpenWithImageLibrary(const std::string& path, const RawDevelopment& raw, std::string& rawNote,
                                       std::string& error, bool rawColour) {
    // Colour unpremultiplied, as the opaque photo would be.
    // OpenImageIO's debugging lines (its raw reader prints some for settings
    // that are as they should be) are not for the command's user.
    static const bool quiet = OIIO::attribute("debug", 0);
    (void)quiet;
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    if (rawColour) config.attribute("oiio:RawColor", 1);
    ConfigureRaw(raw, config, rawNote);
    {
        // One file's header at a time: OpenImageIO 2.4 decoding two colour
        // profiles at once (`-j 2` on two tagged photos) crashed now and
        // then inside its profile decoder. Headers are small; the pixels,
        // the slow part, are still read in parallel.
        static std::mutex headers;
        const std::lock_guard<std::mutex> one(headers);
        in_ = OpenStillPicture(path, config, error);
    }
    return in_ != nullptr;
}

bool PhotoReader::SeekFirstPicture(std::string& error) {
    // A file of several pictures (a TIFF's pages, a GIF's frames): the first
    // is corrected, and the note says so. They are asked for a second
    // picture (one that is not there leaves an error behind, which is
    // cleared).
    several_ = (format_ == "tiff" || format_ == "gif") && in_->seek_subimage(1, 0);
    if (!several_) (void)in_->geterror();
    if (in_->current_subimage() != 0 && !in_->seek_subimage(0, 0)) {
        error = "cannot go back to its first picture (" + OneLine(in_->geterror()) + ")";
        return false;
    }
    return true;
}

bool PhotoReader::OpenGif(const std::string& path, int width, int height, std::string& error) {
    // The image library's reader takes memory for the whole screen as it
    // opens the file (an 18-byte file saying 4292 x 40960 took 2 GB), so it
    // opens it only once that size has passed the limits (ReadFile).
    if (width <= 0 || height <= 0) {
        error = "unsupported size " + std::to_string(width) + "x" + std::to_string(height);
        return false;
    }
    format_ = "gif";
    deferredPath_ = path;
    width_ = width;
    height_ = height;
    // As the image library reads a GIF: RGBA, its alpha the last channel.
    channels_ = 4;
    alphaIndex_ = 3;
    deep_ = false;
    several_ = false;  // known once the file is open
    return true;
}

bool PhotoReader::OpenDeferred(std::string& error) {
    std::string rawNote;
    if (!OpenWithImageLibrary(deferredPath_, {}, rawNote, error)) return false;
    const OIIO::ImageSpec& spec = in_->spec();
    if (spec.width != width_ || spec.height != height_ || spec.nchannels != channels_ ||
        spec.format.size() != 1) {
        error = "not a readable image file (its picture is not what its header says)";
        return false;
    }
    return SeekFirstPicture(error);
}

bool PhotoReader::OpenWebp(const std::string& path, std::string& error) {
    // Only the header now: the file, which may be far larger than a photo,
    // is read once its size has passed the limits.
    WebpHeader header;
    if (!ReadWebpHeader(path, header)) {
        error = "not a readable image file (a damaged WebP header)";
        return false;
    }
    format_ = "webp";
    deferredPath_ = path;
    webpBytes_ = header.fileBytes;
    width_ = header.width;
    height_ = header.height;
    channels_ = header.alpha ? 4 : 3;
    alphaIndex_ = header.alpha ? 3 : -1;
    deep_ = false;
    // An animation's first frame is corrected, and the note says so.
    several_ = header.animation;
    // As the image library described these files, so that what is written
    // from them stays as it was.
    webpSpec_ = OIIO::ImageSpec(width_, height_, channels_, OIIO::TypeDesc::UINT8);
    webpSpec_.attribute("oiio:ColorSpace", "sRGB");
    return true;
}

bool PhotoReader::OpenHeif(const std::string& path, std::string& error) {
    heif_ = std::make_unique<HeifInput>();
    if (!heif_->Open(path, error)) return false;
    format_ = "heif";
    width_ = heif_->Width();
    height_ = heif_->Height();
    channels_ = heif_->HasAlpha() ? 4 : 3;
    alphaIndex_ = heif_->HasAlpha() ? 3 : -1;
    deep_ = heif_->Bits() > 8;
    deepBits_ = heif_->Bits();
    // Colour multiplied by alpha only where the file says so; it is then
    // divided back as a TIFF's is.
    unassociated_ = !heif_->Premultiplied();
    several_ = heif_->Several();
    adobeRgb_ = heif_->ExifMarksAdobeRgb();
    describedNote_ = heif_->ColourNote();
    return true;
}

bool PhotoReader::ReadSamples(OIIO::TypeDesc type, void* samples, std::string& error, const Progress& progress) {
    if (heif_) return heif_->CopyTo(type == OIIO::TypeDesc::UINT16, samples, error, progress);
    if (format_ == "webp") {
        // The WebP file's bytes are not needed past its pixels.
        const std::vector<uint8_t> webp = std::move(webp_);
        unassociated_ = true;
        if (DecodeWebp(webp, width_, height_, channels_, type == OIIO::TypeDesc::UINT16, samples)) return true;
        error = "corrupt or truncated image data (libwebp could not decode it)";
        return false;
    }
    const bool ok = in_->read_image(0, 0, 0, channels_, type, samples, OIIO::AutoStride, OIIO::AutoStride,
                                    OIIO::AutoStride, &OnOiioProgress, const_cast<Progress*>(&progress));
    if (!ok || in_->has_error()) {
        error = "corrupt or truncated image data (" + OneLine(in_->geterror()) + ")";
        return false;
    }
    in_->close();
    return true;
}

// What every picture goes through once its samples are read: turned upright,
// a colour profile that does not describe the pixels written dropped.
template <class T>
void PhotoReader::Finish(std::vector<T>& all, Picture& out, std::string& notes) const {
    const OIIO::ImageSpec spec = out.spec;  // as read from the file
    const int orientation = spec.get_int_attribute("Orientation", 1);
    if (orientation >= 2 && orientation <= 8) {
        all = Upright(all, out.width, out.height, channels_, orientation);
        AddNote(notes, "turned upright from EXIF orientation " + std::to_string(orientation));
    }
    // Written upright, whatever the file said (an orientation outside 1..8
    // means nothing, and is shown as stored).
    if (spec.find_attribute("Orientation")) out.spec.attribute("Orientation", 1);
    const std::string space = ProfileColourSpace(spec), written = out.grey ? "GRAY" : "RGB ";
    if (!space.empty() && space != written) {
        EraseProfile(out.spec);
        AddNote(notes, "dropped its " + Trimmed(space) + " colour profile, which does not describe the " +
                           (out.grey ? "grey" : "RGB") + " pixels written");
    }
    out.spec.erase_attribute("jpeg:ColorSpace");
}

bool PhotoReader::ReadFile(bool want16, Picture& out, std::string& notes, std::string& error, const Progress& progress) {
    if (format_ == "gif" && !in_ && !OpenDeferred(error)) return false;
    if (format_ == "webp") {
        webp_ = ReadWebpFile(deferredPath_);
        if (webp_.empty()) {
            error = "cannot read the file";
            return false;
        }
    }
    const OIIO::ImageSpec& spec = heif_ ? heif_->Spec() : in_ ? in_->spec() : webpSpec_;
    const int nc = channels_;
    out = Picture{};
    out.width = width_;
    out.height = height_;
    out.grey = nc - (alphaIndex_ >= 0 ? 1 : 0) == 1;
    out.hasAlpha = alphaIndex_ >= 0;
    out.spec = spec;
    // The metadata the image library's readers leave out of these.
    if (format_ == "webp") adobeRgb_ = ReadWebpMetadata(webp_, out.spec, out.xmp);
    else if (heif_) out.xmp = heif_->Xmp();
    // Camera raw files built on TIFF (DNG, NEF, CR2, ARW, ...) keep theirs
    // in the TIFF tag.
    else {
        uint16_t iso = 0;
        out.xmp = ReadXmpPacket(path_, format_ == "raw" ? "tiff" : format_, format_ == "tiff" ? &iso : nullptr);
        if (format_ == "raw" && out.xmp.empty()) out.xmp = RawSidecarXmp(path_);
        if (iso != 0 && !out.spec.find_attribute("Exif:PhotographicSensitivity"))
            out.spec.attribute("Exif:PhotographicSensitivity", int(iso));
    }
    if (format_ == "jpeg" && !out.xmp.empty()) out.xmpExtension = JpegXmpExtension(path_, out.xmp);
    out.xmp = XmpOfCorrected(std::move(out.xmp), out.xmpExtension);
    // A camera raw file is developed to sRGB, whatever colour space the
    // camera was set to for its JPEGs (Adobe RGB says "uncalibrated").
    if (format_ == "raw" && out.spec.find_attribute("Exif:ColorSpace")) out.spec.attribute("Exif:ColorSpace", 1);
    // A camera's Adobe RGB photo keeps showing as Adobe RGB: the EXIF's mark
    // is not written back, a profile is. A profile of the file's own says
    // what its colours are, whatever its EXIF says.
    if (adobeRgb_ && !out.grey && !out.spec.find_attribute("ICCProfile")) {
        const std::vector<uint8_t>& profile = AdobeRgbProfile();
        out.spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
        AddNote(notes, "Adobe RGB by its EXIF: written with an Adobe RGB colour profile");
    }
    out.bits = (want16 && deep_) ? 16 : 8;
    AddNote(notes, rawNote_);
    AddNote(notes, describedNote_);
    if (several_)
        AddNote(notes, heif_ ? "only its primary picture of several" : "only the first of its several pages or frames");
    if (!want16 && deep_) AddNote(notes, std::to_string(deepBits_) + "-bit samples reduced to 8 bits");
    if (spec.format.is_floating_point()) AddNote(notes, "floating-point samples clipped to 0..1");
    const int colours = out.grey ? 1 : 3;
    if (lab_) {
        // The pixels written are sRGB's: no profile or TIFF colour model of
        // the file's describes them.
        EraseProfile(out.spec);
        out.spec.erase_attribute("tiff:PhotometricInterpretation");
        out.spec.erase_attribute("tiff:ColorSpace");
        AddNote(notes, "CIELAB turned into sRGB");
    }

    // A HEIC's or AVIF's pixels are decoded before the picture's memory is
    // taken: the decoding is the peak of reading one (heif_file.h).
    if (heif_ && !heif_->Decode(error, progress)) return false;
    const size_t n = size_t(out.width) * out.height;
    // 8-bit files without alpha are read as they are stored: the same values
    // as reading 16 bits (v x 257) and rounding back, without the two
    // 16-bit copies of the picture. Everything else goes through 16 bits.
    if (!deep_ && !out.hasAlpha) {
        std::vector<uint8_t> all;
        ResizeOnLargePages(all, n * nc);
        if (!ReadSamples(OIIO::TypeDesc::UINT8, all.data(), error, progress)) return false;
        if (lab_) LabToSrgb(all.data(), n, nc, colours, *lab_);
        Finish(all, out, notes);
        if (nc == 3) {
            out.rgb8 = std::move(all);
        } else {
            out.rgb8.resize(n * 3);
            for (size_t i = 0; i < n; ++i) out.rgb8[i * 3] = out.rgb8[i * 3 + 1] = out.rgb8[i * 3 + 2] = all[i];
        }
        return true;
    }

    std::vector<uint16_t> all;
    ResizeOnLargePages(all, n * nc);
    if (!ReadSamples(OIIO::TypeDesc::UINT16, all.data(), error, progress)) return false;
    if (lab_) LabToSrgb(all.data(), n, nc, colours, *lab_);
    // A TIFF may store its colour premultiplied by alpha (OpenImageIO then
    // names the alpha channel and does not mark it unassociated), and so may
    // a HEIC or AVIF that says so.
    if (out.hasAlpha && !unassociated_ && NamedAlpha(spec) >= 0 &&
        spec.get_int_attribute("oiio:UnassociatedAlpha", 0) == 0)
        Unpremultiply(all, n, nc);
    Finish(all, out, notes);

    std::vector<uint16_t> rgb;
    if (nc == 3) {
        rgb = std::move(all);
    } else {
        rgb.resize(n * 3);
        if (out.hasAlpha) out.alpha.resize(n);
        for (size_t i = 0; i < n; ++i) {
            const uint16_t* p = &all[i * nc];
            for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = out.grey ? p[0] : p[c];
            if (out.hasAlpha) out.alpha[i] = p[nc - 1];
        }
        all = std::vector<uint16_t>();
    }
    if (out.bits == 16) {
        out.rgb16 = std::move(rgb);
    } else {
        // 16-bit full range to 8 bits, rounded; exact for 8-bit files (v * 257).
        out.rgb8.resize(rgb.size());
        for (size_t i = 0; i < rgb.size(); ++i) out.rgb8[i] = To8(rgb[i]);
    }
    return true;
}

namespace {

// Interleaved output samples in the file's channel layout, 16-bit scale.
std::vector<uint16_t> FileSamples(const Picture& pic, bool withAlpha, int& nc) {
    const size_t n = size_t(pic.width) * pic.height;
    nc = (pic.grey ? 1 : 3) + (withAlpha ? 1 : 0);
    std::vector<uint16_t> s;
    ResizeOnLargePages(s, n * nc);
    for (size_t i = 0; i < n; ++i) {
        uint16_t rgb[3];
        for (int c = 0; c < 3; ++c) rgb[c] = uint16_t(Sample16(pic, i * 3 + c));
        uint16_t* q = &s[i * nc];
        if (pic.grey) {
            // The correction keeps greys grey up to a level or two; average back.
            q[0] = uint16_t((uint32_t(rgb[0]) + rgb[1] + rgb[2] + 1) / 3);
        } else {
            q[0] = rgb[0], q[1] = rgb[1], q[2] = rgb[2];
        }
        if (withAlpha) q[nc - 1] = pic.alpha[i];
    }
    return s;
}

// OpenImageIO 2.4 writes a JPEG's or TIFF's IPTC records from the
// attributes of their other names too (a By-line from EXIF's Artist, the
// caption from ImageDescription, the copyright notice and the program from
// Copyright and Software), beside the IPTC attributes it read from those
// very records: a photo's creator came out named twice, and three times
// after a second correction. An IPTC attribute that says what its other
// name says is left to that name, and the creator named by Artist to
// Artist. (Probed once: a library that does not write the other names
// keeps them all.)
void DropIptcEchoes(OIIO::ImageSpec& spec) {
    static const bool echoes = [] {
        OIIO::ImageSpec probe;
        probe.attribute("Artist", "x");
        std::vector<char> iptc;
        OIIO::encode_iptc_iim(probe, iptc);
        return !iptc.empty();
    }();
    if (!echoes) return;
    for (const auto& [iptc, other] : {std::pair{"IPTC:Caption", "ImageDescription"},
                                      std::pair{"IPTC:CopyrightNotice", "Copyright"},
                                      std::pair{"IPTC:OriginatingProgram", "Software"}})
        if (spec.find_attribute(iptc) && spec.find_attribute(other) &&
            spec.get_string_attribute(iptc) == spec.get_string_attribute(other))
            spec.erase_attribute(iptc);
    if (!spec.find_attribute("IPTC:Creator") || !spec.find_attribute("Artist")) return;
    // The By-line is repeatable: the attribute holds every creator, "; "
    // between them, as the reader joined them.
    const std::string artist = OIIO::Strutil::strip(spec.get_string_attribute("Artist"));
    std::vector<std::string> creators;
    bool dropped = false;
    for (const std::string& c : OIIO::Strutil::splits(spec.get_string_attribute("IPTC:Creator"), ";")) {
        std::string name = OIIO::Strutil::strip(c);
        if (name.empty()) continue;
        if (!dropped && name == artist) {
            dropped = true;
            continue;
        }
        creators.push_back(std::move(name));
    }
    if (creators.empty()) spec.erase_attribute("IPTC:Creator");
    else spec.attribute("IPTC:Creator", OIIO::Strutil::join(creators, "; "));
}

// The photo's IPTC fields, as the image library read them from its block.
std::vector<IptcField> IptcFieldsOf(const OIIO::ImageSpec& spec) {
    std::vector<IptcField> fields;
    for (const OIIO::ParamValue& p : spec.extra_attribs)
        if (OIIO::Strutil::starts_with(p.name(), "IPTC:") || p.name() == "Keywords")
            fields.push_back({p.name().string(), p.get_string()});
    return fields;
}

// The XMP packet to write with a picture in the format of `writer`, and
// into `extension` the extended XMP to write beside it (JPEG only): as it
// came, but in JPEG, whose segment holds at most 64 KB, without its
// padding, and when that is not enough, split into a packet and its
// extended XMP; not at all (a note says so) when it cannot be. A JPEG's
// extended XMP goes into a JPEG beside its packet, and into any other
// format merged with it; a note says when it cannot be kept. PNG, WebP,
// HEIC and AVIF get the photo's IPTC fields in the packet too.
std::string XmpFor(const Picture& pic, const std::string& writer, std::string& extension, std::string& notes) {
    extension.clear();
    const std::string& xmp = pic.xmp;
    const auto extensionLeftOut = [&](const char* why) {
        AddNote(notes, "its extended XMP (" + std::to_string((pic.xmpExtension.size() + 1023) / 1024) +
                           " KB) not kept: " + why);
    };
    if (writer != "jpeg") {
        std::string packet = xmp;
        if (!pic.xmpExtension.empty()) {
            packet = MergedXmp(xmp, pic.xmpExtension);
            if (packet.empty()) {
                extensionLeftOut("it cannot be merged with the XMP");
                packet = xmp;
            }
        }
        // A format without an IPTC block carries the photo's IPTC fields in
        // its XMP, where the programs that read them look.
        return writer == "tiff" ? packet : XmpWithIptc(packet, IptcFieldsOf(pic.spec));
    }
    std::string packet = xmp.size() <= kJpegXmpMax ? xmp : WithoutPadding(xmp);
    if (packet.size() <= kJpegXmpMax) {
        extension = pic.xmpExtension;
        return packet;
    }
    std::string main;
    if (pic.xmpExtension.empty() && SplitXmp(packet, kJpegXmpMax, main, extension)) return main;
    AddNote(notes, "its XMP (" + std::to_string(xmp.size() / 1024) + " KB) not kept: JPEG holds 64 KB in one segment");
    if (!pic.xmpExtension.empty()) extensionLeftOut("it goes with the XMP left out");
    return {};
}

// The image description to write `pic` as format `f`: its metadata, its
// size and channels, and the sample type and compression the format takes.
OIIO::ImageSpec OutputDescription(const Picture& pic, const OutputFormat& f, bool withAlpha, int nc, int quality) {
    OIIO::ImageSpec spec = pic.spec;  // keeps EXIF, ICC profile and the rest
    spec.width = spec.full_width = pic.width;
    spec.height = spec.full_height = pic.height;
    spec.x = spec.y = spec.full_x = spec.full_y = 0;
    spec.tile_width = spec.tile_height = 0;
    spec.nchannels = nc;
    spec.channelformats.clear();
    spec.channelnames.clear();
    if (pic.grey) spec.channelnames.push_back("Y");
    else spec.channelnames = {"R", "G", "B"};
    if (withAlpha) spec.channelnames.push_back("A");
    spec.alpha_channel = withAlpha ? nc - 1 : -1;
    // The alpha channel is written as it came, the colour not divided by it.
    spec.erase_attribute("oiio:UnassociatedAlpha");
    if (withAlpha) spec.attribute("oiio:UnassociatedAlpha", 1);
    spec.set_format(pic.bits == 16 && f.bits == 16 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    spec.erase_attribute("oiio:BitsPerSample");
    spec.erase_attribute("Compression");
    spec.erase_attribute("jpeg:subsampling");
    spec.erase_attribute("tiff:RowsPerStrip");
    // OpenImageIO names every JPEG "sRGB" and then writes EXIF ColorSpace 1
    // (sRGB) whatever the file said: a camera's Adobe RGB photo says 65535
    // (uncalibrated), and must go on saying it.
    if (spec.get_int_attribute("Exif:ColorSpace", 1) != 1) spec.erase_attribute("oiio:ColorSpace");
    if (spec.find_attribute("Exif:PixelXDimension")) spec.attribute("Exif:PixelXDimension", pic.width);
    if (spec.find_attribute("Exif:PixelYDimension")) spec.attribute("Exif:PixelYDimension", pic.height);
    const std::string writer = f.writer;
    // TIFF's IPTC block (keywords, city, headline, credits) is written only
    // when asked for.
    if (writer == "tiff") spec.attribute("tiff:write_iptc", 1);
    // OpenImageIO's TIFF writer stamps the time of writing as DateTime when
    // the description has none, so the same photo corrected twice gave
    // different bytes. A photo's own DateTime is kept; one without gets
    // none. The writer writes the tag only from text, and a number under
    // the name is enough to keep it from stamping one.
    if (writer == "tiff" && !spec.find_attribute("DateTime", OIIO::TypeString)) {
        spec.erase_attribute("DateTime");
        spec.attribute("DateTime", 0);
    }
    if (writer == "jpeg" || writer == "tiff") DropIptcEchoes(spec);
    if (f.lossy != nullptr) spec.attribute("Compression", std::string(f.lossy) + ":" + std::to_string(std::clamp(quality, 1, 100)));
    // Deflate at level 4: a third of the time of the default level 6, for
    // files about 2 % (16-bit) to 8 % (8-bit photos) larger.
    else if (writer == "tiff") spec.attribute("Compression", "zip:4");
    // OpenImageIO 2.4 writes the EXIF block's first directory (camera,
    // orientation, dates) in the order of the attributes, and the
    // orientation set upright comes after the camera's make; TIFF readers
    // expect a directory's tags by number. The EXIF directory it sorts
    // itself.
    const auto tiffTag = [](const OIIO::ParamValue& p) {
        const OIIO::TagInfo* t = OIIO::tag_lookup("TIFF", p.name());
        return t ? t->tifftag : std::numeric_limits<int>::max();
    };
    std::stable_sort(spec.extra_attribs.begin(), spec.extra_attribs.end(),
                     [&](const OIIO::ParamValue& a, const OIIO::ParamValue& b) { return tiffTag(a) < tiffTag(b); });
    return spec;
}

}  // namespace

bool WritePicture(const std::string& path, const Picture& pic, int quality, std::string& notes,
                  std::string& error, const Progress& progress, bool* taken) {
    const OutputFormat* format = FormatOf(path);
    if (format == nullptr || !Writable(*format)) {
        error = UnsupportedOutputMessage(path);
        return false;
    }
    const OutputFormat& f = *format;
    const std::string writer = f.writer;
    // The JPEG library ends the process on a longer side (a panorama), so
    // such a picture is refused before it is opened.
    if (writer == "jpeg" && std::max(pic.width, pic.height) > kJpegMaxSide) {
        error = "cannot write " + path + ": JPEG holds at most " + std::to_string(kJpegMaxSide) + " pixels a side";
        return false;
    }
    const bool withAlpha = pic.hasAlpha && f.alpha;
    if (pic.hasAlpha && !f.alpha) AddNote(notes, "transparency dropped, JPEG has none");
    if (pic.bits == 16 && writer == "webp") AddNote(notes, "16-bit samples written at 8 bits, the most WebP takes");
    if (pic.bits == 16 && writer == "jpeg") AddNote(notes, "16-bit samples written at 8 bits, the most JPEG takes");
    // 8-bit RGB goes to the file as it is; other pictures through 16-bit
    // samples in the file's channel layout (OpenImageIO rounds v x 257 back
    // to v, so both give the same bytes). WebP, HEIC and AVIF take the
    // picture.
    const bool direct = pic.bits == 8 && !pic.grey && !withAlpha;
    const bool ownWriter = writer == "heif" || writer == "webp";
    int nc = 3;
    const std::vector<uint16_t> samples =
        direct || ownWriter ? std::vector<uint16_t>() : FileSamples(pic, withAlpha, nc);
    OIIO::ImageSpec spec = OutputDescription(pic, f, withAlpha, nc, quality);
    // WebP, HEIC and AVIF store a grey photo as colour: a grey profile would
    // not describe the pixels written.
    if (ownWriter && pic.grey && ProfileColourSpace(spec) == "GRAY") {
        EraseProfile(spec);
        AddNote(notes, "dropped its GRAY colour profile, which does not describe the RGB pixels written");
    }

    std::unique_ptr<OutputFile> file = OutputFile::Create(path, error);
    if (!file) return false;
    // PNG, JPEG, WebP, HEIC and AVIF go through the file's sink, which keeps
    // a failed write from the encoder (the JPEG library's answer to one ends
    // the process, PNG's is lost). The TIFF encoder reports failed writes
    // itself, and through a sink it loses the EXIF directory (OpenImageIO
    // 2.4), so it writes by name.
    OIIO::Filesystem::IOProxy* sink = file->Sink();
    // PNG's EXIF goes in an eXIf chunk, put in on the way (png_file.h), and
    // so does its XMP packet; JPEG's XMP goes in an APP1 segment likewise
    // (xmp_packet.h), TIFF's in a tag once the file is written.
    std::string extension;
    const std::string xmp = XmpFor(pic, writer, extension, notes);
    std::unique_ptr<PngMetadataStream> png;
    std::unique_ptr<JpegXmpStream> jpeg;
    if (writer == "png") {
        png = std::make_unique<PngMetadataStream>(spec, xmp, *sink);
        sink = png.get();
    } else if (writer == "jpeg" && !xmp.empty()) {
        jpeg = std::make_unique<JpegXmpStream>(xmp, extension, *sink);
        sink = jpeg.get();
    }
    if (f.bySink) spec.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &sink);
    std::string ownError;
    auto o = ownWriter ? nullptr : OIIO::ImageOutput::create(writer);
    const bool ok =
        writer == "heif"   ? WriteHeif(pic, withAlpha, spec, xmp, std::string(f.lossy) == "avif", quality, *sink, notes,
                                       ownError)
        : writer == "webp" ? WriteWebp(pic, withAlpha, spec, xmp, quality, *sink, ownError)
                           : o && o->open(f.bySink ? path : file->WritePath(), spec) &&
              o->write_image(direct ? OIIO::TypeDesc::UINT8 : OIIO::TypeDesc::UINT16,
                             direct ? static_cast<const void*>(pic.rgb8.data()) : samples.data(),
                             OIIO::AutoStride, OIIO::AutoStride, OIIO::AutoStride, &OnOiioProgress,
                             const_cast<Progress*>(&progress)) &&
              o->close();
    if (!ok) {
        // An encoder that gave up after a failed write gives a vaguer reason
        // than the write itself.
        if (!file->WriteFailure(error))
            error = "cannot write " + path + ": " +
                    (ownWriter ? ownError : OneLine(o ? o->geterror() : OIIO::geterror()));
        return false;
    }
    o.reset();
    if (png && !png->Complete()) {
        error = "cannot write " + path + ": the PNG encoder's file was not whole or not in order";
        return false;
    }
    if (jpeg && !jpeg->Complete()) {
        error = "cannot write " + path + ": the JPEG encoder's file was not in order";
        return false;
    }
    if (writer == "tiff") {
        // The ISO speed as a camera states it: a whole number from 1 up.
        const int iso = std::max(spec.get_int_attribute("Exif:PhotographicSensitivity"),
                                 spec.get_int_attribute("Exif:ISOSpeedRatings"));
        const uint16_t iso16 = uint16_t(std::clamp(iso, 0, 65535));
        if ((iso16 != 0 || !xmp.empty()) && !CompleteTiff(file->WritePath(), xmp, iso16, ownError)) {
            if (!file->WriteFailure(error)) error = "cannot write " + path + ": " + ownError;
            return false;
        }
    }
    // Stopped while writing: the file is complete, but the stop was asked
    // for before it was in place, so it is not put there.
    if (progress(1.0f)) {
        error = "stopped";
        return false;
    }
    return file->Commit(error, taken);
}

bool WriteSideBySide(const std::string& path, const Picture& before, const Picture& after, int maxWidth,
                     std::string& error) {
    const int gap = 8;
    // Averaged down by f to fit `maxWidth`, and a JPEG's longest side (a
    // tall panorama).
    int f = 1;
    while ((2 * before.width + gap * f) / f > maxWidth || before.height / f > kJpegMaxSide) ++f;
    // A photo fewer than f rows high (a panorama strip) still gets a row,
    // the mean of the rows it has.
    const int w = before.width / f, h = std::max(1, before.height / f), rows = std::min(f, before.height);
    Picture pic;
    pic.width = 2 * w + gap;
    pic.height = h;
    pic.bits = 8;
    pic.rgb8.assign(size_t(pic.width) * h * 3, 255);
    // The colours are the photo's: keep its RGB profile, nothing else.
    if (const OIIO::ParamValue* icc = after.spec.find_attribute("ICCProfile"); icc && ProfileColourSpace(after.spec) == "RGB ")
        pic.spec.attribute("ICCProfile", icc->type(), icc->data());
    for (int side = 0; side < 2; ++side) {
        const Picture& src = side == 0 ? before : after;
        const int x0 = side == 0 ? 0 : w + gap;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint64_t sum = 0;
                    for (int j = 0; j < rows; ++j)
                        for (int i = 0; i < f; ++i)
                            sum += Sample16(src, (size_t(y * f + j) * src.width + (x * f + i)) * 3 + c);
                    const uint32_t v16 = uint32_t(sum / (uint64_t(rows) * f));
                    pic.rgb8[(size_t(y) * pic.width + x0 + x) * 3 + c] = To8(v16);
                }
    }
    std::string notes;
    return WritePicture(path, pic, 90, notes, error, [](float) { return false; });
}

}  // namespace lumarex_cli
