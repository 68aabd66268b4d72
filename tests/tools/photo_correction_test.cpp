// SPDX-License-Identifier: MIT
// The corrections of one picture in memory: the commands' whole photo
// against the analysed picture's correction, whole and by region.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "choice.h"
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

// Every decision is made once for the photo, so a region (--region, or the
// preview's and the module's analysed picture) is the same area of the whole
// correction, alpha included, at 8 and 16 bits; sharpening, warm tone and
// noise removal would otherwise measure the region alone. The whole photo
// corrected by the commands (whose picture gives up its samples while the
// analysis runs) is the analysed picture corrected whole, a lift the guard
// holds back included.
TEST(PhotoCorrection, RegionIsTheSameAreaOfTheWholeCorrection) {
    SetFilterRecord(LxHeapHostRecord());
    const auto never = [](float) { return false; };
    const Picture sunset = ReadSample("s08_sunset_warm.jpg", false);
    Settings sharp = DefaultSettings(Command::kCorrect), colourful = sharp, denoised = sharp, harsh = sharp;
    sharp.sharpen = 1.0f;
    colourful.colour = 1, colourful.warmTone = 0.5f;
    denoised.denoise = 2;
    harsh.brighten = 250, harsh.blackClip = 2.0f;
    int heldBack = 0;
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
                                      std::pair{"denoise 2", denoised}, std::pair{"brighten 250", harsh}}) {
            const std::string what = std::to_string(photo.bits) + "-bit, " + name;
            Picture whole = photo, before;
            std::string error, summary, wholeSummary;
            ASSERT_TRUE(CorrectPicture(s, nullptr, whole, &before, wholeSummary, error, never)) << error;
            const Choice* choice = choices.For(s, param.get(), error, never);
            ASSERT_NE(choice, nullptr) << error;
            EXPECT_EQ(wholeSummary, SummaryOf(choice->outcome) + (photo.bits == 16 ? ", 16-bit" : "")) << what;
            EXPECT_TRUE(before.rgb8 == photo.rgb8 && before.rgb16 == photo.rgb16) << what;
            heldBack += wholeSummary.find("held back") != std::string::npos;
            Picture analysed = photo;
            ASSERT_TRUE(ApplyChoiceToPicture(*choice, nullptr, blob.get(), param.get(), analysed, summary, error, never))
                << error;
            EXPECT_TRUE(analysed.rgb8 == whole.rgb8 && analysed.rgb16 == whole.rgb16) << what << ", analysed";
            EXPECT_EQ(summary, wholeSummary) << what;
            const size_t tried = s.denoise != kNoDenoise ? 2 : std::size(regions);
            for (const Region& r : std::span(regions, tried)) {
                const std::string where = what + " at " + std::to_string(r.x) + "," + std::to_string(r.y) + " " +
                                          std::to_string(r.w) + "x" + std::to_string(r.h);
                const Picture expected = CropPicture(whole, r.x, r.y, r.w, r.h, true);
                Picture out;
                ASSERT_TRUE(ApplyChoiceToRegion(*choice, r, blob.get(), param.get(), photo, out, summary, error,
                                                never))
                    << error;
                EXPECT_TRUE(out.rgb8 == expected.rgb8 && out.rgb16 == expected.rgb16) << where;
                EXPECT_TRUE(out.alpha == expected.alpha) << where;
            }
            Picture off;  // one pixel past the right edge
            EXPECT_FALSE(ApplyChoiceToRegion(*choice, Region{W - 10, 0, 11, 5}, blob.get(), param.get(), photo, off,
                                             summary, error, never))
                << what;
        }
        EXPECT_TRUE(photo.rgb8 == original.rgb8 && photo.rgb16 == original.rgb16 && photo.alpha == original.alpha);
    }
    EXPECT_GE(heldBack, 1) << "brighten 250 clips at least one photo enough for the guard";
}

// --local-depth is how much darker areas are held back against the plain
// lift: the deeper, the darker a 40 % grey patch in a dark surround stays,
// and at no depth it is lifted nearly as with local contrast off.
TEST(PhotoCorrection, LocalDepthHoldsDarkAreasBack) {
    SetFilterRecord(LxHeapHostRecord());
    Picture scene;
    scene.width = 240, scene.height = 160;
    for (int y = 0; y < scene.height; ++y)
        for (int x = 0; x < scene.width; ++x) {
            const bool patch = x >= 40 && x < 80 && y >= 60 && y < 100;
            const uint8_t v = patch ? 102 : x < 120 ? 51 : 178;  // the patch in the dark half
            scene.rgb8.insert(scene.rgb8.end(), {v, v, v});
        }
    const auto patchLevel = [&](int depth, bool local) {
        Settings s = DefaultSettings(Command::kCorrect);
        s.brighten = 100, s.guard = 0, s.localDepth = depth, s.localContrast = local;
        Picture pic = scene;
        std::string summary, error;
        EXPECT_TRUE(CorrectPicture(s, nullptr, pic, nullptr, summary, error, [](float) { return false; })) << error;
        return int(pic.rgb8[(size_t(80) * scene.width + 60) * 3]);
    };
    const int off = patchLevel(50, false), none = patchLevel(0, true), half = patchLevel(50, true),
              full = patchLevel(100, true);
    EXPECT_GT(none, half);
    EXPECT_GT(half, full);
    EXPECT_LE(std::abs(none - off), 2) << "no depth: about the plain lift";
}

// The guard lowers a black clip that turns too many pixels black to the
// largest tenth it allows, so asking for more black never gives less: on the
// hazy bridge every request from 0.5 to 5 % ends at the same clip or a larger
// one than any smaller request, and asking for one tenth more than a held
// back clip is held back to it again.
TEST(PhotoCorrection, GuardKeepsTheLargestBlackClipItAllows) {
    SetFilterRecord(LxHeapHostRecord());
    const auto never = [](float) { return false; };
    Picture bridge = ReadSample("s03_hazy_lifted_blacks_bridge.jpg", false);
    bridge = ScaledDown(bridge, bridge.width / 4, bridge.height / 4);
    const ImageDesc d = DescribeRgb(bridge);
    const BlobOwner blob(AllocImageBlob(&d));
    const ParamOwner param(blob ? CalcImageBlobParam(blob.get(), nullptr, nullptr) : nullptr);
    ASSERT_NE(param, nullptr);
    const auto chosen = [&](float request) {
        Settings s = DefaultSettings(Command::kCorrect);
        s.blackClip = request;
        Choice c;
        std::string error;
        EXPECT_TRUE(Choose(s, bridge, bridge.width, param.get(), c, error, never)) << error;
        return c.settings.blackClip;
    };
    float last = 0.0f, heldAt = -1.0f;
    for (int tenths = 5; tenths <= 50; tenths += 5) {
        const float request = float(tenths) / 10.0f, got = chosen(request);
        EXPECT_LE(got, request);
        EXPECT_GE(got, last) << request << " % gave less black than a smaller request";
        last = got;
        if (got < request) heldAt = got;
    }
    ASSERT_GE(heldAt, 0.0f) << "some request is held back on this photo";
    EXPECT_EQ(chosen(float(int(heldAt * 10.0f + 0.5f) + 1) / 10.0f), heldAt);
}

// A photo whose highlights are a flat plateau short of white (the sunset's
// sun in a video frame's 16-235 range) has it turned white by the levels
// alone, whatever the lift: the guard leaves the measured lift, where it
// once lowered it to none for clipping that never went, and still lowers a
// lift that turns more white than the levels do.
TEST(PhotoCorrection, GuardLeavesTheLiftTheWhiteOfTheLevelsAlone) {
    SetFilterRecord(LxHeapHostRecord());
    const auto never = [](float) { return false; };
    Picture frame = ReadSample("s08_sunset_warm.jpg", false);
    frame = ScaledDown(frame, frame.width / 4, frame.height / 4);
    for (uint8_t& v : frame.rgb8) v = uint8_t(16 + (v * 219 + 127) / 255);
    const ImageDesc d = DescribeRgb(frame);
    const BlobOwner blob(AllocImageBlob(&d));
    const ParamOwner param(blob ? CalcImageBlobParam(blob.get(), nullptr, nullptr) : nullptr);
    ASSERT_NE(param, nullptr);
    const auto choose = [&](Settings s) {
        Choice c;
        std::string error;
        EXPECT_TRUE(Choose(s, frame, frame.width, param.get(), c, error, never)) << error;
        return c;
    };
    const Choice chosen = choose(DefaultSettings(Command::kAuto));
    EXPECT_GE(chosen.settings.brighten, 50) << SummaryOf(chosen.outcome);
    EXPECT_FALSE(chosen.outcome.heldBack) << SummaryOf(chosen.outcome);

    Settings strong = DefaultSettings(Command::kCorrect);
    strong.brighten = 300;
    const Choice held = choose(strong);
    EXPECT_TRUE(held.outcome.heldBack);
    EXPECT_LT(held.settings.brighten, 300);
    EXPECT_GT(held.settings.brighten, 0) << "the levels' own white is not the lift's";
    bool named = false;
    for (const std::string& r : held.reasons) named |= r.find("by the levels alone") != std::string::npos;
    EXPECT_TRUE(named) << "the reason names what the levels alone turn white";
}

// A photo in a frame (a print's white border, a letterbox's black bars) is
// corrected as the photo alone: the frame's pixels stay as they came, those
// inside are the unframed photo's correction byte for byte, a region across
// the frame's edge is that area of the whole, and the choice says so.
TEST(PhotoCorrection, AFrameIsKeptAndThePhotoInsideCorrectedAlone) {
    SetFilterRecord(LxHeapHostRecord());
    const auto never = [](float) { return false; };
    Picture photo = ReadSample("s01_tungsten_indoor_wine.jpg", false);
    photo = ScaledDown(photo, photo.width / 4, photo.height / 4);
    const Settings s = DefaultSettings(Command::kAuto);
    std::string summary, error;
    Picture alone = photo;
    ASSERT_TRUE(AutoCorrectPicture(s, alone, nullptr, summary, error, never)) << error;
    struct Case {
        int level, side, band;
    };
    for (const Case c : {Case{250, 14, 10}, Case{0, 0, 40}}) {
        Picture framed;
        framed.width = photo.width + 2 * c.side, framed.height = photo.height + 2 * c.band, framed.bits = 8;
        framed.rgb8.assign(size_t(framed.width) * size_t(framed.height) * 3, uint8_t(c.level));
        for (int y = 0; y < photo.height; ++y)
            std::copy_n(photo.rgb8.begin() + std::ptrdiff_t(y) * photo.width * 3, size_t(photo.width) * 3,
                        framed.rgb8.begin() + (std::ptrdiff_t(y + c.band) * framed.width + c.side) * 3);
        Picture whole = framed, before;
        ASSERT_TRUE(AutoCorrectPicture(s, whole, &before, summary, error, never)) << error;
        EXPECT_EQ(before.rgb8, framed.rgb8) << "the picture as it came";
        size_t frameChanged = 0, insideDiffers = 0;
        for (int y = 0; y < framed.height; ++y)
            for (int x = 0; x < framed.width; ++x)
                for (int k = 0; k < 3; ++k) {
                    const size_t i = (size_t(y) * size_t(framed.width) + size_t(x)) * 3 + size_t(k);
                    const int px = x - c.side, py = y - c.band;
                    if (px < 0 || py < 0 || px >= photo.width || py >= photo.height)
                        frameChanged += whole.rgb8[i] != framed.rgb8[i];
                    else
                        insideDiffers += whole.rgb8[i] != alone.rgb8[(size_t(py) * size_t(photo.width) +
                                                                      size_t(px)) * 3 + size_t(k)];
                }
        EXPECT_EQ(frameChanged, 0u) << c.level;
        EXPECT_EQ(insideDiffers, 0u) << c.level;

        const Region across{c.side / 2, c.band / 2, 60, 50};
        Picture part = framed;
        ASSERT_TRUE(AutoCorrectRegion(s, &across, part, summary, error, never)) << error;
        EXPECT_EQ(part.rgb8, CropPicture(whole, across.x, across.y, across.w, across.h, false).rgb8) << c.level;

        const PhotoChoices choices(framed);
        EXPECT_EQ(choices.frame().left, c.side);
        EXPECT_EQ(choices.frame().top, c.band);
    }
}

}  // namespace
}  // namespace lumarex_cli
