// SPDX-License-Identifier: MIT
// `lumarex correct`: analyse once, then correct the whole photo or a region
// of it, in 8 or 16 bits.
#include <cstdio>
#include <memory>
#include <string>

#include "cli.h"
#include "correction.h"
#include "lumarex/lumarex.h"
#include "stop.h"

namespace lumarex_cli {
namespace {

// The library's progress, steps 1..6 of the analysis, then 1..6 of the
// correction, as a share of the file's correction.
struct ProgressContext {
    const FileProgress* file;
    int offset;
};
int32_t OnProgress(int32_t step, int32_t total, void* context) {
    const auto* c = static_cast<const ProgressContext*>(context);
    return (*c->file)(float(c->offset + step) / float(2 * total)) ? 1 : 0;
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

bool ParseRegion(const std::string& text, Region& r) {
    char tail;
    return std::sscanf(text.c_str(), "%d,%d,%d,%d%c", &r.x, &r.y, &r.w, &r.h, &tail) == 4 && r.x >= 0 &&
           r.y >= 0 && r.w >= 1 && r.h >= 1;
}

bool CorrectOne(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
                std::string& error, const FileProgress& progress) {
    if (region && (int64_t{region->x} + region->w > pic.width || int64_t{region->y} + region->h > pic.height)) {
        error = "the region " + std::to_string(region->x) + "," + std::to_string(region->y) + "," +
                std::to_string(region->w) + "," + std::to_string(region->h) + " leaves the " +
                std::to_string(pic.width) + "x" + std::to_string(pic.height) + " photo (as displayed)";
        return false;
    }
    const ImageDesc source = DescribeRgb(pic);
    const BlobOwner blob(AllocImageBlob(&source));
    if (!blob) {
        error = "not enough memory for the working copy";
        return false;
    }
    ProgressContext analysis{&progress, 0}, correction{&progress, 6};
    const ParamOwner param(CalcImageBlobParam(blob.get(), OnProgress, &analysis));
    if (!param) {
        error = StopRequested() ? "stopped" : "the analysis ran out of memory";
        return false;
    }
    if (region) pic = Crop(pic, *region);
    if (before) *before = pic;
    const ImageDesc out = DescribeRgb(pic);
    int32_t strength = 0;
    if (!ApplyCorrection(out, blob.get(), param.get(), s, region, OnProgress, &correction, strength)) {
        error = StopRequested() ? "stopped"
                                : (s.denoise != kNoDenoise ? "the correction failed (out of memory, or the noise "
                                                             "library is missing or refused the photo)"
                                                           : "the correction ran out of memory");
        return false;
    }
    summary = "brightened " + std::to_string(strength) + " %" + (pic.bits == 16 ? ", 16-bit" : "");
    return true;
}

}  // namespace

CLI::App* CorrectCommand::Register(CLI::App& app) {
    CLI::App* sub = AddCorrectingCommand(
        app, "correct",
        "Analyses each photo once, then corrects it: black offset and colour cast removed, levels stretched, "
        "shadows and mid-tones brightened with local contrast kept, and on request noise removed, sharpened "
        "and finished. 16-bit PNG and TIFF stay 16-bit; metadata is kept. With --region only a crop is "
        "corrected and written. Ctrl-C stops without leaving partial files.",
        options);
    sub->add_option("--region", region,
                    "Correct only this rectangle of the photo (left, top, width, height in pixels of the photo "
                    "as displayed) and write it as the output, with the whole photo's analysis: the crop looks "
                    "as it would in the corrected whole.")
        ->option_text("X,Y,W,H")
        ->check(CLI::Validator(
            [](std::string& v) {
                Region r;
                return ParseRegion(v, r) ? std::string()
                                         : "expects X,Y,W,H with X, Y >= 0 and W, H >= 1, got '" + v + "'";
            },
            "", ""));
    return sub;
}

int CorrectCommand::Run() {
    Region r;
    const bool hasRegion = !region.empty() && ParseRegion(region, r);
    const Settings& s = options.settings;
    CorrectionJob job{Work::kAnalyseAndApply, /*want16=*/true,
                      [&s, hasRegion, r](Picture& pic, Picture* before, std::string& summary, std::string& error,
                                         const FileProgress& progress) {
                          return CorrectOne(s, hasRegion ? &r : nullptr, pic, before, summary, error, progress);
                      }};
    return RunCorrectingCommand("correct", options, job);
}

}  // namespace lumarex_cli
