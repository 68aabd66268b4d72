// SPDX-License-Identifier: MIT
// The corrections of one picture in memory: a whole photo corrected by the
// commands (whose picture gives up its samples while the analysis runs and
// whose guard keeps one byte a pixel) against the same photo analysed first
// and corrected from the analysis, which keeps the picture throughout.
#include <gtest/gtest.h>

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
        EXPECT_TRUE(CorrectAnalysedPicture(s, nullptr, blob, param, c.pic, c.summary, error, [](float) { return false; }))
            << error;
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
                EXPECT_LE(high, 1.0) << what;
                EXPECT_LE(low, 1.5) << what;
                heldOn = held;
            } else if (heldOn) {
                EXPECT_TRUE(high > 1.0 || low > 1.5) << what << ": held back with no need";
            }
            heldBack += held;
        }
    }
    EXPECT_GE(heldBack, 1) << "the settings clip at least one photo enough for the guard";
}

// A region corrected from the analysed picture left whole is the region of
// a copy cropped by the correction itself, alpha and metadata included;
// the whole picture is not touched, and a region past its edge is refused.
TEST(PhotoCorrection, RegionOfAnAnalysedPictureMatchesTheCroppedCorrection) {
    SetFilterRecord(LxHeapHostRecord());
    Picture photo = ReadSample("s03_hazy_lifted_blacks_bridge.jpg", false);
    ASSERT_GT(photo.width, 300);
    photo.hasAlpha = true;
    photo.alpha.assign(size_t(photo.width) * photo.height, 0);
    for (size_t i = 0; i < photo.alpha.size(); ++i) photo.alpha[i] = uint16_t(i * 37);
    const Picture original = photo;
    const ImageDesc d = DescribeRgb(photo);
    ImageBlob* blob = AllocImageBlob(&d);
    ImageParam* param = blob ? CalcImageBlobParam(blob, nullptr, nullptr) : nullptr;
    ASSERT_NE(param, nullptr);
    const Settings s = DefaultSettings(Command::kCorrect);
    const Region region{101, 37, 150, 90};
    Picture cropped = photo, out;
    std::string summaryA, summaryB, error;
    const auto never = [](float) { return false; };
    EXPECT_TRUE(CorrectAnalysedPicture(s, &region, blob, param, cropped, summaryA, error, never)) << error;
    EXPECT_TRUE(CorrectAnalysedRegion(s, region, blob, param, photo, out, summaryB, error, never)) << error;
    EXPECT_EQ(summaryA, summaryB);
    EXPECT_EQ(out.width, 150);
    EXPECT_EQ(out.height, 90);
    EXPECT_TRUE(out.rgb8 == cropped.rgb8);
    EXPECT_TRUE(out.alpha == cropped.alpha);
    EXPECT_EQ(out.alpha[0], uint16_t((size_t(37) * photo.width + 101) * 37));
    EXPECT_TRUE(photo.rgb8 == original.rgb8 && photo.alpha == original.alpha);
    const Region beyond{photo.width - 10, 0, 11, 5};
    EXPECT_FALSE(CorrectAnalysedRegion(s, beyond, blob, param, photo, out, summaryB, error, never));
    EXPECT_EQ(error.rfind("the region", 0), 0u) << error;
    FreeImageParam(param);
    FreeImageBlob(blob);
}

}  // namespace
}  // namespace lumarex_cli
