// SPDX-License-Identifier: MIT
// The colour space of a photo's ICC profile, which the choice measures its
// colours in: primaries and curves read as colour-managed programs read
// them, an sRGB profile taken for sRGB, and a damaged or unusable profile
// for nothing (the photo then measured as sRGB).
#include <gtest/gtest.h>

#include <array>
#include <cmath>
#include <cstdint>
#include <cstring>
#include <algorithm>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "adobe_rgb.h"
#include "choice.h"
#include "colour_profile.h"
#include "support/icc_profile.h"

namespace lumarex_cli {
namespace {

using lumarex_test::DisplayP3;
using lumarex_test::kP3Blue;
using lumarex_test::kP3Green;
using lumarex_test::kP3Red;
using lumarex_test::kSrgbBlue;
using lumarex_test::kSrgbGreen;
using lumarex_test::kSrgbRed;
using lumarex_test::Profile;
using lumarex_test::SrgbPara;
using lumarex_test::SrgbTable;

// CIELAB (D65) of linear RGB through a matrix to XYZ at D65.
Lab LabOfLinear(const double (&m)[3][3], double r, double g, double b) {
    const double white[3] = {0.95047, 1.0, 1.08883};
    double f[3];
    for (int k = 0; k < 3; ++k) {
        const double t = (m[k][0] * r + m[k][1] * g + m[k][2] * b) / white[k];
        f[k] = t > 216.0 / 24389.0 ? std::cbrt(t) : (24389.0 / 27.0 * t + 16.0) / 116.0;
    }
    return {116.0 * f[1] - 16.0, 500.0 * (f[0] - f[1]), 200.0 * (f[1] - f[2])};
}

double SrgbLinear(int v) {
    const double x = v / 255.0;
    return x <= 0.04045 ? x / 12.92 : std::pow((x + 0.055) / 1.055, 2.4);
}

void ExpectLab(const Lab& got, const Lab& want, double tolerance, const std::string& what) {
    EXPECT_NEAR(got.l, want.l, tolerance) << what;
    EXPECT_NEAR(got.a, want.a, tolerance) << what;
    EXPECT_NEAR(got.b, want.b, tolerance) << what;
}

std::optional<RgbSpace> DisplayP3Space() {
    const std::vector<uint8_t> p = DisplayP3();
    return SpaceOfIccProfile(p.data(), p.size());
}

TEST(ColourProfile, WideGamutProfilesGiveTheirOwnColours) {
    // Display P3 and Adobe RGB (our own profile) against their spaces'
    // published matrices at D65: the colorants read, taken back from D50 and
    // the curves applied as a colour-managed program would.
    const double p3[3][3] = {{0.4865709, 0.2656677, 0.1982173},
                             {0.2289746, 0.6917385, 0.0792869},
                             {0.0, 0.0451134, 1.0439444}};
    const double adobe[3][3] = {{0.5767309, 0.1855540, 0.1881852},
                                {0.2973769, 0.6273491, 0.0752741},
                                {0.0270343, 0.0706872, 0.9911085}};
    const std::vector<uint8_t> p3Profile = DisplayP3();
    const std::optional<RgbSpace> p3Space = SpaceOfIccProfile(p3Profile.data(), p3Profile.size());
    const std::vector<uint8_t>& adobeProfile = AdobeRgbProfile();
    const std::optional<RgbSpace> adobeSpace = SpaceOfIccProfile(adobeProfile.data(), adobeProfile.size());
    ASSERT_TRUE(p3Space && adobeSpace);
    const int colours[][3] = {{255, 0, 0}, {0, 255, 0}, {0, 0, 255}, {255, 255, 255}, {200, 120, 40}, {30, 90, 60}};
    for (const auto& c : colours) {
        const std::string what = std::to_string(c[0]) + "," + std::to_string(c[1]) + "," + std::to_string(c[2]);
        ExpectLab(p3Space->LabOf(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])),
                  LabOfLinear(p3, SrgbLinear(c[0]), SrgbLinear(c[1]), SrgbLinear(c[2])), 0.1, "P3 " + what);
        const auto gamma = [](int v) { return std::pow(v / 255.0, 563.0 / 256.0); };
        ExpectLab(adobeSpace->LabOf(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])),
                  LabOfLinear(adobe, gamma(c[0]), gamma(c[1]), gamma(c[2])), 0.1, "Adobe RGB " + what);
        EXPECT_NEAR(p3Space->LightnessOf(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])),
                    p3Space->LabOf(uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])).l, 1e-9);
    }
    // Back to sRGB's numbers, as the choice judges a photo's key: a colour
    // inside sRGB's gamut comes back within what rounding it to 8-bit P3
    // numbers moved it (up to 3 levels where sRGB's curve is steep).
    for (const auto& c : colours) {
        uint8_t p3[3] = {uint8_t(c[0]), uint8_t(c[1]), uint8_t(c[2])};
        lumarex_test::SrgbToDisplayP3(p3);
        const std::array<uint8_t, 3> back = p3Space->SrgbOf(p3[0], p3[1], p3[2]);
        for (int k = 0; k < 3; ++k) EXPECT_NEAR(back[size_t(k)], c[k], 3) << k;
    }
    // The point of it: P3's red is far more saturated than sRGB's.
    EXPECT_GT(Chroma(p3Space->LabOf(255, 0, 0)), Chroma(LabFromSrgb8(255, 0, 0)) + 15.0);
    // Neither is sRGB, so a photo carrying one is measured in it.
    EXPECT_FALSE(p3Space->CloseToSrgb(kSrgbTolerance));
    EXPECT_FALSE(adobeSpace->CloseToSrgb(kSrgbTolerance));
}

TEST(ColourProfile, SrgbProfilesAndUnusableOnesLeaveThePhotoMeasuredAsSrgb) {
    const auto own = [](const std::vector<uint8_t>& profile) {
        OIIO::ImageSpec spec(4, 4, 3, OIIO::TypeDesc::UINT8);
        spec.attribute("ICCProfile", OIIO::TypeDesc(OIIO::TypeDesc::UINT8, int(profile.size())), profile.data());
        return OwnSpaceOf(spec).has_value();
    };
    EXPECT_TRUE(own(DisplayP3()));
    // sRGB's colorants with its curve as a formula, or as the 26 points of a
    // compact web profile: sRGB, within the last digits.
    EXPECT_FALSE(own(Profile(kSrgbRed, kSrgbGreen, kSrgbBlue, SrgbPara())));
    EXPECT_FALSE(own(Profile(kSrgbRed, kSrgbGreen, kSrgbBlue, SrgbTable(26))));
    EXPECT_FALSE(OwnSpaceOf(OIIO::ImageSpec(4, 4, 3, OIIO::TypeDesc::UINT8)).has_value()) << "no profile";
    // A grey profile; primaries that do not add up to white; a curve of an
    // unknown type; a missing curve (a table-based profile has none).
    EXPECT_FALSE(own(Profile(kP3Red, kP3Green, kP3Blue, SrgbPara(), "GRAY")));
    const double half[3] = {kP3Red[0] / 2, kP3Red[1] / 2, kP3Red[2] / 2};
    EXPECT_FALSE(own(Profile(half, kP3Green, kP3Blue, SrgbPara())));
    std::vector<uint8_t> unknown = SrgbPara();
    std::memcpy(unknown.data(), "sf32", 4);
    EXPECT_FALSE(own(Profile(kP3Red, kP3Green, kP3Blue, unknown)));
    std::vector<uint8_t> noCurve = DisplayP3();
    std::memcpy(&noCurve[128 + 4 + 12 * 5], "A2B0", 4);
    EXPECT_FALSE(own(noCurve));

    // Damaged profiles are read within their bytes (the sanitizers watch):
    // every prefix, and every byte changed.
    const std::vector<uint8_t> whole = DisplayP3();
    for (size_t n = 0; n < whole.size(); ++n) {
        const std::vector<uint8_t> prefix(whole.begin(), whole.begin() + std::ptrdiff_t(n));
        EXPECT_FALSE(SpaceOfIccProfile(prefix.data(), prefix.size()).has_value()) << n << " bytes";
    }
    for (size_t i = 0; i < whole.size(); ++i)
        for (uint8_t v : {uint8_t(0x00), uint8_t(0x7F), uint8_t(0xFF)}) {
            std::vector<uint8_t> bad = whole;
            bad[i] = v;
            if (const std::optional<RgbSpace> space = SpaceOfIccProfile(bad.data(), bad.size()))
                for (int level : {0, 128, 255}) {
                    const Lab c = space->LabOf(uint8_t(level), uint8_t(level), uint8_t(level));
                    EXPECT_TRUE(std::isfinite(c.l) && std::isfinite(c.a) && std::isfinite(c.b)) << i;
                }
        }
}

// The profiles made for a HEIF's colour description: Display P3's colorants
// as its published profile holds them, every one adding up to D50, sRGB's
// curve; only wide primaries with a curve of still pictures get one.
TEST(ColourProfile, ColourDescriptionsGetTheirSpacesProfile) {
    const DescribedSpace p3 = SpaceOfColourDescription(12, 13), bt2020 = SpaceOfColourDescription(9, 1);
    ASSERT_TRUE(p3.profile && bt2020.profile);
    EXPECT_STREQ(p3.name, "Display P3");
    EXPECT_STREQ(bt2020.name, "BT.2020");
    const auto colorant = [](const std::vector<uint8_t>& p, const char* tag, int k) {
        const auto u32 = [&](size_t at) {
            return uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
        };
        for (size_t e = 132; e < 132 + 12 * size_t(u32(128)); e += 12)
            if (std::memcmp(&p[e], tag, 4) == 0) return int32_t(u32(u32(e + 4) + 8 + 4 * size_t(k))) / 65536.0;
        return 0.0;
    };
    const double* published[3] = {kP3Red, kP3Green, kP3Blue};
    const char* tags[3] = {"rXYZ", "gXYZ", "bXYZ"};
    const double d50[3] = {0.9642, 1.0, 0.8249};
    for (const std::vector<uint8_t>* p : {p3.profile, bt2020.profile})
        for (int k = 0; k < 3; ++k) {
            double white = 0.0;
            for (int c = 0; c < 3; ++c) {
                white += colorant(*p, tags[c], k);
                if (p == p3.profile) {
                    EXPECT_NEAR(colorant(*p, tags[c], k), published[c][k], 1e-4) << tags[c] << k;
                }
            }
            EXPECT_NEAR(white, d50[k], 2 / 65536.0) << k;
        }
    const std::optional<RgbSpace> space = SpaceOfIccProfile(p3.profile->data(), p3.profile->size());
    ASSERT_TRUE(space);
    ExpectLab(space->LabOf(30, 200, 90), DisplayP3Space()->LabOf(30, 200, 90), 0.05, "P3 by its description");
    // The curve's 1024 points are rounded from values at least 1e-6 of a
    // level from a rounding boundary: a libm's pow, off in its last digits,
    // rounds them alike, so the profile has the same bytes on every build.
    double closest = 1.0;
    for (int i = 0; i < 1024; ++i) {
        const double v = i / 1023.0;
        const double level = (v <= 0.04045 ? v / 12.92 : std::pow((v + 0.055) / 1.055, 2.4)) * 65535.0;
        closest = std::min(closest, std::fabs(level - std::floor(level) - 0.5));
    }
    EXPECT_GT(closest, 1e-6);
    // HDR transfers, sRGB's primaries and DCI's (another white) get none.
    for (const auto& [primaries, transfer] : {std::pair{12, 16}, std::pair{12, 18}, std::pair{1, 13}, std::pair{11, 13},
                                             std::pair{2, 2}})
        EXPECT_EQ(SpaceOfColourDescription(primaries, transfer).profile, nullptr) << primaries << " " << transfer;
}

}  // namespace
}  // namespace lumarex_cli
