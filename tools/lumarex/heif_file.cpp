// SPDX-License-Identifier: MIT
#include "heif_file.h"

#include <OpenImageIO/tiffutils.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <memory>
#include <vector>

#include "colour_profile.h"
#include "xmp_packet.h"

namespace lumarex_cli {
namespace {

heif_compression_format Compression(bool av1) { return av1 ? heif_compression_AV1 : heif_compression_HEVC; }

// Records libheif's failure in `error`; true when there was one.
bool Failed(const heif_error& e, const char* what, std::string& error) {
    if (e.code == heif_error_Ok) return false;
    error = std::string(what) + ": " + (e.message != nullptr ? e.message : "libheif error");
    return true;
}

// The picture's samples as a libheif image of `bits` per sample, rounded
// from the 16-bit scale; 8-bit pictures are stored exactly at 8 bits.
Owned<heif_image> MakeImage(const Picture& pic, bool alpha, int bits, std::string& error) {
    const heif_chroma chroma = bits > 8 ? (alpha ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                        : (alpha ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    heif_image* raw = nullptr;
    const heif_error created = heif_image_create(pic.width, pic.height, heif_colorspace_RGB, chroma, &raw);
    Owned<heif_image> image(raw);
    if (Failed(created, "cannot make the picture", error) ||
        Failed(heif_image_add_plane(image.get(), heif_channel_interleaved, pic.width, pic.height, bits),
               "cannot make the picture", error))
        return nullptr;
    int stride = 0;
    uint8_t* plane = heif_image_get_plane(image.get(), heif_channel_interleaved, &stride);
    const int nc = alpha ? 4 : 3;
    const uint32_t top = (1u << bits) - 1;
    for (int y = 0; y < pic.height; ++y) {
        uint8_t* row = plane + size_t(y) * size_t(stride);
        for (int x = 0; x < pic.width; ++x) {
            const size_t i = size_t(y) * size_t(pic.width) + size_t(x);
            for (int c = 0; c < nc; ++c) {
                const uint32_t v16 = c == 3 ? pic.alpha[i] : Sample16(pic, i * 3 + size_t(c));
                const uint32_t v = (v16 * top + 32767u) / 65535u;
                const size_t at = size_t(x) * size_t(nc) + size_t(c);
                if (bits > 8) {
                    row[at * 2] = uint8_t(v & 0xff);
                    row[at * 2 + 1] = uint8_t(v >> 8);
                } else {
                    row[at] = uint8_t(v);
                }
            }
        }
    }
    return image;
}

heif_error WriteToSink(heif_context*, const void* data, size_t size, void* sink) {
    // The sink keeps a failed write for the output file's commit to report.
    static_cast<OIIO::Filesystem::IOProxy*>(sink)->write(data, size);
    return heif_error{heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

}  // namespace

bool HeifEncoderPresent(bool av1) {
    const Owned<heif_context> context(heif_context_alloc());
    heif_encoder* raw = nullptr;
    const heif_error e = heif_context_get_encoder_for_format(context.get(), Compression(av1), &raw);
    const Owned<heif_encoder> encoder(raw);
    return e.code == heif_error_Ok && encoder != nullptr;
}

bool WriteHeif(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, const std::string& xmp, bool av1,
               int quality, OIIO::Filesystem::IOProxy& sink, std::string& notes, std::string& error) {
    const Owned<heif_context> context(heif_context_alloc());
    heif_encoder* rawEncoder = nullptr;
    const heif_error found = heif_context_get_encoder_for_format(context.get(), Compression(av1), &rawEncoder);
    const Owned<heif_encoder> encoder(rawEncoder);
    if (Failed(found, "no encoder", error) ||
        Failed(heif_encoder_set_lossy_quality(encoder.get(), std::clamp(quality, 1, 100)), "bad quality", error) ||
        Failed(heif_encoder_set_parameter_string(encoder.get(), "chroma", "420"), "bad chroma", error))
        return false;

    const OIIO::ParamValue* icc = meta.find_attribute("ICCProfile");
    // A 16-bit picture goes to HEIC at 10 bits (an encoder built for 8 bits
    // only gets 8). AVIF stays at 8: libheif 1.15 asks libaom 3.6 for a
    // profile that does not fit 10-bit 4:2:0, and libaom aborts the process.
    const bool deep = pic.bits == 16 && !av1;
    for (const int bits : deep ? std::vector<int>{10, 8} : std::vector<int>{8}) {
        const Owned<heif_image> image = MakeImage(pic, withAlpha, bits, error);
        if (!image) return false;
        if (icc != nullptr && icc->type().size() > 0 &&
            Failed(heif_image_set_raw_color_profile(image.get(), "prof", icc->data(), icc->type().size()),
                   "cannot keep the colour profile", error))
            return false;
        heif_image_handle* rawHandle = nullptr;
        const heif_error encoded = heif_context_encode_image(context.get(), image.get(), encoder.get(), nullptr, &rawHandle);
        const Owned<heif_image_handle> handle(rawHandle);
        if (encoded.code != heif_error_Ok && bits > 8) continue;
        if (Failed(encoded, "cannot encode", error)) return false;
        const std::string format = av1 ? "AVIF" : "HEIC";
        if (bits == 10) AddNote(notes, "16-bit samples stored at 10 bits, the depth HEIC viewers decode");
        else if (pic.bits == 16) AddNote(notes, "16-bit samples stored at 8 bits, the most " + format + " takes here");
        // The EXIF item as phones write it: "Exif\0\0", then the TIFF
        // structure (libheif puts the offset of its header in front).
        std::vector<char> exif{'E', 'x', 'i', 'f', '\0', '\0'};
        OIIO::encode_exif(meta, exif, OIIO::endian::little);
        // A TIFF header and an empty directory take 14 bytes: nothing to keep.
        if (exif.size() > 6 + 14 &&
            Failed(heif_context_add_exif_metadata(context.get(), handle.get(), exif.data(), int(exif.size())),
                   "cannot keep the EXIF", error))
            return false;
        if (!xmp.empty() &&
            Failed(heif_context_add_XMP_metadata(context.get(), handle.get(), xmp.data(), int(xmp.size())),
                   "cannot keep the XMP", error))
            return false;
        heif_writer writer{1, &WriteToSink};
        return !Failed(heif_context_write(context.get(), &writer, &sink), "cannot write", error);
    }
    return false;
}

namespace {

// libheif's reason on one line (some end in a line break), or a stand-in
// when it gives none.
std::string Reason(const heif_error& e) {
    return e.message != nullptr && *e.message != '\0' ? OneLine(e.message)
                                                      : "libheif error " + std::to_string(int(e.code));
}

// Where a file's EXIF item holds its block: after a 4-byte big-endian
// offset to it (phones give 6, past "Exif\0\0"; some writers give 0 and
// keep the marker all the same, which DecodeExif passes over).
bool ExifStructure(const std::vector<uint8_t>& item, size_t& at) {
    if (item.size() < 4) return false;
    const uint64_t offset = uint64_t(item[0]) << 24 | uint64_t(item[1]) << 16 | uint64_t(item[2]) << 8 | item[3];
    if (offset >= item.size() - 4) return false;
    at = size_t(4 + offset);
    return true;
}

// What the handle's colour description (its 'nclx' box) says, for a
// picture with no ICC profile: the profile of the colour space it names
// (none for sRGB's), and the note that tells so, or that the picture is HDR.
DescribedSpace DescribedColours(const heif_image_handle* handle, std::string& note) {
    heif_color_profile_nclx* nclx = nullptr;
    if (heif_image_handle_get_nclx_color_profile(handle, &nclx).code != heif_error_Ok || nclx == nullptr) return {};
    const int transfer = int(nclx->transfer_characteristics);
    const DescribedSpace space = SpaceOfColourDescription(int(nclx->color_primaries), transfer);
    heif_nclx_color_profile_free(nclx);
    if (space.profile != nullptr)
        note = std::string(space.name) + " by its colour description: written with a " + space.name +
               " colour profile";
    // No display profile describes an HDR curve: the samples are corrected
    // and written as a standard-range picture's.
    else if (transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_PQ)
        note = "HDR (PQ) by its colour description: written as a standard-range picture";
    else if (transfer == heif_transfer_characteristic_ITU_R_BT_2100_0_HLG)
        note = "HDR (HLG) by its colour description: written as a standard-range picture";
    return space;
}

// The handle's XMP packet: its metadata item of content type
// "application/rdf+xml", or empty.
std::string XmpOf(const heif_image_handle* handle) {
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, "mime");
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    if (count > 0) heif_image_handle_get_list_of_metadata_block_IDs(handle, "mime", ids.data(), count);
    for (const heif_item_id id : ids) {
        const char* type = heif_image_handle_get_metadata_content_type(handle, id);
        if (type == nullptr || std::strcmp(type, "application/rdf+xml") != 0) continue;
        const size_t size = heif_image_handle_get_metadata_size(handle, id);
        if (size > kLargestPacket) continue;
        std::string packet(size, '\0');
        if (!packet.empty() && heif_image_handle_get_metadata(handle, id, packet.data()).code == heif_error_Ok)
            return packet;
    }
    return {};
}

// The handle's EXIF, decoded into `spec`, and its ICC colour profile, or
// one made from its colour description (`note` tells of that). True when
// the EXIF marks the picture Adobe RGB.
bool ReadMetadata(const heif_image_handle* handle, OIIO::ImageSpec& spec, std::string& note) {
    bool adobeRgb = false;
    const int count = heif_image_handle_get_number_of_metadata_blocks(handle, "Exif");
    std::vector<heif_item_id> ids(size_t(std::max(count, 0)));
    if (count > 0) heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", ids.data(), count);
    for (const heif_item_id id : ids) {
        std::vector<uint8_t> item(heif_image_handle_get_metadata_size(handle, id));
        size_t at = 0;
        if (item.empty() || heif_image_handle_get_metadata(handle, id, item.data()).code != heif_error_Ok ||
            !ExifStructure(item, at))
            continue;
        if (DecodeExif(item.data() + at, item.size() - at, spec)) adobeRgb = true;
    }
    // libheif turns the picture as the file's own rotation and mirroring
    // say; a phone's EXIF orientation says the same turn, and applied again
    // would turn it twice.
    spec.erase_attribute("Orientation");
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle);
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) {
        // A phone's wide-gamut picture may say so in its colour description
        // alone; written without it, its colours would be read as sRGB.
        const DescribedSpace space = DescribedColours(handle, note);
        if (space.profile != nullptr)
            spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(space.profile->size())),
                           space.profile->data());
        return adobeRgb;
    }
    std::vector<uint8_t> profile(heif_image_handle_get_raw_color_profile_size(handle));
    if (!profile.empty() && heif_image_handle_get_raw_color_profile(handle, profile.data()).code == heif_error_Ok)
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
    return adobeRgb;
}

}  // namespace

bool IsHeifFile(const std::string& path, bool namedAsHeif) {
    // The "ftyp" box comes first and is small; its brands say what the
    // file holds.
    uint8_t head[4096];
    std::ifstream file(path, std::ios::binary);
    file.read(reinterpret_cast<char*>(head), sizeof head);
    const int n = int(file.gcount());
    if (n < 12 || std::memcmp(head + 4, "ftyp", 4) != 0) return false;
    // A main brand libheif knows, or a HEIF image brand among the
    // compatible ones (libheif 1.15 says "no" to a main brand "miaf", say);
    // other ISO media files (a camera's CR3, a video) are not HEIF.
    if (heif_check_filetype(head, n) != heif_filetype_no) return true;
    for (const char* brand : {"mif1", "msf1", "miaf", "heic", "heix", "avif", "avis"})
        if (heif_has_compatible_brand(head, n, brand) == 1) return true;
    // A file named as HEIF whose brands are damaged: libheif gives the
    // reason, where OpenImageIO 2.4's reader decodes the whole picture on
    // opening it, before its size could be checked.
    return namedAsHeif;
}

bool HeifInput::Open(const std::string& path, std::string& error) {
    context_.reset(heif_context_alloc());
    heif_image_handle* raw = nullptr;
    heif_error e = heif_context_read_from_file(context_.get(), path.c_str(), nullptr);
    if (e.code == heif_error_Ok) e = heif_context_get_primary_image_handle(context_.get(), &raw);
    handle_.reset(raw);
    if (e.code != heif_error_Ok || !handle_) {
        error = "not a readable image file (" + Reason(e) + ")";
        return false;
    }
    width_ = heif_image_handle_get_width(handle_.get());
    height_ = heif_image_handle_get_height(handle_.get());
    bits_ = heif_image_handle_get_luma_bits_per_pixel(handle_.get());
    alpha_ = heif_image_handle_has_alpha_channel(handle_.get()) != 0;
    premultiplied_ = alpha_ && heif_image_handle_is_premultiplied_alpha(handle_.get()) != 0;
    several_ = heif_context_get_number_of_top_level_images(context_.get()) > 1;
    if (width_ <= 0 || height_ <= 0) {
        error = "unsupported size " + std::to_string(width_) + "x" + std::to_string(height_);
        return false;
    }
    if (bits_ < 1 || bits_ > 16) {
        error = bits_ < 1 ? std::string("not a readable image file (its depth is not given)")
                          : "unsupported depth of " + std::to_string(bits_) + " bits";
        return false;
    }
    // As the image library described these files, so that what is written
    // from them stays as it was.
    spec_ = OIIO::ImageSpec(width_, height_, alpha_ ? 4 : 3,
                            bits_ > 8 ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    spec_.attribute("oiio:ColorSpace", "sRGB");
    adobeRgb_ = ReadMetadata(handle_.get(), spec_, colourNote_);
    xmp_ = XmpOf(handle_.get());
    return true;
}

bool HeifInput::Decode(std::string& error, const Progress& progress) {
    // The file is let go once its pixels are decoded, or when they cannot be.
    const Owned<heif_image_handle> handle = std::move(handle_);
    const Owned<heif_context> context = std::move(context_);
    if (!handle) {
        error = "the file is not open";
        return false;
    }
    if (progress(0.0f)) {
        error = "stopped";
        return false;
    }
    const bool deep = bits_ > 8;
    const heif_chroma chroma = deep ? (alpha_ ? heif_chroma_interleaved_RRGGBBAA_LE : heif_chroma_interleaved_RRGGBB_LE)
                                    : (alpha_ ? heif_chroma_interleaved_RGBA : heif_chroma_interleaved_RGB);
    // The coded picture is allocated at the size its bitstream gives, which
    // a damaged or hostile file can set far beyond its header's (checked
    // against the limits); libheif refuses more than the header's size and
    // its coding's alignment.
    const int largest = std::max({width_, height_, heif_image_handle_get_ispe_width(handle.get()),
                                  heif_image_handle_get_ispe_height(handle.get())});
    heif_context_set_maximum_image_size_limit(context.get(), largest + 64);
    heif_image* raw = nullptr;
    const heif_error e = heif_decode_image(handle.get(), &raw, heif_colorspace_RGB, chroma, nullptr);
    Owned<heif_image> image(raw);
    if (e.code != heif_error_Ok || !image) {
        error = e.code == heif_error_Unsupported_feature && e.subcode == heif_suberror_Unsupported_codec
                    ? "this machine's libheif has no decoder for its compression (" + Reason(e) + ")"
                : e.subcode == heif_suberror_Security_limit_exceeded
                    ? "corrupt image data (its coded picture is larger than its header says)"
                    : "corrupt or truncated image data (" + Reason(e) + ")";
        return false;
    }
    const int bits = heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved);
    if (heif_image_get_width(image.get(), heif_channel_interleaved) != width_ ||
        heif_image_get_height(image.get(), heif_channel_interleaved) != height_ || (bits > 8) != deep || bits > 16) {
        error = "corrupt image data (the picture decoded is not the one its header describes)";
        return false;
    }
    image_ = std::move(image);
    return true;
}

bool HeifInput::CopyTo(bool wide, void* samples, std::string& error, const Progress& progress) {
    const Owned<heif_image> image = std::move(image_);
    int stride = 0;
    const uint8_t* plane =
        image ? heif_image_get_plane_readonly(image.get(), heif_channel_interleaved, &stride) : nullptr;
    if (plane == nullptr) {
        error = "its pixels are not decoded";
        return false;
    }
    // Every stored value's 16-bit one, rounded: v x 257 at 8 bits, and at 10
    // bits the values the writer's rounding (MakeImage above) takes back to v.
    const bool deep = bits_ > 8;
    const uint32_t top = (1u << heif_image_get_bits_per_pixel_range(image.get(), heif_channel_interleaved)) - 1;
    std::vector<uint16_t> to16(size_t(top) + 1);
    for (uint32_t v = 0; v <= top; ++v) to16[v] = uint16_t((v * 65535u + top / 2) / top);
    const size_t row = size_t(width_) * (alpha_ ? 4 : 3);
    for (int y = 0; y < height_; ++y) {
        if (y % 256 == 0 && y > 0 && progress(float(y) / float(height_))) {
            error = "stopped";
            return false;
        }
        const uint8_t* in = plane + size_t(y) * size_t(stride);
        for (size_t i = 0; i < row; ++i) {
            // A decoder's value above the depth is taken as the top.
            const uint32_t stored = deep ? uint32_t(in[2 * i]) | uint32_t(in[2 * i + 1]) << 8 : in[i];
            const uint32_t v = std::min(stored, top);
            if (wide) static_cast<uint16_t*>(samples)[size_t(y) * row + i] = to16[v];
            else static_cast<uint8_t*>(samples)[size_t(y) * row + i] = deep ? To8(to16[v]) : uint8_t(v);
        }
    }
    return true;
}

}  // namespace lumarex_cli
