// SPDX-License-Identifier: MIT
// Quality benchmark of the noise library: the bundled photos with white
// Gaussian noise (deviation 2, 5, 10, 20), brightness-only noise (10) and
// camera-like noise (two levels), denoised by every preset the way the apply
// pipelines call the library. Prints PSNR, SSIM and MP/s per preset as
// Markdown tables, the noise estimate beside the true level, and can export
// the noisy pictures for opencv_reference.py and write before/after crops.
//
// Each preset also runs on the clean photo (no noise added), to show what
// it costs a picture that has none.
//
//   lumarex_noisebench [--side N] [--samples DIR] [--photos PATH]...
//                      [--cases NAME,NAME...] [--draw K] [--export DIR]
//                      [--crop NAME:CASE:X,Y,W,H:FILE.png]...
//
// --samples replaces the bundled photos with a directory's; --photos adds a
// photo file or a directory's photos (repeatable); --cases keeps only the
// named kinds of noise; --draw K takes another draw of the same kinds of
// noise (0, the default, is the draw of the tables in docs/dev/noise.md), so
// that a figure can be checked against the luck of one draw.
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "noise_sim.h"
#include "noiselib17.h"

namespace {

namespace fs = std::filesystem;
using noiselib::sim::Rgb8Image;

constexpr int kPresets = 5;

// Reads the first three channels and box-shrinks by the smallest integer
// factor that brings the longer side to at most `side` (16-bit files are
// rounded to 8 bits first).
bool LoadPhoto(const std::string& path, int side, Rgb8Image& out) {
    auto in = OIIO::ImageInput::open(path);
    if (!in) return false;
    const OIIO::ImageSpec& spec = in->spec();
    const int w = spec.width, h = spec.height, nc = spec.nchannels;
    std::vector<uint16_t> all(std::size_t(w) * h * nc);
    if (!in->read_image(0, 0, 0, nc, OIIO::TypeDesc::UINT16, all.data())) return false;
    int f = 1;
    while ((std::max(w, h) + f - 1) / f > side) ++f;
    out.width = w / f;
    out.height = h / f;
    out.px.resize(std::size_t(out.width) * out.height * 3);
    for (int y = 0; y < out.height; ++y)
        for (int x = 0; x < out.width; ++x)
            for (int c = 0; c < 3; ++c) {
                uint64_t sum = 0;
                for (int j = 0; j < f; ++j)
                    for (int i = 0; i < f; ++i)
                        sum += all[(std::size_t(y * f + j) * w + (x * f + i)) * nc + std::min(c, nc - 1)];
                const uint64_t v = sum / (uint64_t(f) * f);
                out.px[(std::size_t(y) * out.width + x) * 3 + c] = uint8_t((v * 255 + 32767) / 65535);
            }
    return true;
}

bool WritePng(const std::string& path, const Rgb8Image& img) {
    auto out = OIIO::ImageOutput::create(path);
    if (!out) return false;
    OIIO::ImageSpec spec(img.width, img.height, 3, OIIO::TypeDesc::UINT8);
    return out->open(path, spec) && out->write_image(OIIO::TypeDesc::UINT8, img.px.data()) && out->close();
}

struct Case {
    const char* name;
    const char* what;
    Rgb8Image (*make)(const Rgb8Image&, uint64_t);
};

Rgb8Image Camera(const Rgb8Image& clean, double sigma, int quality, uint64_t seed) {
    noiselib::sim::CameraNoise n;
    n.lumaSigma = sigma;
    n.jpegQuality = quality;
    n.seed = seed;
    Rgb8Image out;
    std::string error;
    if (!noiselib::sim::AddCameraNoise(clean, n, out, error)) {
        std::fprintf(stderr, "noisebench: %s\n", error.c_str());
        std::exit(1);
    }
    return out;
}

const Case kCases[] = {
    {"white2", "white Gaussian, deviation 2",
     [](const Rgb8Image& c, uint64_t s) { return noiselib::sim::AddWhiteNoise(c, 2.0, s); }},
    {"white5", "white Gaussian, deviation 5",
     [](const Rgb8Image& c, uint64_t s) { return noiselib::sim::AddWhiteNoise(c, 5.0, s); }},
    {"white10", "white Gaussian, deviation 10",
     [](const Rgb8Image& c, uint64_t s) { return noiselib::sim::AddWhiteNoise(c, 10.0, s); }},
    {"white20", "white Gaussian, deviation 20",
     [](const Rgb8Image& c, uint64_t s) { return noiselib::sim::AddWhiteNoise(c, 20.0, s); }},
    {"bright10", "brightness only, deviation 10",
     [](const Rgb8Image& c, uint64_t s) { return noiselib::sim::AddBrightnessNoise(c, 10.0, s); }},
    {"camera6", "camera-like, luma 6, JPEG 90", [](const Rgb8Image& c, uint64_t s) { return Camera(c, 6.0, 90, s); }},
    {"camera12", "camera-like, luma 12, JPEG 85",
     [](const Rgb8Image& c, uint64_t s) { return Camera(c, 12.0, 85, s); }},
};

// The block as the apply pipelines prepare it for a preset (no adjustments,
// no level override).
NoiseParamBlock PipelineBlock(int32_t preset) {
    NoiseParamBlock b{};
    b.word0 = -1;
    FillNoiseParamsFromPreset(&b, preset);
    b.word16 = 0;
    if (preset < 3) b.level = 3;
    return b;
}

double Denoise(Rgb8Image& img, int32_t preset, int32_t level = -1) {
    NoiseParamBlock b = PipelineBlock(preset);
    if (level >= 0) b.level = level;
    const auto t0 = std::chrono::steady_clock::now();
    const int32_t r = RemoveNoiseBufPreset(img.px.data(), img.width, img.height, img.width * 3, 0, 0, 0, 1, &b,
                                           preset, 0, 0);
    const auto t1 = std::chrono::steady_clock::now();
    if (r != NOISELIB_OK) {
        std::fprintf(stderr, "noisebench: RemoveNoiseBufPreset failed\n");
        std::exit(1);
    }
    return std::chrono::duration<double>(t1 - t0).count();
}

double EstimatedLuma(Rgb8Image img) {
    NoiseParamBlock b = PipelineBlock(2);
    RemoveNoiseBufPreset(img.px.data(), img.width, img.height, img.width * 3, 0, 0, 0, 1, &b, 2, 1, 0);
    return b.reserved20 / 100.0;
}

// Deviation of luma(noisy) - luma(clean) over the pixels whose clean luma is
// within 16..239 (clipping hides noise outside).
double TrueLuma(const Rgb8Image& clean, const Rgb8Image& noisy) {
    double s = 0.0, s2 = 0.0, n = 0.0;
    for (std::size_t i = 0; i < clean.px.size(); i += 3) {
        auto luma = [&](const Rgb8Image& m) {
            return 0.299 * m.px[i] + 0.587 * m.px[i + 1] + 0.114 * m.px[i + 2];
        };
        const double l = luma(clean);
        if (l < 16.0 || l > 239.0) continue;
        const double d = luma(noisy) - l;
        s += d;
        s2 += d * d;
        n += 1.0;
    }
    return n > 0.0 ? std::sqrt(std::max(s2 / n - (s / n) * (s / n), 0.0)) : 0.0;
}

// Deviation of noisy - clean per channel (for the reference denoisers).
double TrueChannel(const Rgb8Image& clean, const Rgb8Image& noisy) {
    double s2 = 0.0;
    for (std::size_t i = 0; i < clean.px.size(); ++i) {
        const double d = double(noisy.px[i]) - double(clean.px[i]);
        s2 += d * d;
    }
    return std::sqrt(s2 / double(clean.px.size()));
}

struct CropRequest {
    std::string photo, kase, file;
    int x = 0, y = 0, w = 0, h = 0;
};

// Side by side: noisy, presets 0, 2 and 4, clean; each tile shown at 2x.
void WriteCrop(const CropRequest& r, const Rgb8Image& clean, const Rgb8Image& noisy) {
    std::vector<Rgb8Image> tiles = {noisy};
    for (int32_t p : {0, 2, 4}) {
        Rgb8Image d = noisy;
        Denoise(d, p);
        tiles.push_back(d);
    }
    tiles.push_back(clean);
    constexpr int kZoom = 2, kGap = 4;
    const int tw = r.w * kZoom;
    Rgb8Image out{int(tiles.size()) * (tw + kGap) - kGap, r.h * kZoom, {}};
    out.px.assign(std::size_t(out.width) * out.height * 3, 255);
    for (std::size_t t = 0; t < tiles.size(); ++t)
        for (int y = 0; y < out.height; ++y)
            for (int x = 0; x < tw; ++x) {
                const int sx = std::min(r.x + x / kZoom, clean.width - 1);
                const int sy = std::min(r.y + y / kZoom, clean.height - 1);
                std::memcpy(&out.px[(std::size_t(y) * out.width + t * (tw + kGap) + x) * 3],
                            &tiles[t].px[(std::size_t(sy) * clean.width + sx) * 3], 3);
            }
    if (!WritePng(r.file, out)) std::fprintf(stderr, "noisebench: cannot write %s\n", r.file.c_str());
}

struct Row {
    std::string photo, kase;
    double noisyPsnr, noisySsim, estimate, truth;
    double psnr[kPresets], ssim[kPresets];
};

}  // namespace

int main(int argc, char** argv) {
    int side = 1200;
    std::string samples = LUMAREX_SAMPLES_DIR, exportDir;
    std::vector<CropRequest> crops;
    std::vector<std::string> extra;
    std::string only;  // comma-separated case names, empty for all
    bool levels = false;
    uint64_t draw = 0;
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto next = [&]() -> std::string {
            if (i + 1 >= argc) {
                std::fprintf(stderr, "noisebench: %s needs a value\n", a.c_str());
                std::exit(2);
            }
            return argv[++i];
        };
        if (a == "--side") side = std::atoi(next().c_str());
        else if (a == "--samples") samples = next();
        else if (a == "--photos") extra.push_back(next());
        else if (a == "--cases") only = "," + next() + ",";
        else if (a == "--export") exportDir = next();
        else if (a == "--levels") levels = true;
        else if (a == "--draw") draw = std::strtoull(next().c_str(), nullptr, 10);
        else if (a == "--crop") {
            // NAME:CASE:X,Y,W,H:FILE
            const std::string v = next();
            CropRequest r;
            char photo[256], kase[64], file[1024];
            if (std::sscanf(v.c_str(), "%255[^:]:%63[^:]:%d,%d,%d,%d:%1023s", photo, kase, &r.x, &r.y, &r.w, &r.h,
                            file) != 7) {
                std::fprintf(stderr, "noisebench: --crop NAME:CASE:X,Y,W,H:FILE\n");
                return 2;
            }
            r.photo = photo;
            r.kase = kase;
            r.file = file;
            crops.push_back(r);
        } else {
            std::fprintf(stderr, "usage: lumarex_noisebench [--side N] [--samples DIR] [--photos PATH]... "
                                 "[--cases NAME,...] [--draw K] [--export DIR] [--levels] "
                                 "[--crop NAME:CASE:X,Y,W,H:FILE.png]...\n");
            return 2;
        }
    }
    NoiseSetFilterRecord(nullptr);

    auto isPhoto = [](const fs::path& f) {
        const std::string ext = f.extension().string();
        return ext == ".jpg" || ext == ".png" || ext == ".tif";
    };
    // The photos of a folder, sorted; false when it cannot be listed.
    auto photosIn = [&](const fs::path& dir, std::vector<fs::path>& into) {
        std::error_code error;
        fs::directory_iterator it(dir, error);
        std::vector<fs::path> found;
        for (; !error && it != fs::directory_iterator(); it.increment(error))
            if (isPhoto(it->path())) found.push_back(it->path());
        if (error) {
            std::fprintf(stderr, "noisebench: cannot list %s: %s\n", dir.string().c_str(), error.message().c_str());
            return false;
        }
        std::sort(found.begin(), found.end());
        into.insert(into.end(), found.begin(), found.end());
        return true;
    };
    std::vector<fs::path> photos;
    if (!photosIn(samples, photos)) return 2;
    for (const std::string& e : extra) {
        if (fs::is_directory(e)) {
            if (!photosIn(e, photos)) return 2;
        } else if (isPhoto(e) && fs::exists(e)) {
            photos.emplace_back(e);
        } else {
            std::fprintf(stderr, "noisebench: %s is neither a photo nor a directory\n", e.c_str());
            return 2;
        }
    }
    auto wanted = [&](const Case& c) {
        return only.empty() || only.find("," + std::string(c.name) + ",") != std::string::npos;
    };
    // Per photo: each preset on the clean photo, PSNR and SSIM against it.
    std::vector<std::string> cleanNames;
    std::vector<std::vector<double>> cleanPsnr, cleanSsim;
    std::vector<double> cleanNoise;  // the estimate's luma reading of the clean photo
    if (photos.empty()) {
        std::fprintf(stderr, "noisebench: no photos (.jpg, .png, .tif) in %s\n", samples.c_str());
        return 2;
    }
    if (!exportDir.empty()) {
        std::error_code error;
        fs::create_directories(exportDir, error);
        if (error) {
            std::fprintf(stderr, "noisebench: cannot create %s: %s\n", exportDir.c_str(), error.message().c_str());
            return 2;
        }
    }
    std::ofstream list;
    if (!exportDir.empty()) list.open(fs::path(exportDir) / "cases.txt");

    std::vector<Row> rows;
    double seconds[kPresets] = {}, megapixels = 0.0;
    // Draw K takes seeds far from every other draw's (each draw uses one
    // seed per photo and kind of noise).
    uint64_t seed = 1 + draw * 1000003;
    for (const fs::path& path : photos) {
        Rgb8Image clean;
        if (!LoadPhoto(path.string(), side, clean)) {
            std::fprintf(stderr, "noisebench: cannot read %s\n", path.string().c_str());
            return 1;
        }
        const std::string name = path.stem().string().substr(0, 3);
        if (!exportDir.empty()) WritePng((fs::path(exportDir) / (name + "_clean.png")).string(), clean);
        cleanNames.push_back(name);
        cleanNoise.push_back(EstimatedLuma(clean));
        cleanPsnr.emplace_back();
        cleanSsim.emplace_back();
        for (int p = 0; p < kPresets; ++p) {
            Rgb8Image d = clean;
            Denoise(d, p);
            cleanPsnr.back().push_back(noiselib::sim::Psnr(clean, d));
            cleanSsim.back().push_back(noiselib::sim::Ssim(clean, d));
        }
        for (const Case& c : kCases) {
            // Every case takes its seed, run or not: the same noise whatever --cases keeps.
            const uint64_t caseSeed = seed++;
            if (!wanted(c)) continue;
            const Rgb8Image noisy = c.make(clean, caseSeed);
            Row row{name, c.name, noiselib::sim::Psnr(clean, noisy), noiselib::sim::Ssim(clean, noisy),
                    EstimatedLuma(noisy), TrueLuma(clean, noisy), {}, {}};
            for (int p = 0; p < kPresets; ++p) {
                Rgb8Image d = noisy;
                seconds[p] += Denoise(d, p);
                row.psnr[p] = noiselib::sim::Psnr(clean, d);
                row.ssim[p] = noiselib::sim::Ssim(clean, d);
            }
            megapixels += clean.width * 1e-6 * clean.height;
            if (levels) {
                std::printf("%s %s levels (preset 2):", name.c_str(), c.name);
                for (int l = 1; l <= 6; ++l) {
                    Rgb8Image d = noisy;
                    Denoise(d, 2, l);
                    std::printf(" %d:%.2f", l, noiselib::sim::Psnr(clean, d));
                }
                std::printf("\n");
            }
            std::fflush(stdout);
            rows.push_back(row);
            if (!exportDir.empty()) {
                const std::string file = name + "_" + c.name + ".png";
                WritePng((fs::path(exportDir) / file).string(), noisy);
                list << name << "_clean.png " << file << " " << c.name << " " << TrueChannel(clean, noisy) << "\n";
            }
            for (const CropRequest& r : crops)
                if (r.photo == name && r.kase == c.name) WriteCrop(r, clean, noisy);
        }
    }

    std::printf("| photo | noise | estimate / true luma | noisy | preset 0 | preset 1 | preset 2 | preset 3 "
                "| preset 4 |\n");
    std::printf("|---|---|---|---|---|---|---|---|---|\n");
    for (const Row& r : rows) {
        std::printf("| %s | %s | %.2f / %.2f | %.2f / %.3f", r.photo.c_str(), r.kase.c_str(), r.estimate, r.truth,
                    r.noisyPsnr, r.noisySsim);
        for (int p = 0; p < kPresets; ++p) std::printf(" | %.2f / %.3f", r.psnr[p], r.ssim[p]);
        std::printf(" |\n");
    }
    // Per kind of noise: the means over the photos.
    std::printf("\n| noise | noisy | preset 0 | preset 1 | preset 2 | preset 3 | preset 4 |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (const Case& c : kCases) {
        double n = 0.0, psnr = 0.0, ssim = 0.0, p[kPresets] = {}, q[kPresets] = {};
        for (const Row& r : rows) {
            if (r.kase != c.name) continue;
            n += 1.0;
            psnr += r.noisyPsnr;
            ssim += r.noisySsim;
            for (int k = 0; k < kPresets; ++k) p[k] += r.psnr[k], q[k] += r.ssim[k];
        }
        if (n == 0.0) continue;
        std::printf("| %s | %.2f / %.3f", c.name, psnr / n, ssim / n);
        for (int k = 0; k < kPresets; ++k) std::printf(" | %.2f / %.3f", p[k] / n, q[k] / n);
        std::printf(" |\n");
    }
    // The clean photos: what each preset does to a picture without added
    // noise, and the estimate's luma reading of it: the photo's own grain or
    // sensor noise (which a preset removes, and its reference keeps), or the
    // texture of its flattest blocks.
    std::printf("\n| clean photo | estimate | preset 0 | preset 1 | preset 2 | preset 3 | preset 4 |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    double cleanMean[2][kPresets] = {};
    for (std::size_t i = 0; i < cleanNames.size(); ++i) {
        std::printf("| %s | %.2f", cleanNames[i].c_str(), cleanNoise[i]);
        for (int p = 0; p < kPresets; ++p) {
            std::printf(" | %.2f / %.3f", cleanPsnr[i][p], cleanSsim[i][p]);
            cleanMean[0][p] += cleanPsnr[i][p] / double(cleanNames.size());
            cleanMean[1][p] += cleanSsim[i][p] / double(cleanNames.size());
        }
        std::printf(" |\n");
    }
    std::printf("| mean |");
    for (int p = 0; p < kPresets; ++p) std::printf(" | %.2f / %.3f", cleanMean[0][p], cleanMean[1][p]);
    std::printf(" |\n");
    if (rows.empty()) return 0;

    std::printf("\n| preset | mean PSNR gain (dB) | least gain (dB) | cases below the input | mean SSIM gain "
                "| least SSIM gain | MP/s |\n");
    std::printf("|---|---|---|---|---|---|---|\n");
    for (int p = 0; p < kPresets; ++p) {
        double sum = 0.0, least = 1e9, ssum = 0.0, sleast = 1e9;
        int below = 0;
        for (const Row& r : rows) {
            sum += r.psnr[p] - r.noisyPsnr;
            least = std::min(least, r.psnr[p] - r.noisyPsnr);
            below += r.psnr[p] < r.noisyPsnr;
            ssum += r.ssim[p] - r.noisySsim;
            sleast = std::min(sleast, r.ssim[p] - r.noisySsim);
        }
        std::printf("| %d | %.2f | %.2f | %d | %.3f | %.3f | %.1f |\n", p, sum / double(rows.size()), least, below,
                    ssum / double(rows.size()), sleast, megapixels / seconds[p]);
    }
    return 0;
}
