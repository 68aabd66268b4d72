// SPDX-License-Identifier: MIT
// The command's file loading on fuzzed PNG, JPEG, TIFF, camera raw (DNG) and
// HEIC bytes: the bytes
// are written to a file of the chosen format's extension and read the way
// `lumarex` reads its inputs (BudgetedPhoto: the header's size checked
// against the pixel-count limit and the memory budget before any pixel
// memory is taken, then PhotoReader). Every file must give either a picture
// that matches its description or an error text, never a crash.
//
// The limit is 0.5 megapixels instead of the command's 200, so that a run
// stays fast; OpenImageIO tries only the reader the extension names (the
// command's own readers of other formats are not this harness's concern)
// and works on the calling thread.
#include <OpenImageIO/imageio.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <system_error>
#include <unistd.h>
#include <vector>

#include "batch.h"
#include "image_file.h"
#include "memory_budget.h"
#include "support/dng_file.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

namespace fs = std::filesystem;
using namespace lumarex_cli;

struct FileInput {
    uint8_t format = 0;  // modulo 5: .png, .jpg, .tif, .dng, .heic
    uint8_t want16 = 0;  // odd: keep deep files at 16 bits
    uint8_t work = 0;    // modulo 3: one pass, analyse and apply, analyse only
};

template <class IO>
void Visit(IO& io, FileInput& f) {
    io(f.format), io(f.want16), io(f.work);
}

constexpr const char* kExtensions[5] = {".png", ".jpg", ".tif", ".dng", ".heic"};
constexpr double kMaxMegapixels = 0.5;

// A folder of this process's own under the temporary folder, removed at exit.
class Scratch {
public:
    Scratch() {
        dir_ = fs::temp_directory_path() / ("lumarex-fuzz-" + std::to_string(getpid()));
        fs::create_directories(dir_);
    }
    ~Scratch() {
        std::error_code ec;
        fs::remove_all(dir_, ec);
    }
    fs::path File(const std::string& name) const { return dir_ / name; }

private:
    fs::path dir_;
};

Scratch& TheScratch() {
    static Scratch scratch;
    return scratch;
}

void OiioOnce() {
    static const bool done = [] {
        OIIO::attribute("threads", 1);
        OIIO::attribute("try_all_readers", 0);
        return true;
    }();
    (void)done;
}

void WriteFile(const fs::path& path, std::span<const uint8_t> bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(bytes.data()), std::streamsize(bytes.size()));
    Check(bool(out), "the harness writes its scratch file");
}

void ExpectPicture(const Picture& pic, bool want16) {
    Check(pic.width > 0 && pic.height > 0, "a picture read has pixels");
    const size_t n = size_t(pic.width) * size_t(pic.height);
    Check(double(n) <= kMaxMegapixels * 1e6, "a picture read is within the pixel-count limit");
    Check(pic.bits == 8 || (pic.bits == 16 && want16), "a picture read is 8-bit, or 16-bit when asked");
    Check(pic.bits == 8 ? pic.rgb8.size() == n * 3 && pic.rgb16.empty() : pic.rgb16.size() == n * 3 && pic.rgb8.empty(),
          "a picture read holds three samples per pixel");
    Check(pic.hasAlpha ? pic.alpha.size() == n : pic.alpha.empty(), "a picture read holds one alpha per pixel");
    const int orientation = pic.spec.get_int_attribute("Orientation", 1);
    Check(orientation < 2 || orientation > 8, "a picture read is upright");
}

// --- seeds --------------------------------------------------------------------

std::vector<uint8_t> ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// A small picture written by OpenImageIO with `spec` (its size and channels
// set here), samples a gradient; the file's bytes.
std::vector<uint8_t> Written(const std::string& ext, OIIO::ImageSpec spec, int w, int h, int nc) {
    spec.width = spec.full_width = w;
    spec.height = spec.full_height = h;
    spec.nchannels = nc;
    spec.default_channel_names();
    if (nc == 2 || nc == 4) spec.alpha_channel = nc - 1;
    std::vector<float> px(size_t(w) * h * nc);
    for (size_t i = 0; i < px.size(); ++i) px[i] = float(i % 251) / 250.0f;
    const fs::path path = TheScratch().File("seed" + ext);
    auto out = OIIO::ImageOutput::create(ext.substr(1));
    Check(out && out->open(path.string(), spec) && out->write_image(OIIO::TypeDesc::FLOAT, px.data()) && out->close(),
          "OpenImageIO writes a seed picture");
    return ReadBytes(path);
}

// Sets the 32-bit value of TIFF tag `tag` in the first directory of a
// little-endian TIFF (as OpenImageIO writes them).
void PatchTiffTag(std::vector<uint8_t>& tiff, uint16_t tag, uint32_t value) {
    auto u16 = [&](size_t at) { return uint32_t(tiff.at(at)) | uint32_t(tiff.at(at + 1)) << 8; };
    auto u32 = [&](size_t at) { return u16(at) | u16(at + 2) << 16; };
    Check(tiff.at(0) == 'I', "the seed TIFF is little-endian");
    const size_t ifd = u32(4);
    for (uint32_t i = 0, n = u16(ifd); i < n; ++i) {
        const size_t entry = ifd + 2 + 12 * i;
        if (u16(entry) != tag) continue;
        const bool shortValue = u16(entry + 2) == 3;
        tiff.at(entry + 8) = uint8_t(value), tiff.at(entry + 9) = uint8_t(value >> 8);
        if (!shortValue) tiff.at(entry + 10) = uint8_t(value >> 16), tiff.at(entry + 11) = uint8_t(value >> 24);
        return;
    }
    Fail("the seed TIFF has the tag to patch");
}

// A small camera raw file: a turned RGGB mosaic of four patches.
std::vector<uint8_t> RawSeed() {
    const fs::path path = TheScratch().File("seed.dng");
    const float daylight[3] = {1, 1, 1}, scene[4][3] = {{0.2f, 0.2f, 0.2f}, {0.6f, 0.1f, 0.1f}, {0.1f, 0.5f, 0.1f},
                                                       {0.1f, 0.1f, 0.6f}};
    Check(lumarex_test::WriteMosaicDng(path.string(), 8, 6, 6, daylight, scene), "libtiff writes the seed DNG");
    return ReadBytes(path);
}

// A small HEIC with alpha and a 16-bit picture's 10 bits, written as the
// command writes it.
std::vector<uint8_t> HeicSeed() {
    Picture pic;
    pic.width = 6, pic.height = 4, pic.bits = 16, pic.hasAlpha = true;
    for (int i = 0; i < pic.width * pic.height; ++i) {
        for (int c = 0; c < 3; ++c) pic.rgb16.push_back(uint16_t(i * 2500 + c * 9000));
        pic.alpha.push_back(uint16_t(65535 - i * 1000));
    }
    const fs::path path = TheScratch().File("seed.heic");
    std::string notes, error;
    Check(WritePicture(path.string(), pic, 80, notes, error, [](float) { return false; }), "the seed HEIC is written");
    return ReadBytes(path);
}

Seed FileSeed(const char* name, FileInput in, const std::vector<uint8_t>& file) { return MakeSeed(name, in, file); }

void Run(const FileInput& f, std::span<const uint8_t> file) {
    OiioOnce();
    const std::filesystem::path path = TheScratch().File(std::string("photo") + kExtensions[f.format % 5]);
    WriteFile(path, file);

    const SizeLimits limits{kMaxMegapixels, 0.25};
    MemoryBudget budget(BudgetBytes(limits));
    const Work work = f.work % 3 == 0 ? Work::kOnePass : f.work % 3 == 1 ? Work::kAnalyseAndApply : Work::kAnalyseOnly;
    const bool want16 = f.want16 % 2 == 1;
    Picture pic;
    std::string notes, error;
    bool ok;
    {
        BudgetedPhoto photo(budget, limits);
        ok = photo.Read(path.string(), work, want16, pic, notes, error, [](float) { return false; });
    }
    if (ok) ExpectPicture(pic, want16);
    else Check(!error.empty(), "a file that cannot be read gets an error text");
}

}  // namespace

std::vector<Seed> Seeds() {
    OiioOnce();
    using OIIO::ImageSpec;
    using OIIO::TypeDesc;
    std::vector<Seed> seeds;
    const ImageSpec u8(TypeDesc::UINT8), u16(TypeDesc::UINT16), f32(TypeDesc::FLOAT);
    seeds.push_back(FileSeed("png_rgb8", {0, 0, 0}, Written(".png", u8, 5, 4, 3)));
    seeds.push_back(FileSeed("png_grey_alpha16", {0, 1, 1}, Written(".png", u16, 4, 3, 2)));
    seeds.push_back(FileSeed("png_rgba8", {0, 0, 2}, Written(".png", u8, 3, 3, 4)));
    ImageSpec turned = u8;
    turned.attribute("Orientation", 6);
    turned.attribute("Compression", "jpeg:90");
    seeds.push_back(FileSeed("jpg_turned", {1, 0, 0}, Written(".jpg", turned, 9, 6, 3)));
    seeds.push_back(FileSeed("jpg_grey", {1, 1, 1}, Written(".jpg", u8, 8, 8, 1)));
    ImageSpec zip16 = u16;
    zip16.attribute("Compression", "zip");
    seeds.push_back(FileSeed("tif_rgb16", {2, 1, 1}, Written(".tif", zip16, 6, 5, 3)));
    ImageSpec premultiplied = u8;  // associated alpha, the TIFF default
    premultiplied.attribute("Orientation", 3);
    seeds.push_back(FileSeed("tif_rgba_premultiplied", {2, 0, 0}, Written(".tif", premultiplied, 4, 4, 4)));
    seeds.push_back(FileSeed("tif_float", {2, 1, 2}, Written(".tif", f32, 3, 2, 3)));
    ImageSpec greyProfile = u8;  // a grey profile on an RGB picture: dropped
    std::vector<uint8_t> icc(132, 0);
    icc[16] = 'G', icc[17] = 'R', icc[18] = 'A', icc[19] = 'Y';
    greyProfile.attribute("ICCProfile", TypeDesc(TypeDesc::UINT8, int(icc.size())), icc.data());
    seeds.push_back(FileSeed("tif_mismatched_profile", {2, 0, 0}, Written(".tif", greyProfile, 4, 3, 3)));
    ImageSpec twoColours = u8;  // two channels, neither alpha
    twoColours.channelnames = {"X", "Y"};
    seeds.push_back(FileSeed("tif_unsupported_channels", {2, 0, 0}, Written(".tif", twoColours, 3, 3, 2)));
    std::vector<uint8_t> huge = Written(".tif", u8, 2, 2, 3);
    PatchTiffTag(huge, 256, 30000);  // ImageWidth
    PatchTiffTag(huge, 257, 30000);  // ImageLength
    seeds.push_back(FileSeed("tif_header_too_large", {2, 0, 0}, huge));
    std::vector<uint8_t> truncated = Written(".jpg", u8, 16, 16, 3);
    truncated.resize(truncated.size() / 2);
    seeds.push_back(FileSeed("jpg_truncated", {1, 0, 0}, truncated));
    seeds.push_back(FileSeed("dng_turned", {3, 1, 1}, RawSeed()));
    seeds.push_back(FileSeed("heic_rgba10", {4, 1, 2}, HeicSeed()));
    return seeds;
}

}  // namespace lx::fuzz

LX_FUZZ_ENTRY(FileInput)
