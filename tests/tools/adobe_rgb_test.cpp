// SPDX-License-Identifier: MIT
// A camera's Adobe RGB mark, found in EXIF blocks and in the files that hold
// them, and the colour profile written for it.
#include "adobe_rgb.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>

#include "exif_block.h"

namespace lumarex_test {
namespace {

namespace fs = std::filesystem;
using lumarex_cli::AdobeRgbProfile;
using lumarex_cli::ExifBlockMarksAdobeRgb;
using lumarex_cli::FileMarksAdobeRgb;

bool Marks(const std::string& b) { return ExifBlockMarksAdobeRgb(reinterpret_cast<const uint8_t*>(b.data()), b.size()); }

TEST(AdobeRgbMark, OnlyUncalibratedWithTheR03IndexMarksAdobeRgb) {
    for (const bool little : {true, false}) {
        SCOPED_TRACE(little ? "little-endian" : "big-endian");
        EXPECT_TRUE(Marks(ExifBlock(little, 65535, "R03")));
        EXPECT_TRUE(Marks(std::string("Exif\0\0", 6) + ExifBlock(little, 65535, "R03")));
        EXPECT_FALSE(Marks(ExifBlock(little, 65535, "R98")));  // sRGB
        EXPECT_FALSE(Marks(ExifBlock(little, 1, "R03")));      // says sRGB: the colour space rules
        EXPECT_FALSE(Marks(ExifBlock(little, 65535, "R0")));
    }
}

TEST(AdobeRgbMark, ADamagedBlockSaysNothing) {
    const std::string good = ExifBlock(true, 65535, "R03");
    // Cut short: the last directory's link to a next one is never read.
    for (size_t n = 0; n < good.size(); ++n) EXPECT_EQ(Marks(good.substr(0, n)), n >= good.size() - 4) << n;
    // Each byte changed in turn: never a read outside the block (the
    // sanitizers of the test build watch), and never a mark where a
    // directory's layout was broken.
    for (size_t i = 0; i < good.size(); ++i)
        for (const unsigned v : {0x00u, 0x80u, 0xFFu}) {
            std::string b = good;
            b[i] = char(v);
            if (b == good) continue;
            const bool marks = Marks(b);
            if (i < 4 || (i >= 8 && i < 10) || (i >= 38 && i < 40)) {
                EXPECT_FALSE(marks) << i << " " << v;
            }
        }
    std::string far = good;
    far[30] = char(0xF0), far[31] = far[32] = far[33] = char(0xFF);  // the EXIF directory past the end
    EXPECT_FALSE(Marks(far));
    std::string huge = good;
    huge[38] = huge[39] = char(0xFF);  // 65535 entries
    EXPECT_FALSE(Marks(huge));
    std::string wrongType = good;
    wrongType[72] = 7;  // the index as bytes, not text
    EXPECT_FALSE(Marks(wrongType));
}

class AdobeRgbFiles : public ::testing::Test {
protected:
    fs::path dir = fs::temp_directory_path() / ("lumarex-adobe-rgb-" + std::to_string(::getpid()));
    void SetUp() override { fs::create_directories(dir); }
    void TearDown() override { fs::remove_all(dir); }
    fs::path Write(const std::string& name, const std::string& bytes) {
        std::ofstream(dir / name, std::ios::binary) << bytes;
        return dir / name;
    }
    static std::string Segment(int marker, const std::string& payload) {
        const size_t n = payload.size() + 2;
        return std::string{char(0xFF), char(marker), char(n >> 8), char(n & 0xFF)} + payload;
    }
    static std::string Chunk(const char* type, const std::string& data) {
        const size_t n = data.size();
        return std::string{char(n >> 24), char(n >> 16), char(n >> 8), char(n)} + type + data + std::string(4, '\0');
    }
};

TEST_F(AdobeRgbFiles, FoundWhereEachFormatKeepsItsExif) {
    const std::string block = ExifBlock(false, 65535, "R03"), exif = std::string("Exif\0\0", 6) + block;
    const std::string soi = "\xFF\xD8", sos = Segment(0xDA, std::string(10, '\1')) + "picture data";
    const std::string app0 = Segment(0xE0, std::string("JFIF\0", 5) + std::string(9, '\0'));
    const std::string xmp = Segment(0xE1, std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<x/>");
    // Another APP1 first, and fill bytes before a marker.
    EXPECT_TRUE(FileMarksAdobeRgb(Write("a.jpg", soi + app0 + xmp + "\xFF" + Segment(0xE1, exif) + sos).string(), "jpeg"));
    EXPECT_FALSE(FileMarksAdobeRgb(Write("b.jpg", soi + app0 + sos + Segment(0xE1, exif)).string(), "jpeg"))
        << "after the picture's data begins";
    EXPECT_FALSE(FileMarksAdobeRgb(Write("c.jpg", soi + Segment(0xE1, exif).substr(0, 40)).string(), "jpeg"));

    const std::string sig = "\x89PNG\r\n\x1A\n", ihdr = Chunk("IHDR", std::string(13, '\0')), idat = Chunk("IDAT", "x");
    EXPECT_TRUE(FileMarksAdobeRgb(Write("a.png", sig + ihdr + Chunk("eXIf", block) + idat).string(), "png"));
    EXPECT_TRUE(FileMarksAdobeRgb(Write("b.png", sig + ihdr + Chunk("eXIf", exif) + idat).string(), "png"));
    EXPECT_FALSE(FileMarksAdobeRgb(Write("c.png", sig + ihdr + idat + Chunk("eXIf", block)).string(), "png"));

    // A TIFF file is itself the structure an EXIF block has.
    const fs::path tiff = Write("a.tif", block);
    EXPECT_TRUE(FileMarksAdobeRgb(tiff.string(), "tiff"));
    EXPECT_FALSE(FileMarksAdobeRgb(tiff.string(), "raw")) << "developed to sRGB whatever the camera said";
    EXPECT_FALSE(FileMarksAdobeRgb((dir / "none.jpg").string(), "jpeg"));
}

// The profile as a colour-managed program reads it: a whole, well-formed
// display profile whose colorants, taken back to D65, are Adobe RGB's
// primaries and white.
TEST(AdobeRgbProfile, DescribesAdobeRgb) {
    const std::vector<uint8_t>& p = AdobeRgbProfile();
    ASSERT_GE(p.size(), 132u);
    const auto u32 = [&](size_t at) {
        return uint32_t(p[at]) << 24 | uint32_t(p[at + 1]) << 16 | uint32_t(p[at + 2]) << 8 | p[at + 3];
    };
    const auto text = [&](size_t at, size_t n) { return std::string(reinterpret_cast<const char*>(&p[at]), n); };
    EXPECT_EQ(u32(0), p.size());
    EXPECT_EQ(u32(8), 0x02100000u);
    EXPECT_EQ(text(12, 4) + text(16, 4) + text(20, 4) + text(36, 4), "mntrRGB XYZ acsp");

    std::map<std::string, uint32_t> at;
    const uint32_t count = u32(128);
    ASSERT_LT(132 + 12 * size_t(count), p.size());
    for (uint32_t i = 0; i < count; ++i) {
        const size_t e = 132 + 12 * size_t(i);
        const uint32_t offset = u32(e + 4), size = u32(e + 8);
        EXPECT_EQ(offset % 4, 0u);
        EXPECT_GE(offset, 132 + 12 * count);
        EXPECT_LE(uint64_t(offset) + size, p.size());
        at[text(e, 4)] = offset;
    }
    for (const char* tag : {"desc", "cprt", "wtpt", "rXYZ", "gXYZ", "bXYZ", "rTRC", "gTRC", "bTRC"})
        ASSERT_TRUE(at.count(tag)) << tag;
    EXPECT_EQ(text(at["desc"] + 12, 33), std::string("Compatible with Adobe RGB (1998)\0", 33));
    for (const char* trc : {"rTRC", "gTRC", "bTRC"}) {
        EXPECT_EQ(text(at[trc], 4), "curv");
        EXPECT_EQ(u32(at[trc] + 8), 1u) << "one gamma";
        EXPECT_EQ(u32(at[trc] + 12) >> 16, 0x0233u) << "563/256";
    }

    const auto xyz = [&](const char* tag, int i) {
        EXPECT_EQ(text(at[tag], 4), "XYZ ");
        return int32_t(u32(at[tag] + 8 + 4 * size_t(i))) / 65536.0;
    };
    const double d50[3] = {0.9642, 1.0, 0.8249};
    const char* colorants[3] = {"rXYZ", "gXYZ", "bXYZ"};
    for (int i = 0; i < 3; ++i) {
        EXPECT_NEAR(xyz("wtpt", i), d50[i], 1e-4);
        EXPECT_NEAR(xyz("rXYZ", i) + xyz("gXYZ", i) + xyz("bXYZ", i), d50[i], 2 / 65536.0) << "white is D50";
    }
    // Bradford's cone response, and from D50 back to D65 in it.
    const double m[3][3] = {{0.8951, 0.2664, -0.1614}, {-0.7502, 1.7135, 0.0367}, {0.0389, -0.0685, 1.0296}};
    const double mInverse[3][3] = {
        {0.9869929, -0.1470543, 0.1599627}, {0.4323053, 0.5183603, 0.0492912}, {-0.0085287, 0.0400428, 0.9684867}};
    const double d65[3] = {0.3127 / 0.3290, 1.0, (1 - 0.3127 - 0.3290) / 0.3290};
    double scale[3];
    for (int r = 0; r < 3; ++r) {
        double a = 0, b = 0;
        for (int k = 0; k < 3; ++k) a += m[r][k] * d65[k], b += m[r][k] * d50[k];
        scale[r] = a / b;
    }
    const double primaries[3][2] = {{0.64, 0.33}, {0.21, 0.71}, {0.15, 0.06}};
    double white[3] = {0, 0, 0};
    for (int c = 0; c < 3; ++c) {
        double cone[3], back[3];
        for (int r = 0; r < 3; ++r) {
            cone[r] = 0;
            for (int k = 0; k < 3; ++k) cone[r] += m[r][k] * xyz(colorants[c], k);
            cone[r] *= scale[r];
        }
        for (int r = 0; r < 3; ++r) {
            back[r] = 0;
            for (int k = 0; k < 3; ++k) back[r] += mInverse[r][k] * cone[k];
            white[r] += back[r];
        }
        const double sum = back[0] + back[1] + back[2];
        EXPECT_NEAR(back[0] / sum, primaries[c][0], 2e-4) << colorants[c];
        EXPECT_NEAR(back[1] / sum, primaries[c][1], 2e-4) << colorants[c];
    }
    for (int i = 0; i < 3; ++i) EXPECT_NEAR(white[i], d65[i], 1e-4) << "white is D65";
}

}  // namespace
}  // namespace lumarex_test
