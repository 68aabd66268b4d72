// SPDX-License-Identifier: MIT
// The photo behind `lumarex serve`: read and analysed once, then corrected
// as often as the page asks, each time only the area in view at the size it
// is shown, through the library's region correction and the analysis'
// cached local-contrast map.
//
// A zoomed-out view is corrected from a copy of the photo scaled down to the
// view's resolution (an area average), placed in the analysed photo through
// the map scale; a view at 1:1 or closer is corrected from the photo itself,
// and is then exactly `lumarex correct --region` of that area. Scaled copies
// are kept for the last few zoom levels, so that moving a slider or panning
// costs one correction of the screen's pixels.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "batch.h"
#include "correction.h"
#include "image_file.h"
#include "memory_budget.h"
#include "photo_correction.h"
#include "preview_request.h"

namespace lumarex_cli {

// Returns true when the work in hand should stop.
using StopCheck = std::function<bool()>;

// One corrected (or, for the before view, uncorrected) view.
struct RenderedView {
    Picture pic;                        // 8 or 16-bit RGB, the photo's depth
    double x = 0, y = 0, w = 0, h = 0;  // the area of the photo it shows, in the photo's pixels
    CorrectionOutcome outcome;
    std::vector<std::string> reasons;   // the choice's, one sentence each
};

class PreviewPhoto {
public:
    PreviewPhoto() = default;
    PreviewPhoto(const PreviewPhoto&) = delete;
    PreviewPhoto& operator=(const PreviewPhoto&) = delete;
    ~PreviewPhoto();

    // Reads `path` within `limits` (as `lumarex correct` does: 16-bit files
    // stay 16-bit) and analyses it. Needs the host record set.
    bool Open(const std::string& path, const SizeLimits& limits, std::string& notes, std::string& error,
              const StopCheck& stop);

    const std::string& Path() const { return path_; }
    int Width() const { return photo_.width; }
    int Height() const { return photo_.height; }
    int Bits() const { return photo_.bits; }
    // The photo's RGB colour profile, for the browser to show its views'
    // colours as the file's (a phone's Display P3, a camera's Adobe RGB);
    // empty when it has none.
    const std::string& Profile() const { return profile_; }

    // Corrects the view of `r` (or copies it, for the before view) at the
    // view's scale (ScaledWidthFor): the picture is never larger than the
    // view asked for, nor than the area. One render or save runs at a time;
    // `stop` is polled while waiting and throughout. False with `error` on
    // failure or a stop.
    bool Render(const RenderRequest& r, const StopCheck& stop, RenderedView& out, std::string& error);

    // Corrects the whole photo as `lumarex correct` does and writes it beside
    // the original under the first free name (SavePathFor), through a
    // temporary file put in place only as a new file: should another
    // program (another preview of the photo) take that name meanwhile, the
    // next free one is written instead. `path` is the name written;
    // `summary` says what was done ("brightened 40 %"). When every name is
    // taken, the error is kEveryNameTaken.
    bool Save(const Settings& s, const StopCheck& stop, std::string& path, std::string& summary, std::string& error);
    static constexpr const char* kEveryNameTaken = "every name for the corrected photo is taken";

    // How many scaled copies are kept at most.
    static constexpr size_t kKeptScales = 3;

private:
    // The photo or a scaled-down copy, and its blob.
    struct Scale {
        Picture pic;
        BlobOwner blob;
        uint64_t lastUse = 0;
        // The memory budget's share taken for the copy and its blob.
        MemoryBudget* budget = nullptr;
        uint64_t held = 0;
        Scale() = default;
        Scale(const Scale&) = delete;
        Scale& operator=(const Scale&) = delete;
        ~Scale() {
            if (held > 0) budget->Release(held);
        }
    };
    // The copy `width` pixels wide, made when missing, within the memory
    // budget (older copies make room); null when out of memory.
    Scale* ScaleOfWidth(int width);

    std::timed_mutex mutex_;
    std::string path_;
    std::unique_ptr<MemoryBudget> budget_;
    SizeLimits limits_;
    std::unique_ptr<BudgetedPhoto> held_;  // the photo's share of the memory budget
    Picture photo_;
    std::string profile_;
    BlobOwner blob_;
    ParamOwner param_;
    std::unique_ptr<PhotoChoices> choices_;  // decided once per settings, for every view and the save
    // With noise removal, a view at 1:1 is cropped from the whole photo's
    // correction (only that is exact): the last one is kept, for the views
    // that follow with the same settings and for Save.
    struct Whole {
        Settings given;
        Picture pic;  // colour samples only
    };
    std::optional<Whole> denoised_;
    // The whole photo corrected with `choice` for `given`, from denoised_
    // or made now; null when the library failed or `stop` asked.
    const Picture* DenoisedWhole(const Settings& given, const Choice& choice, const FileProgress& progress);
    std::vector<std::unique_ptr<Scale>> scales_;
    uint64_t uses_ = 0;
};

// The width of the copy a view is corrected from. The view's scale is the
// smaller of width / w and height / h, so that a view asked for in a shape
// other than its area's (8192 x 1 of the whole photo) is shown whole within
// the size asked for, never larger: the work of a view is bounded by the
// pixels it returns. At 1:1 or larger the copy is the photo itself, else the
// scale rounded up to 1/1024 (so that views at one zoom level share a copy)
// times the photo's width.
int ScaledWidthFor(const ViewRequest& v, int photoWidth);

// Encodes RGB `pic` for the browser: JPEG (quality 90, 8 bits) or lossless
// PNG at the picture's depth, with the ICC colour profile `profile` (none
// when empty) and no other metadata. Written in strips of rows, with `stop`
// polled between them (a whole photo's PNG takes seconds).
bool EncodeForBrowser(const Picture& pic, ImageFormat format, const std::string& profile, const StopCheck& stop,
                      std::string& bytes, std::string& error);

}  // namespace lumarex_cli
