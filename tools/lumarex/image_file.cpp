// SPDX-License-Identifier: MIT
#include "image_file.h"

#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <set>
#include <system_error>

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

std::mutex g_pendingMutex;
std::set<std::string> g_pending;  // temporary files being written

std::string Lower(std::string s) {
    for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

std::string Extension(const std::string& path) { return Lower(fs::path(path).extension().string()); }

// OIIO's messages may span lines; the command prints one line per problem.
std::string OneLine(std::string s) {
    for (char& c : s)
        if (c == '\n' || c == '\r') c = ' ';
    while (!s.empty() && s.back() == ' ') s.pop_back();
    return s.empty() ? std::string("unknown error") : s;
}

}  // namespace

bool IsSupportedOutput(const std::string& path) {
    const std::string e = Extension(path);
    return e == ".png" || e == ".jpg" || e == ".jpeg" || e == ".tif" || e == ".tiff";
}

ImageDesc DescribeRgb(Picture& pic) {
    const int bytes = pic.bits == 16 ? 2 : 1;
    uint8_t* base = bytes == 2 ? reinterpret_cast<uint8_t*>(pic.rgb16.data()) : pic.rgb8.data();
    return ImageDesc{bytes == 2 ? 1 : 0, pic.width, pic.height, pic.width * 3 * bytes, 3 * bytes,
                     base, base + bytes, base + 2 * bytes};
}

bool ReadPicture(const std::string& path, bool want16, Picture& out, std::string& error, std::string& note) {
    std::error_code ec;
    if (!fs::exists(path, ec)) {
        error = "no such file";
        return false;
    }
    if (fs::is_directory(path, ec)) {
        error = "is a folder, not an image file";
        return false;
    }
    auto in = OIIO::ImageInput::open(path);
    if (!in) {
        error = "not a readable image file (" + OneLine(OIIO::geterror()) + ")";
        return false;
    }
    const OIIO::ImageSpec& spec = in->spec();
    const int nc = spec.nchannels;
    const int alphaIndex = spec.alpha_channel >= 0 ? spec.alpha_channel : (nc == 2 || nc == 4 ? nc - 1 : -1);
    const int colour = nc - (alphaIndex >= 0 ? 1 : 0);
    if (!(colour == 1 || colour == 3) || (alphaIndex >= 0 && alphaIndex != nc - 1)) {
        error = "unsupported: " + std::to_string(nc) + " channels (RGB or grey, with or without alpha, are supported)";
        return false;
    }
    if (spec.width <= 0 || spec.height <= 0 || int64_t(spec.width) * spec.height > (int64_t(1) << 31) / 8) {
        error = "unsupported size " + std::to_string(spec.width) + "x" + std::to_string(spec.height);
        return false;
    }
    const bool isFloat = spec.format.is_floating_point();
    out = Picture{};
    out.width = spec.width;
    out.height = spec.height;
    const int fileBits = int(spec.format.size()) * 8;
    out.grey = colour == 1;
    out.hasAlpha = alphaIndex >= 0;
    out.spec = spec;
    out.bits = (want16 && fileBits > 8) ? 16 : 8;
    if (!want16 && fileBits > 8) note = "16-bit samples reduced to 8 bits";
    if (isFloat) note = "floating-point samples clipped to 0..1";

    const size_t n = size_t(out.width) * out.height;
    std::vector<uint16_t> all(n * nc);
    if (!in->read_image(0, 0, 0, nc, OIIO::TypeDesc::UINT16, all.data()) || in->has_error()) {
        error = "corrupt or truncated image data (" + OneLine(in->geterror()) + ")";
        return false;
    }
    in->close();

    std::vector<uint16_t> rgb(n * 3);
    for (size_t i = 0; i < n; ++i) {
        const uint16_t* p = &all[i * nc];
        for (int c = 0; c < 3; ++c) rgb[i * 3 + c] = out.grey ? p[0] : p[c];
        if (out.hasAlpha) out.alpha.push_back(p[nc - 1]);
    }
    if (out.bits == 16) {
        out.rgb16 = std::move(rgb);
    } else {
        // 16-bit full range to 8 bits, rounded; exact for 8-bit files (v * 257).
        out.rgb8.resize(rgb.size());
        for (size_t i = 0; i < rgb.size(); ++i) out.rgb8[i] = uint8_t((uint32_t(rgb[i]) * 255 + 32767) / 65535);
    }
    return true;
}

namespace {

// Interleaved output samples in the file's channel layout, 16-bit scale.
std::vector<uint16_t> FileSamples(const Picture& pic, int& nc) {
    const size_t n = size_t(pic.width) * pic.height;
    nc = (pic.grey ? 1 : 3) + (pic.hasAlpha ? 1 : 0);
    std::vector<uint16_t> s(n * nc);
    for (size_t i = 0; i < n; ++i) {
        uint16_t rgb[3];
        for (int c = 0; c < 3; ++c)
            rgb[c] = pic.bits == 16 ? pic.rgb16[i * 3 + c] : uint16_t(pic.rgb8[i * 3 + c] * 257);
        uint16_t* q = &s[i * nc];
        if (pic.grey) {
            // The correction keeps greys grey up to a level or two; average back.
            q[0] = uint16_t((uint32_t(rgb[0]) + rgb[1] + rgb[2] + 1) / 3);
        } else {
            q[0] = rgb[0], q[1] = rgb[1], q[2] = rgb[2];
        }
        if (pic.hasAlpha) q[nc - 1] = pic.alpha[i];
    }
    return s;
}

std::string TemporaryPath(const std::string& path) {
    const fs::path p(path);
    std::string name(1, '.');  // hidden while it is being written
    name += p.stem().string();
    name += ".lumarex-";
    name += std::to_string(::getpid());
    name += p.extension().string();
    return (p.parent_path() / name).string();
}

}  // namespace

bool WritePicture(const std::string& path, const Picture& pic, int jpegQuality, std::string& error) {
    if (!IsSupportedOutput(path)) {
        error = "unsupported output format '" + Extension(path) + "' (use .png, .jpg or .tif)";
        return false;
    }
    const std::string ext = Extension(path);
    const bool jpeg = ext == ".jpg" || ext == ".jpeg";
    int nc = 0;
    const std::vector<uint16_t> samples = FileSamples(pic, nc);

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
    if (pic.hasAlpha) spec.channelnames.push_back("A");
    spec.alpha_channel = pic.hasAlpha ? nc - 1 : -1;
    // JPEG stores 8 bits; PNG and TIFF keep the picture's depth.
    spec.set_format(pic.bits == 16 && !jpeg ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    spec.erase_attribute("oiio:BitsPerSample");
    spec.erase_attribute("Compression");
    spec.erase_attribute("jpeg:subsampling");
    spec.erase_attribute("tiff:RowsPerStrip");
    if (jpeg) spec.attribute("Compression", "jpeg:" + std::to_string(std::clamp(jpegQuality, 1, 100)));
    else if (ext != ".png") spec.attribute("Compression", "zip");

    const std::string tmp = TemporaryPath(path);
    {
        std::lock_guard<std::mutex> lock(g_pendingMutex);
        g_pending.insert(tmp);
    }
    auto forget = [&] {
        std::lock_guard<std::mutex> lock(g_pendingMutex);
        g_pending.erase(tmp);
    };
    std::error_code ec;
    auto o = OIIO::ImageOutput::create(tmp);
    bool ok = o && o->open(tmp, spec) && o->write_image(OIIO::TypeDesc::UINT16, samples.data()) && o->close();
    if (!ok) {
        error = "cannot write: " + OneLine(o ? o->geterror() : OIIO::geterror());
        o.reset();
        fs::remove(tmp, ec);
        forget();
        return false;
    }
    o.reset();
    fs::rename(tmp, path, ec);
    if (ec) {
        error = "cannot write: " + ec.message();
        fs::remove(tmp, ec);
        forget();
        return false;
    }
    forget();
    return true;
}

bool WriteSideBySide(const std::string& path, const Picture& before, const Picture& after, int maxWidth,
                     std::string& error) {
    const int gap = 8;
    int f = 1;
    while ((2 * before.width + gap * f) / f > maxWidth) ++f;
    const int w = before.width / f, h = before.height / f;
    Picture pic;
    pic.width = 2 * w + gap;
    pic.height = h;
    pic.bits = 8;
    pic.rgb8.assign(size_t(pic.width) * h * 3, 255);
    auto sample = [](const Picture& p, size_t i) -> uint32_t {
        return p.bits == 16 ? uint32_t(p.rgb16[i]) : uint32_t(p.rgb8[i]) * 257u;
    };
    for (int side = 0; side < 2; ++side) {
        const Picture& src = side == 0 ? before : after;
        const int x0 = side == 0 ? 0 : w + gap;
        for (int y = 0; y < h; ++y)
            for (int x = 0; x < w; ++x)
                for (int c = 0; c < 3; ++c) {
                    uint64_t sum = 0;
                    for (int j = 0; j < f; ++j)
                        for (int i = 0; i < f; ++i)
                            sum += sample(src, (size_t(y * f + j) * src.width + (x * f + i)) * 3 + c);
                    const uint32_t v16 = uint32_t(sum / (uint64_t(f) * f));
                    pic.rgb8[(size_t(y) * pic.width + x0 + x) * 3 + c] = uint8_t((v16 * 255 + 32767) / 65535);
                }
    }
    return WritePicture(path, pic, 90, error);
}

void RemovePendingTemporaries() {
    std::lock_guard<std::mutex> lock(g_pendingMutex);
    std::error_code ec;
    for (const auto& p : g_pending) fs::remove(p, ec);
    g_pending.clear();
}

}  // namespace lumarex_cli
