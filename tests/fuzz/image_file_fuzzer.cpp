// SPDX-License-Identifier: MIT
// The command's file loading on fuzzed PNG, JPEG, TIFF, camera raw (DNG),
// HEIC, WebP and GIF bytes, and on the other picture formats the image
// library reads (BMP, Targa, PNM, SGI, Radiance HDR, OpenEXR, DPX,
// FITS, RLA, JPEG 2000, Photoshop, DDS, Cineon; and Maya IFF and ICO, which
// are refused), written to a file of the format's extension (or of none the
// image library knows, when every reader of photos is tried) and read as
// `lumarex` reads its inputs (BudgetedPhoto: the header's size checked
// against the pixel-count limit and the memory budget before any pixel
// memory is taken, then PhotoReader). Every file must give a picture that
// matches its description or an error text, never a crash.
//
// The limit is 0.5 megapixels instead of the command's 200, so that a run
// stays fast; OpenImageIO tries only the reader the extension names (all
// of them for .dat) and works on the calling thread. WebP is read by the
// command's own reader. A picture read may be written again (PNG, JPEG,
// WebP, TIFF) with the file's own metadata, which the writers encode.
#include <OpenImageIO/imageio.h>

#include <filesystem>
#include <iterator>
#include <fstream>
#include <string>
#include <system_error>
#include <unistd.h>

#include "batch.h"
#include "image_file.h"
#include "memory_budget.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

namespace fs = std::filesystem;
using namespace lumarex_cli;

struct FileInput {
    uint8_t format = 0;  // modulo 23: kExtensions
    uint8_t want16 = 0;  // odd: keep deep files at 16 bits
    uint8_t work = 0;    // modulo 3: one pass, analyse and apply, analyse only; divided by 3,
                         // modulo 5: written again as nothing, .png, .jpg, .webp, .tif
};

template <class IO>
void Visit(IO& io, FileInput& f) {
    io(f.format), io(f.want16), io(f.work);
}

constexpr const char* kExtensions[] = {".png", ".jpg", ".tif", ".dng", ".heic", ".webp", ".gif",
                                       ".bmp", ".tga", ".ppm", ".ico", ".sgi", ".hdr", ".exr",
                                       ".dpx", ".fits", ".iff", ".rla", ".jp2", ".psd", ".dds", ".dat", ".cin"};
constexpr const char* kOutputs[] = {nullptr, ".png", ".jpg", ".webp", ".tif"};
constexpr double kMaxMegapixels = 0.5;

// A file in a folder of this process's own under the temporary folder,
// removed at exit.
fs::path ScratchFile(const std::string& name) {
    static const struct Folder {
        fs::path path = fs::temp_directory_path() / ("lumarex-fuzz-" + std::to_string(getpid()));
        Folder() { fs::create_directories(path); }
        ~Folder() {
            std::error_code ec;
            fs::remove_all(path, ec);
        }
    } folder;
    return folder.path / name;
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

void Run(const FileInput& f, std::span<const uint8_t> file) {
    static const bool oiioSet = OIIO::attribute("threads", 1);
    (void)oiioSet;
    const std::string extension = kExtensions[f.format % std::size(kExtensions)];
    // A name that says nothing of the format: every reader of photos is
    // tried, as the command tries them.
    OIIO::attribute("try_all_readers", extension == ".dat" ? 1 : 0);
    const fs::path path = ScratchFile("photo" + extension);
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
    if (!ok) {
        Check(!error.empty(), "a file that cannot be read gets an error text");
        return;
    }
    ExpectPicture(pic, want16);
    // The picture written again, with whatever metadata the file carried:
    // the writers encode its EXIF and profile themselves.
    const char* output = kOutputs[f.work / 3 % std::size(kOutputs)];
    if (output == nullptr) return;
    const fs::path written = ScratchFile(std::string("written") + output);
    if (WritePicture(written.string(), pic, 90, notes, error, [](float) { return false; })) {
        auto back = OIIO::ImageInput::open(written.string());
        Check(back && back->spec().width == pic.width && back->spec().height == pic.height,
              "a picture written is read back at its size");
    } else {
        Check(!error.empty(), "a picture that cannot be written gets an error text");
    }
    std::error_code ec;
    fs::remove(written, ec);
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(FileInput)
