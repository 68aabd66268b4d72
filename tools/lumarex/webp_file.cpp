// SPDX-License-Identifier: MIT
#include "webp_file.h"

#include <OpenImageIO/tiffutils.h>
#include <webp/decode.h>
#include <webp/demux.h>
#include <webp/encode.h>
#include <webp/mux.h>

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <fstream>
#include <iterator>
#include <memory>
#include <vector>

#include "xmp_packet.h"

namespace lumarex_cli {
namespace {

// The picture as interleaved 8-bit RGB or RGBA, rounded from the 16-bit scale.
std::vector<uint8_t> Samples8(const Picture& pic, bool alpha) {
    const size_t n = size_t(pic.width) * size_t(pic.height), nc = alpha ? 4 : 3;
    std::vector<uint8_t> out(n * nc);
    for (size_t i = 0; i < n; ++i) {
        for (size_t c = 0; c < 3; ++c) out[i * nc + c] = To8(Sample16(pic, i * 3 + c));
        if (alpha) out[i * nc + 3] = To8(pic.alpha[i]);
    }
    return out;
}

bool Encode(const Picture& pic, bool alpha, int quality, std::vector<uint8_t>& out) {
    WebPConfig config;
    WebPPicture picture;
    if (!WebPConfigInit(&config) || !WebPPictureInit(&picture)) return false;
    config.quality = float(std::clamp(quality, 1, 100));
    config.exact = 1;  // keep the colour under transparent pixels
    picture.use_argb = 1;
    picture.width = pic.width;
    picture.height = pic.height;
    const std::vector<uint8_t> samples = Samples8(pic, alpha);
    const int stride = pic.width * (alpha ? 4 : 3);
    WebPMemoryWriter memory;
    WebPMemoryWriterInit(&memory);
    picture.writer = WebPMemoryWrite;
    picture.custom_ptr = &memory;
    const bool ok = (alpha ? WebPPictureImportRGBA(&picture, samples.data(), stride)
                           : WebPPictureImportRGB(&picture, samples.data(), stride)) &&
                    WebPEncode(&config, &picture);
    if (ok) out.assign(memory.mem, memory.mem + memory.size);
    WebPPictureFree(&picture);
    WebPMemoryWriterClear(&memory);
    return ok;
}

// The encoded picture with the EXIF block, the colour profile and the XMP
// packet added as the container's EXIF, ICCP and "XMP " chunks.
bool WithMetadata(const std::vector<uint8_t>& encoded, const OIIO::ImageSpec& meta, const std::string& xmp,
                  std::vector<uint8_t>& out) {
    std::vector<char> exif;
    OIIO::encode_exif(meta, exif, OIIO::endian::little);
    const OIIO::ParamValue* icc = meta.find_attribute("ICCProfile");
    const WebPData image{encoded.data(), encoded.size()};
    const std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxCreate(&image, 0), &WebPMuxDelete);
    if (!mux) return false;
    bool ok = true;
    // A TIFF header and an empty directory take 14 bytes: nothing to keep.
    if (exif.size() > 14) {
        const WebPData d{reinterpret_cast<const uint8_t*>(exif.data()), exif.size()};
        ok = WebPMuxSetChunk(mux.get(), "EXIF", &d, 1) == WEBP_MUX_OK;
    }
    if (ok && icc != nullptr && icc->type().size() > 0) {
        const WebPData d{static_cast<const uint8_t*>(icc->data()), icc->type().size()};
        ok = WebPMuxSetChunk(mux.get(), "ICCP", &d, 1) == WEBP_MUX_OK;
    }
    if (ok && !xmp.empty()) {
        const WebPData d{reinterpret_cast<const uint8_t*>(xmp.data()), xmp.size()};
        ok = WebPMuxSetChunk(mux.get(), "XMP ", &d, 1) == WEBP_MUX_OK;
    }
    WebPData assembled{};
    ok = ok && WebPMuxAssemble(mux.get(), &assembled) == WEBP_MUX_OK;
    if (ok) out.assign(assembled.bytes, assembled.bytes + assembled.size);
    WebPDataClear(&assembled);
    return ok;
}

}  // namespace

bool WriteWebp(const Picture& pic, bool withAlpha, const OIIO::ImageSpec& meta, const std::string& xmp, int quality,
               OIIO::Filesystem::IOProxy& sink, std::string& error) {
    std::vector<uint8_t> encoded, whole;
    if (pic.width > WEBP_MAX_DIMENSION || pic.height > WEBP_MAX_DIMENSION) {
        error = "WebP holds at most " + std::to_string(WEBP_MAX_DIMENSION) + " pixels a side";
        return false;
    }
    if (!Encode(pic, withAlpha, quality, encoded)) {
        error = "the WebP encoder failed";
        return false;
    }
    if (!WithMetadata(encoded, meta, xmp, whole)) {
        error = "the WebP container refused the EXIF, the colour profile or the XMP";
        return false;
    }
    sink.write(whole.data(), whole.size());  // a failed write is kept for the output file's commit
    return true;
}

bool IsWebpFile(const std::string& path) {
    char head[12] = {};
    std::ifstream file(path, std::ios::binary);
    return file.read(head, sizeof head) && std::memcmp(head, "RIFF", 4) == 0 && std::memcmp(head + 8, "WEBP", 4) == 0;
}

bool ReadWebpHeader(const std::string& path, WebpHeader& header) {
    std::ifstream file(path, std::ios::binary | std::ios::ate);
    if (!file) return false;
    const std::streamoff size = file.tellg();
    if (size <= 0) return false;
    // The size, alpha and animation are in the first chunk's header: a
    // still picture's first thirty bytes, an extended file's VP8X chunk.
    std::vector<uint8_t> head(size_t(std::min<std::streamoff>(size, 4096)));
    file.seekg(0);
    if (!file.read(reinterpret_cast<char*>(head.data()), std::streamsize(head.size()))) return false;
    WebPBitstreamFeatures features;
    if (WebPGetFeatures(head.data(), head.size(), &features) != VP8_STATUS_OK || features.width <= 0 ||
        features.height <= 0)
        return false;
    header.width = features.width;
    header.height = features.height;
    header.alpha = features.has_alpha != 0;
    header.animation = features.has_animation != 0;
    header.fileBytes = uint64_t(size);
    return true;
}

std::vector<uint8_t> ReadWebpFile(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(file)), std::istreambuf_iterator<char>());
    if (!file.eof() && file.fail()) bytes.clear();
    return bytes;
}

namespace {

// An animation's first frame, as it shows on the canvas (RGBA, not
// multiplied by alpha), into `into`: `channels` samples a pixel.
bool DecodeFirstFrame(const std::vector<uint8_t>& bytes, int width, int height, int channels, uint8_t* into) {
    WebPAnimDecoderOptions options;
    if (!WebPAnimDecoderOptionsInit(&options)) return false;
    options.color_mode = MODE_RGBA;
    options.use_threads = 0;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPAnimDecoder, decltype(&WebPAnimDecoderDelete)> decoder(
        WebPAnimDecoderNew(&data, &options), &WebPAnimDecoderDelete);
    WebPAnimInfo info;
    if (!decoder || !WebPAnimDecoderGetInfo(decoder.get(), &info) || info.canvas_width != uint32_t(width) ||
        info.canvas_height != uint32_t(height))
        return false;
    uint8_t* canvas = nullptr;
    int timestamp = 0;
    if (!WebPAnimDecoderGetNext(decoder.get(), &canvas, &timestamp) || canvas == nullptr) return false;
    const size_t n = size_t(width) * size_t(height);
    if (channels == 4) {
        std::copy_n(canvas, n * 4, into);
    } else {
        for (size_t i = 0; i < n; ++i) std::copy_n(canvas + i * 4, 3, into + i * 3);
    }
    return true;
}

}  // namespace

bool DecodeWebp(const std::vector<uint8_t>& bytes, int width, int height, int channels, bool deep, void* samples) {
    if (channels != 3 && channels != 4) return false;
    WebPBitstreamFeatures features;
    if (bytes.empty() || WebPGetFeatures(bytes.data(), bytes.size(), &features) != VP8_STATUS_OK ||
        features.width != width || features.height != height)
        return false;
    const size_t stride = size_t(width) * size_t(channels), size = stride * size_t(height);
    // 8-bit samples straight into place; 16-bit ones through a copy.
    std::vector<uint8_t> copy(deep ? size : 0);
    uint8_t* into = deep ? copy.data() : static_cast<uint8_t*>(samples);
    bool ok;
    if (features.has_animation)
        ok = DecodeFirstFrame(bytes, width, height, channels, into);
    else
        ok = (channels == 4 ? WebPDecodeRGBAInto(bytes.data(), bytes.size(), into, size, int(stride))
                            : WebPDecodeRGBInto(bytes.data(), bytes.size(), into, size, int(stride))) != nullptr;
    if (!ok) return false;
    if (deep) {
        auto* wide = static_cast<uint16_t*>(samples);
        for (size_t i = 0; i < size; ++i) wide[i] = uint16_t(copy[i] * 257u);
    }
    return true;
}

bool ReadWebpMetadata(const std::vector<uint8_t>& bytes, OIIO::ImageSpec& spec, std::string& xmp) {
    // The chunks sit in the container's first bytes or after the picture.
    xmp.clear();
    if (bytes.empty()) return false;
    const WebPData data{bytes.data(), bytes.size()};
    const std::unique_ptr<WebPMux, decltype(&WebPMuxDelete)> mux(WebPMuxCreate(&data, 0), &WebPMuxDelete);
    if (!mux) return false;
    WebPData chunk;
    bool adobeRgb = false;
    if (WebPMuxGetChunk(mux.get(), "EXIF", &chunk) == WEBP_MUX_OK && chunk.size > 0) {
        adobeRgb = DecodeExif(chunk.bytes, chunk.size, spec);
    }
    if (WebPMuxGetChunk(mux.get(), "ICCP", &chunk) == WEBP_MUX_OK && chunk.size > 0)
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(chunk.size)), chunk.bytes);
    if (WebPMuxGetChunk(mux.get(), "XMP ", &chunk) == WEBP_MUX_OK && chunk.size > 0 && chunk.size <= kLargestPacket)
        xmp.assign(reinterpret_cast<const char*>(chunk.bytes), chunk.size);
    return adobeRgb;
}

}  // namespace lumarex_cli
