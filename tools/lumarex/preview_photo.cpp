// SPDX-License-Identifier: MIT
#include "preview_photo.h"

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/imageio.h>

#include <algorithm>
#include <chrono>
#include <cmath>

#include "lumarex/lumarex.h"
#include "preview_request.h"

namespace lumarex_cli {
namespace {

// The library's progress callback on a stop check.
int32_t PollStop(int32_t /*step*/, int32_t /*total*/, void* context) {
    return (*static_cast<const StopCheck*>(context))() ? 1 : 0;
}

// `r` of the picture's colour samples as a picture of its own (no alpha:
// the page shows colour only).
Picture Crop(const Picture& p, const Region& r) { return CropPicture(p, r.x, r.y, r.w, r.h, false); }

}  // namespace

int ScaledWidthFor(const ViewRequest& v, int photoWidth) {
    const double scale = std::min(double(v.width) / v.area.w, double(v.height) / v.area.h);
    if (scale >= 1.0) return photoWidth;
    const double steps = std::ceil(scale * 1024.0);
    return std::clamp(int(std::ceil(photoWidth * steps / 1024.0)), 1, photoWidth);
}

PreviewPhoto::~PreviewPhoto() {
    // The blobs and the record go back to the host before the budget.
    scales_.clear();
    denoised_.reset();
    choices_.reset();
    param_.reset();
    blob_.reset();
    held_.reset();
}

bool PreviewPhoto::Open(const std::string& path, const SizeLimits& limits, std::string& notes, std::string& error,
                        const StopCheck& stop) {
    path_ = path;
    limits_ = limits;
    budget_ = std::make_unique<MemoryBudget>(BudgetBytes(limits_));
    held_ = std::make_unique<BudgetedPhoto>(*budget_, limits_);
    if (!held_->Read(path, Work::kAnalyseAndApply, /*want16=*/true, photo_, notes, error,
                     [&stop](float) { return stop(); }))
        return false;
    const ImageDesc source = DescribeRgb(photo_);
    blob_.reset(AllocImageBlob(&source));
    if (!blob_) {
        error = "not enough memory for the working copy";
        return false;
    }
    choices_ = std::make_unique<PhotoChoices>(photo_);
    StopCheck check = stop;
    param_.reset(AnalyseInsideFrame(blob_.get(), photo_, choices_->frame(), PollStop, &check));
    if (!param_) {
        error = stop() ? "stopped" : "the analysis ran out of memory";
        return false;
    }
    profile_ = RgbProfileOf(photo_.spec);
    return true;
}

PreviewPhoto::Scale* PreviewPhoto::ScaleOfWidth(int width) {
    for (auto& s : scales_)
        if (s->pic.width == width) {
            s->lastUse = ++uses_;
            return s.get();
        }
    const auto dropOldest = [this] {
        const auto oldest = std::min_element(scales_.begin(), scales_.end(),
                                             [](const auto& a, const auto& b) { return a->lastUse < b->lastUse; });
        scales_.erase(oldest);
    };
    if (scales_.size() >= kKeptScales) dropOldest();
    auto s = std::make_unique<Scale>();
    const int height = std::max(1, int((int64_t{photo_.height} * width + photo_.width / 2) / photo_.width));
    // The copy and its blob, in the budget the photo's own memory is in: a
    // view just under full size copies nearly the whole photo.
    const uint64_t bytes = 2 * uint64_t(width) * uint64_t(height) * 3 * (photo_.bits == 16 ? 2 : 1);
    while (!budget_->Acquire(bytes, [] { return true; })) {
        if (scales_.empty()) return nullptr;
        dropOldest();
    }
    s->budget = budget_.get(), s->held = bytes;
    s->pic = ScaledDown(photo_, width, height);
    const ImageDesc desc = DescribeRgb(s->pic);
    s->blob.reset(AllocImageBlob(&desc));
    if (!s->blob) return nullptr;
    s->lastUse = ++uses_;
    scales_.push_back(std::move(s));
    return scales_.back().get();
}

// Takes the lock, polling `stop` every 10 ms while another render holds it,
// so that a request overtaken while it waits gives up without running.
static bool LockUnlessStopped(std::unique_lock<std::timed_mutex>& lock, const StopCheck& stop) {
    while (!lock.try_lock_for(std::chrono::milliseconds(10)))
        if (stop()) return false;
    return !stop();
}

bool PreviewPhoto::Render(const RenderRequest& r, const StopCheck& stop, RenderedView& out, std::string& error) {
    std::unique_lock<std::timed_mutex> lock(mutex_, std::defer_lock);
    if (!LockUnlessStopped(lock, stop)) {
        error = "stopped";
        return false;
    }
    const int W = photo_.width, H = photo_.height;
    const int width = ScaledWidthFor(r.view, W);
    const Picture* pic = &photo_;
    const ImageBlob* blob = blob_.get();
    if (width < W) {
        Scale* s = ScaleOfWidth(width);
        if (s == nullptr) {
            error = "not enough memory for a scaled copy of the photo";
            return false;
        }
        pic = &s->pic, blob = s->blob.get();
    }
    // The area in the copy's pixels: every copy pixel the area touches.
    const int w = pic->width, h = pic->height;
    const Region& a = r.view.area;
    Region region;
    region.x = int(int64_t{a.x} * w / W);
    region.y = int(int64_t{a.y} * h / H);
    region.w = std::max(1, int(std::min<int64_t>(w, (int64_t{a.x + a.w} * w + W - 1) / W)) - region.x);
    region.h = std::max(1, int(std::min<int64_t>(h, (int64_t{a.y + a.h} * h + H - 1) / H)) - region.y);
    out.x = double(region.x) * W / w, out.y = double(region.y) * H / h;
    out.w = double(region.w) * W / w, out.h = double(region.h) * H / h;
    out.pic = Crop(*pic, region);
    out.outcome = CorrectionOutcome{};
    out.reasons.clear();
    if (r.before) return true;
    const FileProgress progress = [&stop](float) { return stop(); };
    const Choice* choice = choices_->For(r.settings, param_.get(), error, progress);
    if (choice == nullptr) return false;
    out.outcome = choice->outcome;
    out.reasons = choice->reasons;
    if (pic == &photo_ && r.settings.denoise != kNoDenoise) {
        const Picture* whole = DenoisedWhole(r.settings, *choice, progress);
        if (whole == nullptr) {
            error = stop() ? "stopped"
                           : "the correction failed (out of memory, or the noise library is missing or refused the "
                             "photo)";
            return false;
        }
        out.pic = Crop(*whole, region);
        return true;
    }
    // The copy's pixel x is the photo's x / scale; the map is read there.
    const MapPlacement map{0, 0, pic == &photo_ ? 1.0f : float(w) / float(W)};
    if (!ApplyChoice(*choice, blob, *pic, param_.get(), &region, map, out.pic, progress)) {
        error = stop() ? "stopped"
                       : (r.settings.denoise != kNoDenoise
                              ? "the correction failed (out of memory, or the noise library is missing or refused "
                                "the photo)"
                              : "the correction ran out of memory");
        return false;
    }
    return true;
}

bool PreviewPhoto::Save(const Settings& s, const StopCheck& stop, std::string& path, std::string& summary,
                        std::string& error) {
    std::unique_lock<std::timed_mutex> lock(mutex_, std::defer_lock);
    if (!LockUnlessStopped(lock, stop)) {
        error = "stopped";
        return false;
    }
    Picture pic = photo_;  // with its alpha and metadata, as the command writes them
    const FileProgress progress = [&stop](float) { return stop(); };
    const Choice* choice = choices_->For(s, param_.get(), error, progress);
    if (choice == nullptr) return false;
    const CorrectionOutcome outcome = choice->outcome;
    if (denoised_ && denoised_->given == s) {
        pic.rgb8 = denoised_->pic.rgb8, pic.rgb16 = denoised_->pic.rgb16;  // corrected already, for the views
    } else if (!ApplyChoice(*choice, blob_.get(), photo_, param_.get(), nullptr, MapPlacement{}, pic, progress)) {
        error = stop() ? "stopped" : "the correction failed";
        return false;
    }
    lock.unlock();
    std::string notes;
    for (bool taken = true; taken;) {
        path = SavePathFor(Path());
        if (path.empty()) {
            error = kEveryNameTaken;
            return false;
        }
        notes.clear();
        taken = false;
        if (!WritePicture(path, pic, 95, notes, error, progress, &taken) && !taken) return false;
    }
    summary = SummaryOf(outcome);
    if (!notes.empty()) summary += " (" + notes + ")";
    return true;
}

const Picture* PreviewPhoto::DenoisedWhole(const Settings& given, const Choice& choice,
                                           const FileProgress& progress) {
    if (denoised_ && denoised_->given == given) return &denoised_->pic;
    denoised_.reset();  // its memory back before the next one is made
    Whole w{given, Crop(photo_, Region{0, 0, photo_.width, photo_.height})};
    if (!ApplyChoice(choice, blob_.get(), photo_, param_.get(), nullptr, MapPlacement{}, w.pic, progress))
        return nullptr;
    denoised_ = std::move(w);
    return &denoised_->pic;
}

// libpng's PNG_FILTER_NONE.
constexpr int kPngNoFilter = 0x08;

bool EncodeForBrowser(const Picture& pic, ImageFormat format, const std::string& profile, const StopCheck& stop,
                      std::string& bytes, std::string& error) {
    if (stop()) {
        error = "stopped";
        return false;
    }
    const bool png = format == ImageFormat::kPng;
    const bool deep = pic.bits == 16;
    OIIO::ImageSpec spec(pic.width, pic.height, 3, png && deep ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8);
    // Speed over size, the page being on this machine: fast deflate and no
    // row filters (twice as fast, some 15 % larger on a photo).
    if (png) spec.attribute("png:compressionLevel", 1), spec.attribute("png:filter", kPngNoFilter);
    else spec.attribute("Compression", "jpeg:90");
    if (!profile.empty())
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
    OIIO::Filesystem::IOVecOutput sink;
    OIIO::Filesystem::IOProxy* proxy = &sink;
    spec.attribute("oiio:ioproxy", OIIO::TypeDesc::PTR, &proxy);
    auto o = OIIO::ImageOutput::create(png ? "png" : "jpg");
    const auto* data = deep ? reinterpret_cast<const unsigned char*>(pic.rgb16.data()) : pic.rgb8.data();
    const size_t rowBytes = size_t(pic.width) * 3 * (deep ? 2 : 1);
    const OIIO::TypeDesc type = deep ? OIIO::TypeDesc::UINT16 : OIIO::TypeDesc::UINT8;
    bool ok = o && o->open(png ? "view.png" : "view.jpg", spec);
    // A view is stopped whenever the page asks for a newer one. The JPEG
    // encoder is dropped where it stands. The PNG encoder, closed short of
    // its rows, complains on the terminal, so it gets the rest of the
    // picture as black rows (one row repeated; about 6 ms a megapixel) and
    // its result is dropped.
    bool stopped = false;
    std::vector<unsigned char> black;
    constexpr int kStrip = 64;  // rows: a few milliseconds of encoding
    for (int y = 0; ok && y < pic.height; y += kStrip) {
        const int end = std::min(pic.height, y + kStrip);
        if (!stopped && stop()) {
            if (!png) {
                error = "stopped";
                return false;
            }
            stopped = true;
            black.assign(rowBytes, 0);
        }
        ok = stopped ? o->write_scanlines(y, end, 0, type, black.data(), OIIO::AutoStride, 0)
                     : o->write_scanlines(y, end, 0, type, data + size_t(y) * rowBytes);
    }
    if (!ok || !o->close()) {
        error = "cannot encode the view: " + (o ? o->geterror() : OIIO::geterror());
        return false;
    }
    o.reset();
    if (stopped) {
        error = "stopped";
        return false;
    }
    bytes.assign(reinterpret_cast<const char*>(sink.buffer().data()), sink.buffer().size());
    return true;
}

}  // namespace lumarex_cli
