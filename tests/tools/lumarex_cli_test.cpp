// SPDX-License-Identifier: MIT
// The lumarex command, run as a user runs it, on bundled photos.
#include "cli_fixture.h"

#include <OpenImageIO/strutil.h>

#include <algorithm>

namespace lumarex_test {
namespace {

// FNV-1a over the decoded samples (16-bit scale) of a written photo.
uint64_t PixelHash(const fs::path& p) {
    uint64_t h = 1469598103934665603ull;
    for (uint16_t v : Cli::Pixels(p)) {
        h = (h ^ (v & 0xff)) * 1099511628211ull;
        h = (h ^ (v >> 8)) * 1099511628211ull;
    }
    return h;
}

TEST_F(Cli, GoldenCorrections) {
    const fs::path flat = MakeInput("flat.png");
    const fs::path deep = MakeInput("deep.tif", 3, OIIO::TypeDesc::UINT16);
    struct Case {
        std::string args;  // OUT stands for the output file
        const char* ext;
        const char* hash;
    };
    const std::string kFirst = " --cast on --cast-method average --black-clip 0.3 --guard off --shadow-floor 12 --key off --cast-strength 0.7";
    const std::vector<Case> cases = {
        {"auto " + Quoted(flat) + " -o OUT", ".png", "b38a5fc6b98ee693"},
        {"auto " + Quoted(flat) + " -o OUT --black-clip 0.3 --target 65", ".png", "4b77341348591057"},
        {"correct " + Quoted(flat) + " -o OUT", ".png", "b38a5fc6b98ee693"},
        {"correct " + Quoted(deep) + " -o OUT", ".tif", "dbe5f4f14d6b37d1"},
        {"correct " + Quoted(deep) + " -o OUT --black-clip 0.5 --target 55", ".tif", "7046b270e7164ff6"},
        {"correct " + Quoted(deep) + " -o OUT --region 10,20,40,30", ".png", "65bda38c35be9bb0"},
        // The first defaults of `correct`, given as options, give its first
        // results: the defaults changed, the correction did not.
        {"correct " + Quoted(flat) + " -o OUT" + kFirst, ".png", "027b9d41937a1533"},
        {"correct " + Quoted(deep) + " -o OUT" + kFirst, ".tif", "95bb73c9f8627cc5"},
        {"correct " + Quoted(deep) + " -o OUT --region 10,20,40,30" + kFirst, ".png", "71e47f96d4aae86e"},
    };
    int k = 0;
    for (const Case& c : cases) {
        std::string a = c.args;
        fs::path out = dir / "g";
        out += std::to_string(k++) + c.ext;
        a.replace(a.find("OUT"), 3, Quoted(out));
        const Result r = Run(a);
        ASSERT_EQ(r.status, 0) << a << r.err;
        char hex[20];
        std::snprintf(hex, sizeof hex, "%016llx", (unsigned long long)PixelHash(out));
        EXPECT_STREQ(hex, c.hash) << a;
    }
}

TEST_F(Cli, RoundTripsPngJpegAndTiffKeepingMetadata) {
    for (const std::string& ext : std::vector<std::string>{".png", ".jpg", ".tif"}) {
        const fs::path in = MakeInput("in" + ext);
        const fs::path out = dir / ("out" + ext);
        const Result r = Run("auto " + Quoted(in) + " -o " + Quoted(out));
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        const OIIO::ImageSpec a = SpecOf(in), b = SpecOf(out);
        EXPECT_EQ(std::make_tuple(b.width, b.height, b.nchannels, b.format == OIIO::TypeDesc::UINT8),
                  std::make_tuple(a.width, a.height, 3, true)) << ext;
        EXPECT_EQ(b.get_string_attribute("ImageDescription"), "wine glass test photo") << ext;
        const OIIO::ParamValue* icc = b.find_attribute("ICCProfile");
        ASSERT_NE(icc, nullptr) << ext << " lost its colour profile";
        EXPECT_EQ(icc->type().size(), 8708u);
        EXPECT_EQ(b.get_string_attribute("Make"), "Test Camera Co.") << ext;
        EXPECT_NE(Slurp(in), Slurp(out));
    }
    EXPECT_TRUE(NoTemporariesLeft());
}

// A TIFF written from a photo without a date carries none, rather than the
// time it was written: the same correction gives the same bytes. A photo's
// own date is kept, beside the rest of its description, and so is its ISO
// speed, which the image library's TIFF writer left out.
TEST_F(Cli, ATiffCarriesThePhotosDateNotTheTimeOfWritingAndItsIso) {
    OIIO::ImageSpec spec(24, 16, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("Make", "Test Camera Co.");
    spec.attribute("Exif:PhotographicSensitivity", 400);
    const fs::path undated = dir / "undated.jpg", dated = dir / "dated.jpg";
    WriteImage(undated, spec, std::vector<uint16_t>(24 * 16 * 3, 30000));
    spec.attribute("DateTime", "2026:01:02 03:04:05");
    WriteImage(dated, spec, std::vector<uint16_t>(24 * 16 * 3, 30000));
    for (const fs::path& in : {undated, dated}) {
        const fs::path out = dir / (in.stem().string() + ".tif");
        ASSERT_EQ(Run("auto " + Quoted(in) + " -o " + Quoted(out)).status, 0);
        const OIIO::ImageSpec b = SpecOf(out);
        EXPECT_EQ(b.get_string_attribute("DateTime"), in == dated ? "2026:01:02 03:04:05" : "") << out;
        EXPECT_EQ(b.get_string_attribute("Make"), "Test Camera Co.") << out;
        EXPECT_EQ(TiffExifValue(Slurp(out), 0x8827), 400) << out;  // the image library does not read it back
    }
    // Read from a TIFF too, where the image library leaves it out.
    const fs::path again = dir / "again.jpg";
    ASSERT_EQ(Run("auto " + Quoted(dir / "dated.tif") + " -o " + Quoted(again)).status, 0);
    EXPECT_EQ(SpecOf(again).get_int_attribute("Exif:PhotographicSensitivity"), 400);
}

// The tags of the EXIF block's first directory as the file stores them: the
// block found by its TIFF header, which comes before the pixels in every
// format written here.
std::vector<uint32_t> FirstDirectoryTags(const std::string& file) {
    size_t at = std::min(file.find(std::string("II*\0", 4)), file.find(std::string("MM\0*", 4)));
    if (at == std::string::npos) return {};
    const bool little = file[at] == 'I';
    const auto get = [&](size_t from, int n) {
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(uint8_t(file.at(at + from + i))) << (8 * (little ? i : n - 1 - i));
        return v;
    };
    const uint32_t ifd = get(4, 4), entries = get(ifd, 2);
    std::vector<uint32_t> tags;
    for (uint32_t k = 0; k < entries; ++k) tags.push_back(get(ifd + 2 + 12 * k, 2));
    return tags;
}

// A photo turned upright is written with orientation 1, an attribute set
// after the camera's; readers expect a directory's tags by number, so the
// EXIF block lists them in that order in every format that carries one.
TEST_F(Cli, ExifTagsAreWrittenInOrder) {
    OIIO::ImageSpec spec(24, 16, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("Orientation", 6);
    spec.attribute("Make", "Test Camera Co.");
    spec.attribute("DateTime", "2026:01:02 03:04:05");
    const fs::path in = dir / "turned.jpg";
    WriteImage(in, spec, std::vector<uint16_t>(24 * 16 * 3, 30000));
    for (const char* ext : {".jpg", ".png", ".webp"}) {
        const fs::path out = dir / (std::string("out") + ext);
        const Result r = Run("auto " + Quoted(in) + " -o " + Quoted(out));
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        const std::vector<uint32_t> tags = FirstDirectoryTags(Slurp(out));
        EXPECT_GE(tags.size(), 3u) << ext;
        EXPECT_TRUE(std::is_sorted(tags.begin(), tags.end())) << ext;
        EXPECT_EQ(SpecOf(out).get_int_attribute("Orientation", 1), 1) << ext;
    }
}

// IPTC credits come out once, however often the photo is corrected, and a
// TIFF keeps them too: the image library also writes each record from its
// other name (EXIF's Artist, ImageDescription, Copyright), and the creator
// had grown to "Jane Doe; John Roe; Jane Doe; Jane Doe" after two
// corrections; a TIFF had no IPTC block at all.
TEST_F(Cli, IptcCreditsStayOnceThroughRepeatedCorrections) {
    OIIO::ImageSpec spec(24, 16, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("IPTC:Creator", "Jane Doe; John Roe");
    spec.attribute("IPTC:Caption", "Bridge in the haze");
    spec.attribute("IPTC:CopyrightNotice", "(c) JD 2026");
    spec.attribute("IPTC:City", "Lisbon");
    fs::path in = dir / "credits.jpg";
    WriteImage(in, spec, std::vector<uint16_t>(24 * 16 * 3, 30000));
    for (const char* out : {"pass1.jpg", "pass2.tif", "pass3.jpg"}) {
        const Result r = Run("auto " + Quoted(in) + " -o " + Quoted(dir / out));
        ASSERT_EQ(r.status, 0) << r.err;
        in = dir / out;
        const OIIO::ImageSpec b = SpecOf(in);
        std::vector<std::string> creators = OIIO::Strutil::splits(b.get_string_attribute("IPTC:Creator"), "; ");
        std::sort(creators.begin(), creators.end());
        EXPECT_EQ(creators, (std::vector<std::string>{"Jane Doe", "John Roe"})) << out;
        EXPECT_EQ(b.get_string_attribute("ImageDescription"), "Bridge in the haze") << out;
        EXPECT_EQ(b.get_string_attribute("IPTC:CopyrightNotice"), "(c) JD 2026") << out;
        EXPECT_EQ(b.get_string_attribute("IPTC:City"), "Lisbon") << out;
    }
    // Each text once in the IPTC block, beside its EXIF copy (and the
    // caption's JPEG comment).
    const std::string file = Slurp(in);
    const auto count = [&file](const std::string& what) {
        size_t n = 0;
        for (size_t at = file.find(what); at != std::string::npos; at = file.find(what, at + 1)) ++n;
        return n;
    };
    EXPECT_EQ(count("John Roe"), 1u);
    EXPECT_EQ(count("Jane Doe"), 2u);
    EXPECT_EQ(count("(c) JD 2026"), 2u);
    EXPECT_EQ(count("Bridge in the haze"), 3u);
}

TEST_F(Cli, EachOptionHasOneUnitAndOneRangeInEveryCommand) {
    const fs::path in = MakeInput("p.png");
    const std::pair<std::string, std::string> bad[] = {
        {"--black-clip 6", "--black-clip: must be between 0 and 5, got '6'"},
        {"--target 62", "--target: must be a multiple of 5, got '62'"},
        {"--brighten lots", "--brighten: expects auto|0..300, got 'lots'"},
        {"--cast-method purple", "--cast-method"},
        {"--no-such-option", "--no-such-option"},
        {"--quality 0", "--quality: must be between 1 and 100, got '0'"},
        // The file options read numbers as the settings do: decimal,
        // finite, nothing after them.
        {"--quality 95x", "--quality: expects a whole number 1..100, got '95x'"},
        {"-j 0x2", "--jobs: expects a whole number 1..64, got '0x2'"},
        {"--max-megapixels nan", "--max-megapixels: expects a number 1..268, got 'nan'"},
        {"--max-memory inf", "--max-memory: expects a number 0.1..1000000, got 'inf'"}};
    // Without inputs, without an output, into a missing folder, outputs that
    // would collide (which do: OutputPlan's test), or no command at all: a
    // usage error too, before any work.
    fs::create_directories(dir / "a"), fs::create_directories(dir / "b");
    const std::string twins = Quoted(MakeInput("a/same.png")) + " " + Quoted(MakeInput("b/same.png"));
    for (const std::string& args : std::vector<std::string>{"auto", "auto " + Quoted(in), "frobnicate",
                                                            "auto " + Quoted(in) + " -o " + Quoted(dir / "nosuch" / "o.png"),
                                                            "auto " + twins + " -j 2 -d " + Quoted(dir / "out")}) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    EXPECT_FALSE(fs::exists(dir / "out")) << "nothing is corrected, and no folder is made for it";
    EXPECT_TRUE(Has(Run("auto " + Quoted(in) + " -o " + Quoted(dir)).err, "is a folder; -d FOLDER writes into a folder"));
    for (const std::string cmd : {"auto", "correct"}) {
        const std::string base = cmd + " " + Quoted(in) + " -o " + Quoted(dir / "o.png");
        // "090" is ninety, not a malformed octal number.
        EXPECT_EQ(Run(base + " --black-clip 0.5 --target 65 --quality 090 -j 08").status, 0) << cmd;
        for (const auto& [args, says] : bad) {
            const Result r = Run(base + " " + args);
            EXPECT_EQ(r.status, 2) << cmd << " " << args;
            EXPECT_TRUE(Has(r.err, says)) << cmd;
            EXPECT_EQ(r.err.rfind("lumarex " + cmd + ": ", 0), 0u) << r.err;
        }
    }
}

// A grey photo stays grey, without the RGB profile it came with; `auto`
// works on 8 bits; a region outside the photo writes nothing. (A region of
// 16 bits kept at 16: python.module's test against the command.)
TEST_F(Cli, GreyAndSixteenBitPhotosAndRegions) {
    const fs::path deep = MakeInput("deep.tif", 3, OIIO::TypeDesc::UINT16), grey = MakeInput("grey.tif", 1);
    Result r = Run("auto " + Quoted(grey) + " " + Quoted(deep) + " -d " + Quoted(dir / "auto"));
    ASSERT_EQ(r.status, 0) << r.err;
    const OIIO::ImageSpec greyOut = SpecOf(dir / "auto" / "grey.tif");
    EXPECT_EQ(greyOut.nchannels, 1);
    EXPECT_EQ(greyOut.find_attribute("ICCProfile"), nullptr);
    EXPECT_TRUE(Has(r.out, "dropped its RGB colour profile, which does not describe the grey pixels written"));
    EXPECT_TRUE(Has(r.out, "reduced to 8 bits"));
    r = Run("correct " + Quoted(deep) + " --region 90,20,40,30 -o " + Quoted(dir / "off.png"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "leaves the"));
    EXPECT_FALSE(fs::exists(dir / "off.png"));
    EXPECT_TRUE(NoTemporariesLeft());
}

}  // namespace
}  // namespace lumarex_test
