// SPDX-License-Identifier: MIT
// PNG outputs carry the photo's EXIF in one eXIf chunk before the pixels,
// upright (orientation 1), without the image library's per-tag and
// internal text, and a PNG input's eXIf is read, so it survives PNG to PNG.
#include <OpenImageIO/tiffutils.h>
#include <zlib.h>

#include <utility>

#include "cli_fixture.h"
#include "png_file.h"

namespace lumarex_test {
namespace {

// The PNG file's chunks in order, type and data, each checked against its CRC.
std::vector<std::pair<std::string, std::string>> Chunks(const fs::path& p) {
    const std::string b = Slurp(p);
    const auto be32 = [&](size_t at) {
        uint32_t v = 0;
        for (size_t i = 0; i < 4; ++i) v = v << 8 | uint8_t(b.at(at + i));
        return v;
    };
    std::vector<std::pair<std::string, std::string>> out;
    for (size_t at = 8; at + 12 <= b.size(); at += 12 + be32(at)) {
        const uint32_t n = be32(at);
        out.emplace_back(b.substr(at + 4, 4), b.substr(at + 8, n));
        EXPECT_EQ(crc32(0L, reinterpret_cast<const Bytef*>(b.data() + at + 4), n + 4), be32(at + 8 + n)) << p;
    }
    return out;
}

// Checks the EXIF of the PNG file at `p` against `want` (the camera's), and
// that nothing else carries it: one eXIf chunk, before the pixels, in TIFF
// form with the first directory's tags in order, saying orientation 1, and
// no text chunk of a tag, of the image library's own, and no offset.
void ExpectExifChunk(const fs::path& p, const OIIO::ImageSpec& want) {
    SCOPED_TRACE(p.filename().string());
    std::string order, exif;  // the chunks' types, four letters each
    for (const auto& [type, data] : Chunks(p)) {
        order += type;
        if (type == "eXIf") exif = data;
        const std::string keyword = type == "tEXt" ? data.substr(0, data.find('\0')) : "";
        for (const char* gone : {"Make", "Exif:", "oiio:", "ICCProfile:"})
            EXPECT_NE(keyword.rfind(gone, 0), 0u) << keyword;
    }
    const size_t at = order.find("eXIf");
    ASSERT_NE(at, std::string::npos) << order;
    EXPECT_TRUE(at < order.find("IDAT") && order.find("eXIf", at + 4) == std::string::npos) << order;
    EXPECT_EQ(order.find("oFFs"), std::string::npos) << order;
    EXPECT_EQ(order.substr(order.size() - 4), "IEND");
    ASSERT_GE(exif.size(), 8u);
    const bool little = exif.compare(0, 4, std::string("II*\0", 4)) == 0;
    EXPECT_TRUE(little || exif.compare(0, 4, std::string("MM\0*", 4)) == 0);
    const auto get = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(uint8_t(exif.at(at + i))) << (8 * (little ? i : n - 1 - i));
        return v;
    };
    const uint32_t ifd = get(4, 4), entries = get(ifd, 2);
    for (uint32_t e = 1; e < entries; ++e) EXPECT_LT(get(ifd + 2 + 12 * (e - 1), 2), get(ifd + 2 + 12 * e, 2));

    OIIO::ImageSpec got;
    ASSERT_TRUE(OIIO::decode_exif(OIIO::string_view(exif), got));
    EXPECT_EQ(got.get_string_attribute("Make"), want.get_string_attribute("Make"));
    EXPECT_EQ(got.get_string_attribute("Exif:DateTimeOriginal"), want.get_string_attribute("Exif:DateTimeOriginal"));
    EXPECT_FLOAT_EQ(got.get_float_attribute("ExposureTime"), want.get_float_attribute("ExposureTime"));
    EXPECT_EQ(got.get_int_attribute("Orientation"), 1);
}

// A camera's JPEG, stored turned (orientation 6), corrected to PNG; and a
// 16-bit PNG with the same EXIF in its eXIf chunk, still turned, which is
// read through that chunk, turned upright and written again at 16 bits.
TEST_F(Cli, PngOutputsCarryTheExifInOneExifChunk) {
    const fs::path made = MakeInput("made.jpg");
    OIIO::ImageSpec camera = SpecOf(made);
    camera.attribute("Orientation", 6);
    camera.attribute("Model", "Z 50");  // after the orientation, whose tag number is higher
    camera.attribute("Exif:DateTimeOriginal", "2023:06:17 18:42:05");
    camera.attribute("ExposureTime", 1.0f / 250);
    WriteImage(dir / "camera.jpg", camera, Pixels(made));
    Result r = Run("auto " + Quoted(dir / "camera.jpg") + " -o " + Quoted(dir / "out.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    ExpectExifChunk(dir / "out.png", camera);

    // The 16-bit input: the image library's PNG fed to the command's
    // stream a byte at a time.
    OIIO::ImageSpec deep = camera;
    deep.set_format(OIIO::TypeDesc::UINT16);
    WriteImage(dir / "plain.png", deep, Pixels(made));
    {
        OIIO::Filesystem::IOFile file((dir / "deep.png").string(), OIIO::Filesystem::IOProxy::Write);
        lumarex_cli::PngMetadataStream stream(deep, "", file);
        for (const char& byte : Slurp(dir / "plain.png")) stream.write(&byte, 1);
        ASSERT_TRUE(stream.Complete());
    }
    // A writer that puts in an eXIf of its own (newer image libraries do)
    // still gives one, the stream's: here the file above, written again.
    {
        OIIO::Filesystem::IOFile file((dir / "twice.png").string(), OIIO::Filesystem::IOProxy::Write);
        lumarex_cli::PngMetadataStream stream(deep, "", file);
        const std::string bytes = Slurp(dir / "deep.png");
        stream.write(bytes.data(), bytes.size());
        ASSERT_TRUE(stream.Complete());
    }
    int exifChunks = 0;
    for (const auto& [type, data] : Chunks(dir / "twice.png")) exifChunks += type == "eXIf";
    EXPECT_EQ(exifChunks, 1);
    r = Run("correct " + Quoted(dir / "deep.png") + " -o " + Quoted(dir / "deep-out.png"));
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "turned upright from EXIF orientation 6"));
    ExpectExifChunk(dir / "deep-out.png", camera);
    EXPECT_EQ(SpecOf(dir / "deep-out.png").format, OIIO::TypeDesc::UINT16);
}

}  // namespace
}  // namespace lumarex_test
