// SPDX-License-Identifier: MIT
#include "photo_correction.h"

#include <vector>

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

}  // namespace

bool AutoCorrectPicture(const Settings& s, Picture& pic, Picture* before, std::string& summary, std::string&,
                        const FileProgress& progress) {
    if (before) *before = pic;
    const bool measure = s.brighten == kMeasured;
    const std::vector<uint8_t> original = measure ? pic.rgb8 : std::vector<uint8_t>();
    progress(0.0f);
    int32_t strength = CorrectInOnePass(DescribeRgb(pic), s, measure, measure ? 0 : s.brighten);
    if (measure && strength < s.minBrighten) {
        // A bright, high-key photo asks for a negative lift, which would
        // darken it; it is corrected again at the floor instead.
        pic.rgb8 = original;
        strength = CorrectInOnePass(DescribeRgb(pic), s, false, s.minBrighten);
    }
    progress(1.0f);
    summary = "brightened " + std::to_string(strength) + " %";
    return true;
}

bool CorrectPicture(const Settings& s, const Region* region, Picture& pic, Picture* before, std::string& summary,
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


}  // namespace lumarex_cli
