// SPDX-License-Identifier: MIT
// The corrections of one picture in memory: a whole photo corrected by the
// commands (whose picture gives up its samples while the analysis runs and
// whose guard keeps one byte a pixel) against the same photo analysed first
// and corrected from the analysis, which keeps the picture throughout.
#include <gtest/gtest.h>

#include <span>
#include <string>
#include <utility>
#include <vector>

#include "image_file.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "photo_correction.h"
#include "settings.h"

namespace lumarex_cli {
namespace {

Picture ReadSample(const std::string& name, bool want16) {
    PhotoReader reader;
    Picture pic;
    std::string error, notes;
    EXPECT_TRUE(reader.Open(std::string(LUMAREX_SAMPLES_DIR) + "/" + name, error)) << error;
    EXPECT_TRUE(reader.Read(want16, pic, notes, error, [](float) { return false; })) << error;
    return pic;
}

struct Corrected {
    Picture pic, before;
    std::string summary;
};

Corrected CorrectWhole(const Settings& s, const Picture& photo) {
    Corrected c{photo, {}, {}};
    std::string error;
    EXPECT_TRUE(CorrectPicture(s, nullptr, c.pic, &c.before, c.summary, error, [](float) { return false; })) << error;
    return c;
}

Corrected CorrectFromAnalysis(const Settings& s, const Picture& photo) {
    Corrected c{photo, photo, {}};
    const ImageDesc d = DescribeRgb(c.pic);
    ImageBlob* blob = AllocImageBlob(&d);
    ImageParam* param = blob ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
    std::string error;
    EXPECT_NE(param, nullptr);
    if (param) {
        const auto never = [](float) { return false; };
        PhotoChoices choices(photo);
        const Choice* choice = choices.For(s, param, error, never);
        EXPECT_NE(choice, nullptr) << error;
        if (choice) {
            EXPECT_TRUE(ApplyChoiceToPicture(*choice, nullptr, blob, param, c.pic, c.summary, error, never)) << error;
        }
    }
    FreeImageParam(param);
    FreeImageBlob(blob);
    return c;
}

// Percent of the pixels with a channel newly at the top (254 and above, 16-bit
// 254 x 257) and newly at the bottom (1 and below, 16-bit 257).
template <class T>
std::pair<double, double> NewlyClipped(const std::vector<T>& before, const std::vector<T>& after, uint32_t top,
                                       uint32_t bottom) {
    size_t high = 0, low = 0;
    for (size_t i = 0; i + 2 < after.size(); i += 3) {
        bool h = false, l = false;
        for (size_t c = i; c < i + 3; ++c) {
            h = h || (after[c] >= top && before[c] < top);
            l = l || (after[c] <= bottom && before[c] > bottom);
        }
        high += h, low += l;
    }
    const double n = double(after.size() / 3);
    return {100.0 * double(high) / n, 100.0 * double(low) / n};
}

// A strong lift that burns out highlights, so that the guard holds it back,
// and the same without the guard; 8-bit and 16-bit photos.
TEST(PhotoCorrection, WholePhotoMatchesTheAnalysedPathAndTheGuardHoldsBack) {
    SetFilterRecord(LxHeapHostRecord());
    int heldBack = 0;
    for (const auto& [name, wide] : {std::pair{"s08_sunset_warm.jpg", false}, std::pair{"s01_tungsten_indoor_wine.jpg", false},
                                     std::pair{"s06_indoor_backlit_room_16bit.png", true}}) {
        const Picture photo = ReadSample(name, wide);
        ASSERT_GT(photo.width, 0) << name;
        bool heldOn = false;
        for (const int guard : {1, 0}) {
            Settings s = DefaultSettings(Command::kCorrect);
            s.brighten = 250, s.blackClip = 2.0f, s.guard = guard;
            const Corrected whole = CorrectWhole(s, photo);
            const Corrected analysed = CorrectFromAnalysis(s, photo);
            const std::string what = std::string(name) + (guard ? ", guard on" : ", guard off");
            EXPECT_EQ(whole.summary, analysed.summary) << what;
            EXPECT_TRUE(whole.pic.rgb8 == analysed.pic.rgb8) << what;
            EXPECT_TRUE(whole.pic.rgb16 == analysed.pic.rgb16) << what;
            EXPECT_TRUE(whole.before.rgb8 == photo.rgb8 && whole.before.rgb16 == photo.rgb16) << what;
            EXPECT_EQ(whole.pic.rgb8.size() + whole.pic.rgb16.size(), size_t(photo.width) * photo.height * 3) << what;
            const bool held = whole.summary.find("held back") != std::string::npos;
            if (!guard) {
                EXPECT_FALSE(held) << what;
            }
            const auto [high, low] = wide ? NewlyClipped(photo.rgb16, whole.pic.rgb16, 254u * 257u, 257u)
                                          : NewlyClipped(photo.rgb8, whole.pic.rgb8, 254u, 1u);
            if (guard) {
                // The guard judges a copy of half a megapixel, whose block
                // means soften clipped specks: the photo may clip a little
                // more (a quarter of a point at most on these).
                EXPECT_LE(high, 1.0 + 0.25) << what;
                EXPECT_LE(low, 1.5 + 0.25) << what;
                heldOn = held;
            } else if (heldOn) {
                EXPECT_TRUE(high > 1.0 || low > 1.5) << what << ": held back with no need";
            }
            heldBack += held;
        }
    }
    EXPECT_GE(heldBack, 1) << "the settings clip at least one photo enough for the guard";
}

// Every decision is made once for the photo, so a region comes out as the
// same area of the whole correction: through the command (--region), and
// through the analysed picture left whole (the preview, the Python module),
// which copies only the region, alpha included, and refuses a region past
// the edge. Corners, edges, a one-pixel column and the whole photo, at 8 and
// 16 bits, with the defaults, with sharpening (whose strength a region
// would take from its own size and whose kernel reads beyond its edges), with
// colour restoration and warm tone, and with noise removal (which measures
// the noise in what it is given).
TEST(PhotoCorrection, RegionIsTheSameAreaOfTheWholeCorrection) {
    SetFilterRecord(LxHeapHostRecord());
    const auto never = [](float) { return false; };
    const Picture sunset = ReadSample("s08_sunset_warm.jpg", false);
    Settings sharp = DefaultSettings(Command::kCorrect), colourful = sharp, denoised = sharp;
    sharp.sharpen = 1.0f;
    colourful.colour = 1, colourful.warmTone = 0.5f;
    denoised.denoise = 2;
    const Picture room = ReadSample("s06_indoor_backlit_room_16bit.png", true);
    for (Picture photo : {ScaledDown(sunset, 320, 213), ScaledDown(room, 338, 225)}) {
        photo.hasAlpha = true;
        photo.alpha.resize(size_t(photo.width) * photo.height);
        for (size_t i = 0; i < photo.alpha.size(); ++i) photo.alpha[i] = uint16_t(i * 37);
        const Picture original = photo;
        const int W = photo.width, H = photo.height;
        // Noise removal corrects the whole photo for each region: the first
        // two only.
        const Region regions[] = {{W / 3, 0, 1, H}, {W - 50, H - 40, 50, 40}, {0, 0, 64, 48}, {0, H / 2, W, 7},
                                  {1, 1, W - 2, H - 2}, {0, 0, W, H}};
        const ImageDesc d = DescribeRgb(photo);
        const BlobOwner blob(AllocImageBlob(&d));
        const ParamOwner param(blob ? CalcImageBlobParam(blob.get(), nullptr, nullptr) : nullptr);
        ASSERT_NE(param, nullptr);
        PhotoChoices choices(photo);
        for (const auto& [name, s] : {std::pair{"defaults", DefaultSettings(Command::kCorrect)},
                                      std::pair{"sharpen 1", sharp}, std::pair{"colour and warm tone", colourful},
                                      std::pair{"denoise 2", denoised}}) {
            const std::string what = std::to_string(photo.bits) + "-bit, " + name;
            const Corrected whole = CorrectWhole(s, photo);
            std::string error, summary;
            const Choice* choice = choices.For(s, param.get(), error, never);
            ASSERT_NE(choice, nullptr) << error;
            EXPECT_EQ(whole.summary, SummaryOf(choice->outcome) + (photo.bits == 16 ? ", 16-bit" : "")) << what;
            const size_t tried = s.denoise != kNoDenoise ? 2 : std::size(regions);
            for (const Region& r : std::span(regions, tried)) {
                const std::string where = what + " at " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                                          std::to_string(r.w) + "x" + std::to_string(r.h);
                const Picture expected = CropPicture(whole.pic, r.x, r.y, r.w, r.h, true);
                Picture out;
                ASSERT_TRUE(ApplyChoiceToRegion(*choice, r, blob.get(), param.get(), photo, out, summary, error,
                                                never))
                    << error;
                EXPECT_TRUE(out.rgb8 == expected.rgb8 && out.rgb16 == expected.rgb16) << where;
                EXPECT_TRUE(out.alpha == expected.alpha) << where;
            }
            Picture cropped = photo, before;
            ASSERT_TRUE(CorrectPicture(s, &regions[1], cropped, &before, summary, error, never)) << error;
            const Region& r = regions[1];
            const Picture expected = CropPicture(whole.pic, r.x, r.y, r.w, r.h, true);
            EXPECT_TRUE(cropped.rgb8 == expected.rgb8 && cropped.rgb16 == expected.rgb16) << what << ", --region";
            EXPECT_EQ(summary, whole.summary) << what;
        }
        EXPECT_TRUE(photo.rgb8 == original.rgb8 && photo.rgb16 == original.rgb16 && photo.alpha == original.alpha);
        Picture out;
        std::string error, summary;
        const Choice* choice = choices.For(DefaultSettings(Command::kCorrect), param.get(), error, never);
        ASSERT_NE(choice, nullptr);
        EXPECT_FALSE(ApplyChoiceToRegion(*choice, Region{W - 10, 0, 11, 5}, blob.get(), param.get(), photo, out,
                                         summary, error, never));
        EXPECT_EQ(error.rfind("the region", 0), 0u) << error;
    }
}

}  // namespace
}  // namespace lumarex_cli
