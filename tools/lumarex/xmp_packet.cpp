// SPDX-License-Identifier: MIT
#include "xmp_packet.h"

#include <OpenImageIO/strutil.h>
#include <tiffio.h>
#include <zlib.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string_view>

#include "byte_order.h"
#include "jpeg_segments.h"
#include "md5.h"
#include "utf8.h"

namespace lumarex_cli {
namespace {

// What starts a JPEG APP1 segment that holds the XMP packet.
constexpr char kJpegSignature[] = "http://ns.adobe.com/xap/1.0/";  // and its terminating zero
constexpr size_t kJpegSignatureSize = sizeof kJpegSignature;
// What starts a JPEG APP1 segment that holds a part of the extended XMP,
// and what follows it: the GUID, the extension's whole size and the part's
// offset in it (both 32-bit big-endian).
constexpr char kJpegExtensionSignature[] = "http://ns.adobe.com/xmp/extension/";
constexpr size_t kJpegExtensionSignatureSize = sizeof kJpegExtensionSignature;
constexpr size_t kGuidSize = 32;
constexpr size_t kExtensionHeadSize = kGuidSize + 8;
// The most of the extension one segment holds.
constexpr size_t kJpegExtensionPart = 65535 - 2 - kJpegExtensionSignatureSize - kExtensionHeadSize;
// The keyword of PNG's iTXt chunk that holds it.
constexpr char kPngKeyword[] = "XML:com.adobe.xmp";

bool ReadAt(std::ifstream& file, uint64_t at, void* out, size_t n) {
    file.clear();
    return bool(file.seekg(std::streamoff(at))) && bool(file.read(static_cast<char*>(out), std::streamsize(n)));
}

std::string JpegPacket(std::ifstream& file) {
    uint64_t base = 0, size = 0;
    if (!FindJpegApp1(file, kJpegSignature, kJpegSignatureSize, 0, base, size)) return {};
    std::string packet(size, '\0');
    return ReadAt(file, base, packet.data(), packet.size()) ? packet : std::string();
}

// The text of an iTXt chunk's data if its keyword is XMP's: after the
// keyword, a compression flag and method, a language tag and a translated
// keyword, each of the last two ended by a zero.
std::string PngItxtPacket(const std::vector<uint8_t>& data) {
    const size_t keyword = sizeof kPngKeyword;  // with its zero
    if (data.size() < keyword + 4 || std::memcmp(data.data(), kPngKeyword, keyword) != 0) return {};
    const bool compressed = data[keyword] != 0;
    size_t at = keyword + 2;
    for (int field = 0; field < 2; ++field) {
        const auto end = std::find(data.begin() + std::ptrdiff_t(at), data.end(), uint8_t(0));
        if (end == data.end()) return {};
        at = size_t(end - data.begin()) + 1;
    }
    if (!compressed) return std::string(data.begin() + std::ptrdiff_t(at), data.end());
    // zlib's stream, inflated up to the largest packet taken.
    z_stream z{};
    if (inflateInit(&z) != Z_OK) return {};
    std::string packet;
    std::vector<char> buffer(64 * 1024);
    z.next_in = const_cast<Bytef*>(data.data() + at);
    z.avail_in = uInt(data.size() - at);
    int status = Z_OK;
    while (status == Z_OK && packet.size() <= kLargestPacket) {
        z.next_out = reinterpret_cast<Bytef*>(buffer.data());
        z.avail_out = uInt(buffer.size());
        status = inflate(&z, Z_NO_FLUSH);
        packet.append(buffer.data(), buffer.size() - z.avail_out);
    }
    inflateEnd(&z);
    return status == Z_STREAM_END ? packet : std::string();
}

std::string PngPacket(std::ifstream& file) {
    static const uint8_t signature[8] = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
    uint8_t b[8];
    if (!ReadAt(file, 0, b, 8) || std::memcmp(b, signature, 8) != 0) return {};
    // The chunk may come after the pixels: every chunk's header is read, up
    // to the end chunk.
    uint64_t at = 8;
    for (int chunks = 0; chunks < 1000000; ++chunks) {
        if (!ReadAt(file, at, b, 8)) return {};
        const uint64_t length = Load32(b, false);
        if (length > 0x7FFFFFFF || std::memcmp(b + 4, "IEND", 4) == 0) return {};
        if (std::memcmp(b + 4, "iTXt", 4) == 0 && length <= kLargestPacket) {
            std::vector<uint8_t> data(length);
            if (!ReadAt(file, at + 8, data.data(), data.size())) return {};
            if (std::string packet = PngItxtPacket(data); !packet.empty()) return packet;
        }
        at += 12 + length;
    }
    return {};
}

// libtiff's warnings and errors (a tag it does not know, a damaged entry)
// are the image library's to report, not ours: handled here by saying
// nothing.
int Quiet(TIFF*, void*, const char*, const char*, va_list) { return 1; }

struct TiffCloser {
    void operator()(TIFF* t) const { TIFFClose(t); }
};
using TiffHandle = std::unique_ptr<TIFF, TiffCloser>;

TiffHandle OpenTiff(const std::string& path, const char* mode) {
    const std::unique_ptr<TIFFOpenOptions, decltype(&TIFFOpenOptionsFree)> options(TIFFOpenOptionsAlloc(),
                                                                                   &TIFFOpenOptionsFree);
    if (!options) return nullptr;
    TIFFOpenOptionsSetErrorHandlerExtR(options.get(), &Quiet, nullptr);
    TIFFOpenOptionsSetWarningHandlerExtR(options.get(), &Quiet, nullptr);
    return TiffHandle(TIFFOpenExt(path.c_str(), mode, options.get()));
}

// The TIFF file's XMP packet, and its EXIF ISO speed into `iso` when asked
// for (0 when it states none), from one opening of the file.
std::string TiffPacket(const std::string& path, uint16_t* iso) {
    const TiffHandle tiff = OpenTiff(path, "r");
    if (!tiff) return {};
    uint32_t count = 0;
    const void* data = nullptr;
    std::string packet;
    if (TIFFGetField(tiff.get(), TIFFTAG_XMLPACKET, &count, &data) == 1 && data != nullptr && count <= kLargestPacket)
        packet.assign(static_cast<const char*>(data), count);
    uint64_t exif = 0;
    uint16_t n = 0;
    const uint16_t* values = nullptr;
    if (iso != nullptr && TIFFGetField(tiff.get(), TIFFTAG_EXIFIFD, &exif) == 1 && exif != 0 &&
        TIFFReadEXIFDirectory(tiff.get(), exif) == 1 &&
        TIFFGetField(tiff.get(), EXIFTAG_ISOSPEEDRATINGS, &n, &values) == 1 && n != 0 && values != nullptr)
        *iso = values[0];
    return packet;
}

}  // namespace

TiffColour TiffColourOf(const std::string& path) {
    TiffColour colour;
    const TiffHandle tiff = OpenTiff(path, "r");
    uint16_t photometric = 0;
    if (!tiff || TIFFGetField(tiff.get(), TIFFTAG_PHOTOMETRIC, &photometric) != 1) return colour;
    colour.photometric = photometric;
    float* xy = nullptr;
    if (TIFFGetField(tiff.get(), TIFFTAG_WHITEPOINT, &xy) != 1 || xy == nullptr) return colour;
    const double x = xy[0], y = xy[1];
    // Within the chromaticity diagram's triangle, away from its edges.
    if (x > 0.01 && y > 0.01 && x + y < 0.99) colour.white = std::array<double, 3>{x / y, 1.0, (1.0 - x - y) / y};
    return colour;
}

std::string RawSidecarXmp(const std::string& path) {
    const std::filesystem::path raw(path);
    std::filesystem::path stem = raw;
    stem.replace_extension();
    for (const std::filesystem::path& candidate :
         {std::filesystem::path(stem) += ".xmp", std::filesystem::path(stem) += ".XMP",
          std::filesystem::path(raw) += ".xmp", std::filesystem::path(raw) += ".XMP"}) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(candidate, ec)) continue;
        const uintmax_t size = std::filesystem::file_size(candidate, ec);
        if (ec || size == 0 || size > kLargestPacket) continue;
        std::ifstream file(candidate, std::ios::binary);
        std::string packet(size_t(size), '\0');
        if (!file.read(packet.data(), std::streamsize(size))) continue;
        if (packet.find("<x:xmpmeta") != std::string::npos || packet.find("<rdf:RDF") != std::string::npos)
            return packet;
    }
    return {};
}

std::string JpegXmpExtension(const std::string& path, const std::string& packet) {
    const std::string guid = ExtendedXmpGuid(packet);
    if (guid.empty()) return {};
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    std::string whole;
    std::vector<std::pair<uint64_t, uint64_t>> parts;  // offset and size of each
    const bool read = ForEachJpegApp1(
        file, kJpegExtensionSignature, kJpegExtensionSignatureSize, kExtensionHeadSize,
        [&](uint64_t base, uint64_t size) {
            uint8_t head[kExtensionHeadSize];
            if (!ReadAt(file, base, head, sizeof head)) return false;
            // Another packet's parts (a file edited by hand, say) are passed over.
            if (std::memcmp(head, guid.data(), kGuidSize) != 0) return true;
            const uint64_t total = Load32(head + kGuidSize, false), offset = Load32(head + kGuidSize + 4, false);
            const uint64_t n = size - kExtensionHeadSize;
            if (total == 0 || total > kLargestPacket || (!whole.empty() && whole.size() != total) || offset > total ||
                n > total - offset)
                return false;
            if (whole.empty()) whole.assign(total, '\0');
            parts.emplace_back(offset, n);
            return ReadAt(file, base + kExtensionHeadSize, whole.data() + offset, n);
        });
    // The parts, in order of their offsets, follow each other from the
    // start to the end, none missing and none twice.
    std::sort(parts.begin(), parts.end());
    uint64_t end = 0;
    for (const auto& [offset, n] : parts) {
        if (offset != end) return {};
        end += n;
    }
    return read && !whole.empty() && end == whole.size() ? whole : std::string();
}

std::string ReadXmpPacket(const std::string& path, const std::string& format, uint16_t* iso) {
    if (iso != nullptr) *iso = 0;
    if (format == "tiff") return TiffPacket(path, iso);
    std::ifstream file(path, std::ios::binary);
    if (!file) return {};
    if (format == "jpeg") return JpegPacket(file);
    if (format == "png") return PngPacket(file);
    return {};
}

namespace {

constexpr const char* kSpace = " \t\r\n";

// Where the quoted value of an attribute `name` (prefix:Name) starts in the
// packet, from `from` on, and its length; npos when there is none. The
// packet is a photo file's and may be anything: it is scanned, not parsed.
size_t AttributeValue(const std::string& packet, const std::string& name, size_t from, size_t& length) {
    for (size_t at = packet.find(name, from); at != std::string::npos; at = packet.find(name, at + 1)) {
        if (at == 0 || std::strchr(kSpace, packet[at - 1]) == nullptr) continue;
        size_t i = packet.find_first_not_of(kSpace, at + name.size());
        if (i == std::string::npos || packet[i] != '=') continue;
        i = packet.find_first_not_of(kSpace, i + 1);
        if (i == std::string::npos || (packet[i] != '"' && packet[i] != '\'')) continue;
        const size_t close = packet.find(packet[i], i + 1);
        if (close == std::string::npos) return std::string::npos;
        length = close - i - 1;
        return i + 1;
    }
    return std::string::npos;
}

// Sets the simple property `name`, stated as an attribute (name="6") or an
// element (<name>6</name>), to `value` wherever the packet states it. False
// when it does not.
bool SetProperty(std::string& packet, const std::string& name, const std::string& value) {
    bool stated = false;
    size_t length = 0;
    for (size_t at = AttributeValue(packet, name, 0, length); at != std::string::npos;
         at = AttributeValue(packet, name, at + value.size(), length)) {
        packet.replace(at, length, value);
        stated = true;
    }
    const std::string open = "<" + name + ">", close = "</" + name + ">";
    for (size_t at = packet.find(open); at != std::string::npos; at = packet.find(open, at + 1)) {
        const size_t from = at + open.size(), to = packet.find(close, from);
        if (to == std::string::npos || packet.find('<', from) != to) continue;
        packet.replace(from, to - from, value);
        stated = true;
    }
    return stated;
}

}  // namespace

namespace {

constexpr size_t kNowhere = std::string::npos;
constexpr char kDescription[] = "<rdf:Description";
constexpr size_t kDescriptionSize = sizeof kDescription - 1;

// Where the packet names its extended XMP, as an attribute
// (xmpNote:HasExtendedXMP="...") or an element (<xmpNote:HasExtendedXMP>...
// </xmpNote:HasExtendedXMP>): the whole statement [begin, end), the
// attribute with the space before it, and its value.
struct Statement {
    size_t begin = kNowhere, end = kNowhere, value = kNowhere, length = 0;
};
Statement ExtensionNamed(const std::string& packet) {
    Statement s;
    s.value = AttributeValue(packet, "xmpNote:HasExtendedXMP", 0, s.length);
    if (s.value != kNowhere) {
        s.begin = packet.rfind("xmpNote:HasExtendedXMP", s.value) - 1;
        s.end = s.value + s.length + 1;
        return s;
    }
    const std::string open = "<xmpNote:HasExtendedXMP>", close = "</xmpNote:HasExtendedXMP>";
    const size_t from = packet.find(open), to = from == kNowhere ? kNowhere : packet.find(close, from);
    if (to == kNowhere) return {};
    return {from, to + close.size(), from + open.size(), to - from - open.size()};
}

}  // namespace

std::string ExtendedXmpGuid(const std::string& packet) {
    const Statement s = ExtensionNamed(packet);
    if (s.value == kNowhere || s.length != kGuidSize) return {};
    const std::string guid = packet.substr(s.value, kGuidSize);
    return guid.find_first_not_of("0123456789ABCDEFabcdef") == kNowhere ? guid : std::string();
}

namespace {

// The end (the index after its '>') of the tag that starts at `at`, quoted
// values passed over; npos when it does not end.
size_t TagEnd(const std::string& s, size_t at) {
    char quote = 0;
    for (size_t i = at + 1; i < s.size(); ++i) {
        const char c = s[i];
        if (quote != 0) {
            if (c == quote) quote = 0;
        } else if (c == '"' || c == '\'') {
            quote = c;
        } else if (c == '>') {
            return i + 1;
        }
    }
    return kNowhere;
}

// The whole elements directly inside the content [from, to) of an element,
// as [begin, end) ranges, text and comments between them passed over. False
// when the content is anything else (a tag that does not close, a
// processing instruction, a declaration).
bool Children(const std::string& s, size_t from, size_t to, std::vector<std::pair<size_t, size_t>>& out) {
    int depth = 0;
    size_t begin = 0;
    for (size_t i = from;;) {
        const size_t lt = s.find('<', i);
        if (lt == kNowhere || lt >= to) return depth == 0;
        size_t end;
        if (s.compare(lt, 4, "<!--") == 0 || s.compare(lt, 9, "<![CDATA[") == 0) {
            const bool comment = s[lt + 2] == '-';
            end = s.find(comment ? "-->" : "]]>", lt);
            if (end == kNowhere || end + 3 > to) return false;
            i = end + 3;
            continue;
        }
        if (s.compare(lt, 2, "<?") == 0 || s.compare(lt, 2, "<!") == 0) return false;
        end = TagEnd(s, lt);
        if (end == kNowhere || end > to) return false;
        if (s[lt + 1] == '/') {
            if (--depth < 0) return false;
            if (depth == 0) out.emplace_back(begin, end);
        } else if (s[end - 2] == '/') {
            if (depth == 0) out.emplace_back(lt, end);
        } else if (depth++ == 0) {
            begin = lt;
        }
        i = end;
    }
}

// Calls `f(prefix, value)` for each namespace declaration
// (xmlns:prefix="value") in `text`, in order, until it returns false. Each
// is read where it stands and its value passed over, so that text of any
// kind takes one pass; a value that does not end ends the search.
template <class F>
void ForEachDeclaration(const std::string& text, F&& f) {
    for (size_t at = text.find("xmlns:"); at != kNowhere; at = text.find("xmlns:", at + 1)) {
        if (at == 0 || std::strchr(kSpace, text[at - 1]) == nullptr) continue;
        const size_t nameEnd = std::min(text.find_first_of(" \t\r\n=", at + 6), text.size());
        size_t i = text.find_first_not_of(kSpace, nameEnd);
        if (i == kNowhere || text[i] != '=') continue;
        i = text.find_first_not_of(kSpace, i + 1);
        if (i == kNowhere || (text[i] != '"' && text[i] != '\'')) continue;
        const size_t close = text.find(text[i], i + 1);
        if (close == kNowhere) return;
        const std::string_view all(text);
        if (!f(all.substr(at + 6, nameEnd - (at + 6)), all.substr(i + 1, close - i - 1))) return;
        at = close;
    }
}

// The namespace declarations (xmlns:prefix="...") of the start tag
// `tag`, but those of x: and rdf:, by prefix.
void Declarations(const std::string& tag, std::vector<std::pair<std::string, std::string>>& out) {
    ForEachDeclaration(tag, [&out](std::string_view prefix, std::string_view uri) {
        if (prefix == "x" || prefix == "rdf") return true;
        std::string text = "xmlns:" + std::string(prefix) + "=\"" + std::string(uri) + "\"";
        const auto same = std::find_if(out.begin(), out.end(), [&](const auto& d) { return d.first == prefix; });
        if (same != out.end()) same->second = std::move(text);
        else out.emplace_back(std::string(prefix), std::move(text));
        return true;
    });
}

}  // namespace

bool SplitXmp(const std::string& packet, size_t most, std::string& main, std::string& extension) {
    const size_t description = packet.find(kDescription);
    if (description == kNowhere || packet.find(kDescription, description + 1) != kNowhere ||
        packet.find("xmpNote:HasExtendedXMP") != kNowhere)
        return false;
    const size_t open = TagEnd(packet, description);
    if (open == kNowhere || packet[open - 2] == '/') return false;
    const size_t close = packet.find("</rdf:Description>", open);
    std::vector<std::pair<size_t, size_t>> children;
    if (close == kNowhere || !Children(packet, open, close, children)) return false;
    // The namespaces in scope in the description, for the properties moved.
    std::vector<std::pair<std::string, std::string>> declared;
    for (const char* outer : {"<x:xmpmeta", "<rdf:RDF"}) {
        const size_t at = packet.find(outer);
        const size_t end = at == kNowhere || at > description ? kNowhere : TagEnd(packet, at);
        if (end != kNowhere) Declarations(packet.substr(at, end - at), declared);
    }
    const std::string tag = packet.substr(description, open - description);
    Declarations(tag, declared);
    size_t length = 0;
    const size_t about = AttributeValue(tag, "rdf:about", 0, length);
    const bool noteDeclared =
        std::any_of(declared.begin(), declared.end(), [](const auto& d) { return d.first == "xmpNote"; });
    const std::string mark = std::string(noteDeclared ? "" : " xmlns:xmpNote=\"http://ns.adobe.com/xmp/note/\"") +
                             " xmpNote:HasExtendedXMP=\"";
    // The largest properties move first, until the rest fits.
    std::vector<size_t> order(children.size());
    for (size_t k = 0; k < order.size(); ++k) order[k] = k;
    std::stable_sort(order.begin(), order.end(), [&](size_t a, size_t b) {
        return children[a].second - children[a].first > children[b].second - children[b].first;
    });
    std::vector<bool> moved(children.size(), false);
    size_t size = packet.size() + mark.size() + 33;
    for (const size_t k : order) {
        if (size <= most) break;
        moved[k] = true;
        size -= children[k].second - children[k].first;
    }
    if (size > most) return false;
    std::string ext = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"><rdf:RDF "
                      "xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\"><rdf:Description rdf:about=\"" +
                      (about == kNowhere ? std::string() : tag.substr(about, length)) + "\"";
    for (const auto& d : declared) ext += " " + d.second;
    ext += ">";
    for (size_t k = 0; k < children.size(); ++k)
        if (moved[k]) ext.append(packet, children[k].first, children[k].second - children[k].first);
    ext += "</rdf:Description></rdf:RDF></x:xmpmeta>";
    // The packet without them, naming the extension in its description.
    std::string rest = packet.substr(0, open - 1) + mark + Md5Hex(ext) + "\">";
    size_t from = open;
    for (size_t k = 0; k < children.size(); ++k)
        if (moved[k]) {
            rest.append(packet, from, children[k].first - from);
            from = children[k].second;
        }
    rest.append(packet, from, kNowhere);
    main = std::move(rest);
    extension = std::move(ext);
    return true;
}

std::string MergedXmp(const std::string& packet, const std::string& extension) {
    // The extension's descriptions: what its rdf:RDF element holds.
    const size_t rdf = extension.find("<rdf:RDF"), open = extension.find('>', rdf),
                 close = extension.rfind("</rdf:RDF>");
    if (rdf == std::string::npos || open == std::string::npos || close == std::string::npos || close < open)
        return {};
    // A namespace declared outside the descriptions would not go with them.
    const std::string outside = extension.substr(0, open) + extension.substr(close);
    for (size_t at = outside.find("xmlns:"); at != std::string::npos; at = outside.find("xmlns:", at + 1))
        if (outside.compare(at, 8, "xmlns:x=") != 0 && outside.compare(at, 10, "xmlns:rdf=") != 0) return {};
    const size_t end = packet.rfind("</rdf:RDF>");
    if (end == std::string::npos) return {};
    std::string merged = packet;
    merged.insert(end, extension, open + 1, close - open - 1);
    // The packet no longer names an extension.
    const Statement named = ExtensionNamed(merged);
    if (named.begin != kNowhere) merged.erase(named.begin, named.end - named.begin);
    return merged;
}

std::string XmpOfCorrected(std::string packet, const std::string& extension) {
    // The prefixes are the ones the namespaces' owners give them, which
    // every writer of these properties uses.
    SetProperty(packet, "tiff:Orientation", "1");
    // A raw converter's settings (Camera Raw's and Lightroom's) describe the
    // development of the original pixels; read from a corrected copy, they
    // would be applied to it once more. Marked as applied, they are kept
    // for the record and not applied again.
    size_t length = 0;
    const size_t declared = AttributeValue(packet, "xmlns:crs", 0, length);
    if (declared != std::string::npos && !SetProperty(packet, "crs:AlreadyApplied", "True"))
        packet.insert(declared + length + 1, " crs:AlreadyApplied=\"True\"");
    // Settings moved to the extended XMP are marked in the main packet,
    // where a converter reads the mark first.
    size_t description = kNowhere;
    if (declared == kNowhere && AttributeValue(extension, "xmlns:crs", 0, length) != kNowhere &&
        (description = packet.find(kDescription)) != kNowhere)
        packet.insert(description + kDescriptionSize,
                      " xmlns:crs=\"http://ns.adobe.com/camera-raw-settings/1.0/\" crs:AlreadyApplied=\"True\"");
    return packet;
}

namespace {

// How an IPTC field is stated in XMP.
enum class XmpForm { kText, kInteger, kLangAlt, kBag, kSeq, kDate };
struct IptcMapping {
    const char* field;     // the image library's attribute
    const char* property;  // prefix:Name
    XmpForm form;
};
// IPTC Core's mapping of the IIM fields that describe a photo (those left
// out serve a news service's own bookkeeping: job and document IDs, release
// dates, editorial status).
constexpr IptcMapping kIptcMappings[] = {
    {"IPTC:ObjectName", "dc:title", XmpForm::kLangAlt},
    {"IPTC:Headline", "photoshop:Headline", XmpForm::kText},
    {"IPTC:Caption", "dc:description", XmpForm::kLangAlt},
    {"IPTC:CaptionWriter", "photoshop:CaptionWriter", XmpForm::kText},
    {"Keywords", "dc:subject", XmpForm::kBag},
    {"IPTC:Creator", "dc:creator", XmpForm::kSeq},
    {"IPTC:AuthorsPosition", "photoshop:AuthorsPosition", XmpForm::kText},
    {"IPTC:CopyrightNotice", "dc:rights", XmpForm::kLangAlt},
    {"IPTC:Provider", "photoshop:Credit", XmpForm::kText},
    {"IPTC:Source", "photoshop:Source", XmpForm::kText},
    {"IPTC:DateCreated", "photoshop:DateCreated", XmpForm::kDate},
    {"IPTC:Sublocation", "Iptc4xmpCore:Location", XmpForm::kText},
    {"IPTC:City", "photoshop:City", XmpForm::kText},
    {"IPTC:State", "photoshop:State", XmpForm::kText},
    {"IPTC:Country", "photoshop:Country", XmpForm::kText},
    {"IPTC:CountryCode", "Iptc4xmpCore:CountryCode", XmpForm::kText},
    {"IPTC:Instructions", "photoshop:Instructions", XmpForm::kText},
    {"IPTC:TransmissionReference", "photoshop:TransmissionReference", XmpForm::kText},
    {"IPTC:Category", "photoshop:Category", XmpForm::kText},
    {"IPTC:SupplementalCategories", "photoshop:SupplementalCategories", XmpForm::kBag},
    {"IPTC:Urgency", "photoshop:Urgency", XmpForm::kInteger},
};
constexpr std::pair<const char*, const char*> kIptcNamespaces[] = {
    {"dc", "http://purl.org/dc/elements/1.1/"},
    {"photoshop", "http://ns.adobe.com/photoshop/1.0/"},
    {"Iptc4xmpCore", "http://iptc.org/std/Iptc4xmpCore/1.0/xmlns/"},
};

// `text` as XML character data: UTF-8 (from Latin-1 where it is not UTF-8
// already), the characters XML forbids left out, the markup ones escaped,
// the ends trimmed.
std::string XmlText(const std::string& text) {
    std::string utf8;
    if (IsUtf8(text)) {
        utf8 = text;
    } else {
        for (const char ch : text) {
            const auto c = uint8_t(ch);
            if (c < 0x80) {
                utf8 += ch;
            } else {
                utf8 += char(0xC0 | c >> 6);
                utf8 += char(0x80 | (c & 0x3F));
            }
        }
    }
    const size_t from = utf8.find_first_not_of(kSpace), to = utf8.find_last_not_of(kSpace);
    std::string out;
    if (from == std::string::npos) return out;
    for (size_t i = from; i <= to; ++i) {
        const char c = utf8[i];
        if (c == '&') out += "&amp;";
        else if (c == '<') out += "&lt;";
        else if (c == '>') out += "&gt;";
        else if (uint8_t(c) >= 0x20 || c == '\t' || c == '\n' || c == '\r') out += c;
    }
    return out;
}

// IIM's date (CCYYMMDD) and time (HHMMSS and a zone, +HHMM) as XMP's
// (2024-05-17T14:03:09+02:00); the date alone where the time is missing or
// malformed; empty where the date is malformed.
std::string XmpDate(const std::string& date, const std::string& time) {
    const auto digits = [](const std::string& s, size_t from, size_t n) {
        return s.size() >= from + n && s.find_first_not_of("0123456789", from) >= from + n;
    };
    if (date.size() != 8 || !digits(date, 0, 8)) return {};
    std::string out = date.substr(0, 4) + "-" + date.substr(4, 2) + "-" + date.substr(6, 2);
    if (time.size() >= 6 && digits(time, 0, 6)) {
        out += "T" + time.substr(0, 2) + ":" + time.substr(2, 2) + ":" + time.substr(4, 2);
        if (time.size() == 11 && (time[6] == '+' || time[6] == '-') && digits(time, 7, 4))
            out += time.substr(6, 3) + ":" + time.substr(9, 2);
    }
    return out;
}

// Whether the packet states the property `name` (prefix:Name), as an
// element or an attribute.
bool States(const std::string& packet, const std::string& name) {
    size_t length = 0;
    if (AttributeValue(packet, name, 0, length) != kNowhere) return true;
    const std::string open = "<" + name;
    for (size_t at = packet.find(open); at != kNowhere; at = packet.find(open, at + 1)) {
        const size_t after = at + open.size();
        if (after < packet.size() && std::strchr(" \t\r\n/>", packet[after]) != nullptr) return true;
    }
    return false;
}

// Whether the packet binds the namespace `uri` to a prefix other than
// `prefix`, or `prefix` to another namespace.
bool BoundOtherwise(const std::string& packet, std::string_view prefix, std::string_view uri) {
    bool otherwise = false;
    ForEachDeclaration(packet, [&](std::string_view bound, std::string_view to) {
        otherwise = (bound == prefix) != (to == uri);
        return !otherwise;
    });
    return otherwise;
}

}  // namespace

std::string XmpWithIptc(const std::string& packet, const std::vector<IptcField>& fields) {
    const size_t end = packet.empty() ? 0 : packet.rfind("</rdf:RDF>");
    if (end == kNowhere) return packet;
    const auto valueOf = [&fields](const char* name) {
        for (const IptcField& f : fields)
            if (f.name == name) return f.value;
        return std::string();
    };
    // A namespace the packet binds otherwise is left to the packet.
    bool usable[std::size(kIptcNamespaces)], used[std::size(kIptcNamespaces)] = {};
    for (size_t ns = 0; ns < std::size(kIptcNamespaces); ++ns)
        usable[ns] = !BoundOtherwise(packet, kIptcNamespaces[ns].first, kIptcNamespaces[ns].second);
    std::string properties;
    for (const IptcMapping& m : kIptcMappings) {
        const std::string property = m.property, prefix = property.substr(0, property.find(':'));
        size_t ns = 0;
        while (prefix != kIptcNamespaces[ns].first) ++ns;
        if (!usable[ns] || States(packet, property)) continue;
        std::string items;
        if (m.form == XmpForm::kBag || m.form == XmpForm::kSeq) {
            const std::string all = valueOf(m.field);
            for (size_t from = 0; from <= all.size();) {
                size_t to = all.find(';', from);
                if (to == kNowhere) to = all.size();
                if (const std::string item = XmlText(all.substr(from, to - from)); !item.empty())
                    items += "<rdf:li>" + item + "</rdf:li>";
                from = to + 1;
            }
        } else if (m.form == XmpForm::kDate) {
            items = XmpDate(OIIO::Strutil::strip(valueOf(m.field)), OIIO::Strutil::strip(valueOf("IPTC:TimeCreated")));
        } else {
            items = XmlText(valueOf(m.field));
            if (m.form == XmpForm::kInteger && items.find_first_not_of("0123456789") != kNowhere) items.clear();
        }
        if (items.empty()) continue;
        used[ns] = true;
        const char* const container = m.form == XmpForm::kBag ? "rdf:Bag" : m.form == XmpForm::kSeq ? "rdf:Seq"
                                                                           : "rdf:Alt";
        if (m.form == XmpForm::kLangAlt) items = "<rdf:li xml:lang=\"x-default\">" + items + "</rdf:li>";
        if (m.form == XmpForm::kText || m.form == XmpForm::kInteger || m.form == XmpForm::kDate)
            properties += "   <" + property + ">" + items + "</" + property + ">\n";
        else
            properties +=
                "   <" + property + "><" + container + ">" + items + "</" + container + "></" + property + ">\n";
    }
    if (properties.empty()) return packet;
    std::string description = "  <rdf:Description rdf:about=\"\"";
    for (size_t ns = 0; ns < std::size(kIptcNamespaces); ++ns)
        if (used[ns])
            description +=
                std::string("\n    xmlns:") + kIptcNamespaces[ns].first + "=\"" + kIptcNamespaces[ns].second + "\"";
    description += ">\n" + properties + "  </rdf:Description>\n";
    if (packet.empty())
        return "<?xpacket begin=\"\xef\xbb\xbf\" id=\"W5M0MpCehiHzreSzNTczkc9d\"?>\n"
               "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\">\n"
               " <rdf:RDF xmlns:rdf=\"http://www.w3.org/1999/02/22-rdf-syntax-ns#\">\n" +
               description + " </rdf:RDF>\n</x:xmpmeta>\n<?xpacket end=\"w\"?>";
    std::string added = packet;
    added.insert(end, description);
    return added;
}

std::string WithoutPadding(const std::string& packet) {
    const size_t end = packet.rfind("<?xpacket end");
    if (end == std::string::npos) return packet;
    const size_t from = packet.find_last_not_of(kSpace, end - (end > 0 ? 1 : 0)) + 1;
    // One line break is kept before the closing instruction.
    return from < end ? packet.substr(0, from) + "\n" + packet.substr(end) : packet;
}

bool CompleteTiff(const std::string& path, const std::string& packet, uint16_t iso, std::string& error) {
    const TiffHandle tiff = OpenTiff(path, "r+");
    if (!tiff) {
        error = "cannot reopen it to complete its metadata";
        return false;
    }
    TIFF* t = tiff.get();
    const auto failed = [&error] {
        error = "cannot complete its metadata";
        return false;
    };
    // The ISO speed goes into the EXIF directory the writer made, written
    // anew. The writer makes one for every photo with an EXIF colour space
    // or any other EXIF field it writes; a file without one gets none
    // (libtiff 4.5 does not free the first directory's fields as it creates
    // a directory, only as it reads one).
    uint64_t exif = 0;
    const bool withIso = iso != 0 && TIFFGetField(t, TIFFTAG_EXIFIFD, &exif) == 1 && exif != 0;
    if (withIso) {
        if (TIFFReadEXIFDirectory(t, exif) != 1 || TIFFSetField(t, EXIFTAG_ISOSPEEDRATINGS, uint16_t{1}, &iso) != 1 ||
            TIFFWriteCustomDirectory(t, &exif) != 1 || TIFFSetDirectory(t, 0) != 1 ||
            TIFFSetField(t, TIFFTAG_EXIFIFD, exif) != 1)
            return failed();
    }
    if (!packet.empty() && TIFFSetField(t, TIFFTAG_XMLPACKET, uint32_t(packet.size()), packet.data()) != 1)
        return failed();
    if ((withIso || !packet.empty()) && TIFFRewriteDirectory(t) != 1) return failed();
    // What is still buffered is written now, where a failure can be told.
    if (TIFFFlush(t) != 1) return failed();
    return true;
}

JpegXmpStream::JpegXmpStream(std::string packet, const std::string& extension, OIIO::Filesystem::IOProxy& out)
    : PassingStream(out) {
    const std::string guid = ExtendedXmpGuid(packet);
    const bool extended = !guid.empty() && !extension.empty() && extension.size() <= kLargestPacket;
    const size_t parts = extended ? (extension.size() + kJpegExtensionPart - 1) / kJpegExtensionPart : 0;
    segment_.reserve(4 + kJpegSignatureSize + packet.size() +
                     parts * (4 + kJpegExtensionSignatureSize + kExtensionHeadSize) +
                     (extended ? extension.size() : 0));
    const auto header = [this](size_t length) {
        for (const uint8_t b : {uint8_t(0xFF), uint8_t(0xE1), uint8_t(length >> 8), uint8_t(length & 0xFF)})
            segment_.push_back(b);
    };
    header(2 + kJpegSignatureSize + packet.size());
    segment_.insert(segment_.end(), kJpegSignature, kJpegSignature + kJpegSignatureSize);
    segment_.insert(segment_.end(), packet.begin(), packet.end());
    if (!extended) return;
    for (size_t offset = 0; offset < extension.size(); offset += kJpegExtensionPart) {
        const size_t n = std::min(kJpegExtensionPart, extension.size() - offset);
        header(2 + kJpegExtensionSignatureSize + kExtensionHeadSize + n);
        segment_.insert(segment_.end(), kJpegExtensionSignature,
                        kJpegExtensionSignature + kJpegExtensionSignatureSize);
        segment_.insert(segment_.end(), guid.begin(), guid.end());
        for (const uint64_t v : {uint64_t(extension.size()), uint64_t(offset)})
            for (int shift = 24; shift >= 0; shift -= 8) segment_.push_back(uint8_t(v >> shift));
        segment_.insert(segment_.end(), extension.begin() + std::ptrdiff_t(offset),
                        extension.begin() + std::ptrdiff_t(offset + n));
    }
}

void JpegXmpStream::EmitPacket() {
    if (packetWritten_) return;
    packetWritten_ = true;
    Emit(segment_.data(), segment_.size());
}

void JpegXmpStream::Take(const uint8_t* p, size_t n) {
    while (n > 0) {
        size_t m = 0;
        switch (state_) {
        case State::kStart:
        case State::kHeader:
        case State::kSignature: {
            // The start marker; a marker and its length; or those and an
            // APP1 segment's signature.
            const size_t wanted = state_ == State::kStart ? 2 : state_ == State::kHeader ? 4 : 4 + kJpegSignatureSize;
            m = std::min(n, wanted - pending_.size());
            pending_.insert(pending_.end(), p, p + m);
            if (pending_.size() < wanted) break;
            if (state_ != State::kStart) {
                HeaderTaken();
            } else if (pending_[0] == 0xFF && pending_[1] == 0xD8) {
                Emit(pending_.data(), 2);
                pending_.clear();
                state_ = State::kHeader;
            } else {
                state_ = State::kBroken;
            }
            break;
        }
        case State::kPassing:
        case State::kDropping:
            m = size_t(std::min<uint64_t>(n, left_));
            if (state_ == State::kPassing) Emit(p, m);
            left_ -= m;
            if (left_ == 0) state_ = State::kHeader;
            break;
        case State::kPicture:
            m = n;
            Emit(p, m);
            break;
        case State::kBroken:
            return;
        }
        p += m;
        n -= m;
    }
}

// A segment's marker and length are in pending_, and of an APP1 segment
// long enough to hold one, the signature's bytes too. Every marker an
// encoder writes before its picture's data has a length.
void JpegXmpStream::HeaderTaken() {
    const uint8_t marker = pending_[1];
    const uint64_t length = Load16(pending_.data() + 2, false);
    if (pending_[0] != 0xFF || length < 2 || marker == 0xD8 || marker == 0xD9 || marker == 0xFF ||
        (marker >= 0xD0 && marker <= 0xD7) || marker == 0x01) {
        state_ = State::kBroken;
        return;
    }
    if (state_ == State::kHeader && marker == 0xE1 && length - 2 >= kJpegSignatureSize) {
        state_ = State::kSignature;
        return;
    }
    const bool xmp = state_ == State::kSignature &&
                     std::memcmp(pending_.data() + 4, kJpegSignature, kJpegSignatureSize) == 0;
    // The packet goes before the first segment that is neither the JFIF
    // header nor the EXIF.
    if (marker != 0xE0 && marker != 0xE1) EmitPacket();
    if (!xmp) Emit(pending_.data(), pending_.size());
    left_ = length - 2 - (pending_.size() - 4);
    pending_.clear();
    // From the start of the picture's data on (the rest of its header, the
    // data), everything passes as it comes.
    if (marker == 0xDA) state_ = State::kPicture;
    else state_ = left_ == 0 ? State::kHeader : xmp ? State::kDropping : State::kPassing;
}

}  // namespace lumarex_cli
