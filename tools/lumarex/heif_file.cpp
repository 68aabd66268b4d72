// SPDX-License-Identifier: MIT
#include "heif_file.h"

#include <OpenImageIO/tiffutils.h>
#include <libheif/heif.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <vector>

namespace lumarex_cli {
namespace {

struct HeifFree {
    void operator()(heif_context* p) const { heif_context_free(p); }
    void operator()(heif_encoder* p) const { heif_encoder_release(p); }
    void operator()(heif_image* p) const { heif_image_release(p); }
    void operator()(heif_image_handle* p) const { heif_image_handle_release(p); }
};
template <class T>
using Owned = std::unique_ptr<T, HeifFree>;

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

bool WriteHeif(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, bool av1, int quality,
               OIIO::Filesystem::IOProxy& sink, std::string& notes, std::string& error) {
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
        heif_writer writer{1, &WriteToSink};
        return !Failed(heif_context_write(context.get(), &writer, &sink), "cannot write", error);
    }
    return false;
}

void ReadHeifProfile(const std::string& path, OIIO::ImageSpec& spec) {
    const std::unique_ptr<heif_context, decltype(&heif_context_free)> ctx(heif_context_alloc(), &heif_context_free);
    if (!ctx || heif_context_read_from_file(ctx.get(), path.c_str(), nullptr).code != heif_error_Ok) return;
    heif_image_handle* raw = nullptr;
    if (heif_context_get_primary_image_handle(ctx.get(), &raw).code != heif_error_Ok) return;
    const std::unique_ptr<heif_image_handle, decltype(&heif_image_handle_release)> handle(raw,
                                                                                         &heif_image_handle_release);
    const heif_color_profile_type type = heif_image_handle_get_color_profile_type(handle.get());
    if (type != heif_color_profile_type_prof && type != heif_color_profile_type_rICC) return;
    std::vector<uint8_t> profile(heif_image_handle_get_raw_color_profile_size(handle.get()));
    if (profile.empty() ||
        heif_image_handle_get_raw_color_profile(handle.get(), profile.data()).code != heif_error_Ok)
        return;
    spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
}

}  // namespace lumarex_cli
