// SPDX-License-Identifier: MIT
// `lumarex correct`: analyse once, then correct the whole photo or a region
// of it, in 8 or 16 bits.
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "batch.h"
#include "commands.h"
#include "common_options.h"
#include "image_file.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "options.h"

namespace lumarex_cli {
namespace {

struct Region {
    bool on = false;
    int x = 0, y = 0, w = 0, h = 0;
};

// The settings of the parameter-driven correction, with defaults chosen on
// the bundled samples.
struct CorrectSettings : CastAndLift {
    float blackClip = 0.3f;    // percent of all samples; 0 = off
    int target = 1;            // toneLevelRow
    Finishing finish;
    int denoise = -1;          // noise preset, -1 off
    int denoiseLuma = 0;       // noiseAdjustA
    int denoiseColour = 0;     // noiseAdjustB
    int noiseLevel = -1;       // noiseLevelOverride, -1 measured
    Region region;
};

struct BlobDeleter {
    void operator()(ImageBlob* b) const { FreeImageBlob(b); }
};
struct ParamDeleter {
    void operator()(ImageParam* p) const { FreeImageParam(p); }
};

// Progress of the analysis (steps 1..6) and of the correction (7..12).
struct ProgressContext {
    const FileProgress* file;
    int offset;
};
int32_t OnProgress(int32_t step, int32_t total, void* context) {
    const auto* c = static_cast<const ProgressContext*>(context);
    return c->file->Report(c->offset + step, 2 * total) ? 1 : 0;
}

// The region as a picture of its own, with the source's metadata.
Picture Crop(const Picture& p, const Region& r) {
    Picture c = p;
    c.width = r.w, c.height = r.h;
    c.rgb8.clear(), c.rgb16.clear(), c.alpha.clear();
    for (int y = r.y; y < r.y + r.h; ++y) {
        const size_t from = (size_t(y) * p.width + r.x) * 3, n = size_t(r.w) * 3;
        if (p.bits == 16) c.rgb16.insert(c.rgb16.end(), p.rgb16.begin() + from, p.rgb16.begin() + from + n);
        else c.rgb8.insert(c.rgb8.end(), p.rgb8.begin() + from, p.rgb8.begin() + from + n);
        if (p.hasAlpha) {
            const size_t a = size_t(y) * p.width + r.x;
            c.alpha.insert(c.alpha.end(), p.alpha.begin() + a, p.alpha.begin() + a + r.w);
        }
    }
    return c;
}

bool CorrectOne(const CorrectSettings& s, const OutputChoice& choice, const std::string& in, const std::string& out,
                std::string& error, std::string& summary, const FileProgress& progress) {
    Picture pic;
    std::string note;
    if (!ReadPicture(in, /*want16=*/true, pic, error, note)) return false;
    const Region& r = s.region;
    if (r.on && (int64_t{r.x} + r.w > pic.width || int64_t{r.y} + r.h > pic.height)) {
        error = "the region " + std::to_string(r.x) + "," + std::to_string(r.y) + "," + std::to_string(r.w) + "," +
                std::to_string(r.h) + " leaves the " + std::to_string(pic.width) + "x" + std::to_string(pic.height) +
                " photo";
        return false;
    }
    ImageDesc source = DescribeRgb(pic);
    std::unique_ptr<ImageBlob, BlobDeleter> blob(AllocImageBlob(&source));
    if (!blob) {
        error = "not enough memory for the working copy";
        return false;
    }
    ProgressContext analysis{&progress, 0}, correction{&progress, 6};
    std::unique_ptr<ImageParam, ParamDeleter> param(CalcImageBlobParam(blob.get(), OnProgress, &analysis));
    if (!param) {
        error = g_stopRequested ? "stopped" : "the analysis ran out of memory";
        return false;
    }

    Picture before = r.on ? Crop(pic, r) : (choice.compare ? pic : Picture());
    Picture result = r.on ? before : std::move(pic);
    ImageDesc d = DescribeRgb(result);
    const Finishing& f = s.finish;
    int32_t strength = s.brighten;
    const int clip = int(std::lround(s.blackClip * 10.0f)) - 1;  // percentile index, 0.1 % steps
    const float amount = float(100 - s.localDepth) / 100.0f;
    const int wide = result.bits == 16;
    int32_t ok;
    if (r.on) {
        ok = ApplyImageBlobParamLocal(&d, blob.get(), param.get(), 0, 0, 1.0f, r.x, r.y, r.w, r.h, s.cast,
                                      s.castMethod, s.castStrength, clip >= 0, std::max(clip, 0), s.autoBrighten,
                                      s.target, s.maxBrighten, &strength, s.localContrast, amount, s.curve,
                                      s.shadowFloor, f.colour, f.colourAmount, f.sharpen > 0.0f, f.sharpen,
                                      f.warmTone > 0.0f, 0, f.warmTone, f.look >= 0, std::max(f.look, 0), f.flatten,
                                      s.denoise >= 0, std::max(s.denoise, 0), s.denoiseLuma, s.denoiseColour,
                                      s.noiseLevel, -1, 0, OnProgress, &correction) == 1;
    } else {
        ok = ApplyImageBlobParam(&d, blob.get(), param.get(), 0, 0, 1.0f, s.cast, s.castMethod, s.castStrength,
                                 clip >= 0, std::max(clip, 0), s.autoBrighten, s.target, s.maxBrighten, &strength,
                                 s.localContrast, amount, s.curve, s.shadowFloor, f.colour, f.colourAmount,
                                 f.sharpen > 0.0f, f.sharpen, f.warmTone > 0.0f, 0, f.warmTone, f.look >= 0,
                                 std::max(f.look, 0), f.flatten, s.denoise >= 0, std::max(s.denoise, 0),
                                 s.denoiseLuma, s.denoiseColour, s.noiseLevel, -1, 0, OnProgress, &correction) == 0;
    }
    if (!ok) {
        error = g_stopRequested ? "stopped"
                                : (s.denoise >= 0 ? "the correction failed (out of memory, or the noise library "
                                                    "is missing or refused the photo)"
                                                  : "the correction ran out of memory");
        return false;
    }
    if (!WriteResult(out, before, result, choice, error)) return false;
    summary = "brightened " + std::to_string(strength) + " %" + (wide ? ", 16-bit" : "");
    if (!note.empty()) summary += " (" + note + ")";
    return true;
}

Option RegionOption(Region& r) {
    Option o{"--region", "X,Y,W,H",
             "Correct only this rectangle of the photo (left, top, width, height in pixels) and write it as the "
             "output, with the whole photo's analysis: the crop looks as it would in the corrected whole.",
             nullptr, ""};
    o.set = [&r](const std::string& v) -> std::string {
        int x, y, w, h;
        char tail;
        if (std::sscanf(v.c_str(), "%d,%d,%d,%d%c", &x, &y, &w, &h, &tail) != 4 || x < 0 || y < 0 || w < 1 || h < 1)
            return "expects X,Y,W,H with X, Y >= 0 and W, H >= 1, got '" + v + "'";
        r = Region{true, x, y, w, h};
        return {};
    };
    return o;
}

}  // namespace

int RunCorrect(int argc, char** argv, int first) {
    CorrectSettings s;
    OutputChoice choice;
    std::vector<Option> options = OutputOptions(choice);
    Append(options, {RegionOption(s.region)});
    Append(options, CastOptions(s));
    Append(options, LiftOptions(s));
    Append(options, {
        FloatOption("--black-clip", "PERCENT", &s.blackClip, 0.0f, 5.0f,
                    "Share of the darkest samples set to pure black, from 0.1 to 5 percent in steps of 0.1; 0 "
                    "keeps every shadow detail."),
        IntOption("--target", "0..2", &s.target, 0, 2,
                  "With --brighten auto: how bright the mid-tones aim to be: 0, 1 or 2 for about 55, 60 or "
                  "65 % grey."),
        IntOption("--denoise", "-1..4", &s.denoise, -1, 4,
                  "Remove noise before correcting: -1 off, 0 gentlest to 4 strongest."),
        IntOption("--denoise-luma", "-100..100", &s.denoiseLuma, -100, 100,
                  "With --denoise: more (positive) or less (negative) smoothing of brightness noise."),
        IntOption("--denoise-colour", "-20..20", &s.denoiseColour, -20, 20,
                  "With --denoise: more or less smoothing of colour noise."),
        IntOption("--noise-level", "-1..10", &s.noiseLevel, -1, 10,
                  "With --denoise: the noise level to assume; -1 lets the preset decide."),
    });
    Append(options, FinishingOptions(s.finish));
    ParsedArgs args = ParseArgs(argc, argv, first, options, {{"-o", "--output"}, {"-d", "--dir"}, {"-j", "--jobs"}});
    if (args.help) {
        PrintHelp("usage: lumarex correct PHOTO... (-o OUT | -d FOLDER) [options]",
                  "Analyses each photo once, then corrects it: black offset and colour cast removed, levels "
                  "stretched, shadows and mid-tones brightened with local contrast kept, and on request noise "
                  "removed, sharpened and finished. 16-bit PNG and TIFF stay 16-bit; metadata is kept. With "
                  "--region only a crop is corrected and written. Ctrl-C stops without leaving partial files.",
                  options);
        return 0;
    }
    std::string error = args.error;
    if (error.empty()) CheckOutputs(args.positional, choice, error);
    if (!error.empty()) {
        std::fprintf(stderr, "lumarex correct: %s\n", error.c_str());
        return 2;
    }
    SetFilterRecord(LxHeapHostRecord());
    InstallStopHandler();
    return RunBatch(args.positional, choice,
                    [&](const std::string& in, const std::string& out, std::string& err, std::string& summary,
                        const FileProgress& p) { return CorrectOne(s, choice, in, out, err, summary, p); });
}

}  // namespace lumarex_cli
