// SPDX-License-Identifier: MIT
// Every kind of input gives a right picture or a clear refusal: alpha,
// EXIF orientation, decompression bombs and the decoders' own messages. The inputs are built here.
#include <OpenImageIO/imagebuf.h>
#include <OpenImageIO/imagebufalgo.h>

#include <cstdio>
#include <cstring>

#include "cli_fixture.h"
#include "image_file.h"

namespace lumarex_test {
namespace {

// Reads a file's samples with colour unpremultiplied, as stored.
std::vector<uint16_t> Unassociated(const fs::path& p) {
    OIIO::ImageSpec config;
    config.attribute("oiio:UnassociatedAlpha", 1);
    return Cli::Pixels(p, &config);
}

// Channel c of every pixel of interleaved samples.
std::vector<uint16_t> Channel(const std::vector<uint16_t>& px, int channels, int c) {
    std::vector<uint16_t> out;
    for (size_t i = size_t(c); i < px.size(); i += size_t(channels)) out.push_back(px[i]);
    return out;
}

TEST_F(Cli, AlphaLeavesTheColourAsTheOpaquePhotoWouldBe) {
    // The same photo twice: opaque RGB, and RGBA whose colour is the same, its
    // alpha 50 % mostly, 0 in the first row (with colour 200, 100, 50 at its
    // first pixel) and 100 % in the last.
    const fs::path opaque = dir / "opaque.png", rgba = dir / "rgba.png", src = MakeInput("src.png");
    const OIIO::ImageSpec s = SpecOf(src);
    std::vector<uint16_t> rgb = Pixels(src);
    rgb[0] = 200 * 257, rgb[1] = 100 * 257, rgb[2] = 50 * 257;
    std::vector<uint16_t> px;
    for (int y = 0; y < s.height; ++y)
        for (int x = 0; x < s.width; ++x) {
            const uint16_t* p = &rgb[(size_t(y) * s.width + x) * 3];
            px.insert(px.end(), p, p + 3);
            px.push_back(y == 0 ? 0 : y == s.height - 1 ? 65535 : 128 * 257);
        }
    WriteImage(opaque, OIIO::ImageSpec(s.width, s.height, 3, OIIO::TypeDesc::UINT8), rgb);
    OIIO::ImageSpec a(s.width, s.height, 4, OIIO::TypeDesc::UINT8);
    a.alpha_channel = 3;
    a.attribute("oiio:UnassociatedAlpha", 1);  // store the colour as given
    WriteImage(rgba, a, px);
    const std::vector<uint16_t> alphaIn = Channel(Unassociated(rgba), 4, 3);
    for (const auto& [cmd, ext] : {std::pair{std::string("auto"), ".png"}, std::pair{std::string("correct"), ".tif"}}) {
        const fs::path a = dir / (cmd + "-opaque" + ext), b = dir / (cmd + "-rgba" + ext);
        ASSERT_EQ(Run(cmd + " " + Quoted(opaque) + " -o " + Quoted(a)).status, 0);
        const Result r = Run(cmd + " " + Quoted(rgba) + " -o " + Quoted(b));
        ASSERT_EQ(r.status, 0) << r.err;
        const std::vector<uint16_t> want = Pixels(a), got = Unassociated(b);
        ASSERT_EQ(got.size(), want.size() / 3 * 4) << cmd << ext;
        for (int c = 0; c < 3; ++c)
            EXPECT_EQ(Channel(got, 4, c), Channel(want, 3, c)) << cmd << ext << " channel " << c;
        EXPECT_EQ(Channel(got, 4, 3), alphaIn) << cmd << ext << ": alpha is copied untouched";
        EXPECT_NE(got[0], 0) << "colour under a transparent pixel is kept";
    }
}

// A stored-sideways JPEG (EXIF orientation 6) comes out as displayed, and
// so does its before/after picture.
TEST_F(Cli, OrientedPhotosComeOutAsDisplayed) {
    const fs::path src = MakeInput("src.png"), stored = dir / "stored.jpg", upright = dir / "upright.png";
    const OIIO::ImageSpec in = SpecOf(src);
    OIIO::ImageSpec spec(in.width, in.height, 3, OIIO::TypeDesc::UINT8);
    spec.attribute("Orientation", 6);
    spec.attribute("Exif:PixelXDimension", in.width);
    spec.attribute("Exif:PixelYDimension", in.height);
    WriteImage(stored, spec, Pixels(src));
    // The upright reference is OpenImageIO's own turn of the decoded JPEG.
    OIIO::ImageBuf turned = OIIO::ImageBufAlgo::reorient(OIIO::ImageBuf(stored.string()));
    turned.specmod().attribute("Orientation", 1);
    ASSERT_TRUE(turned.write(upright.string()));
    const int w = turned.spec().width, h = turned.spec().height;
    ASSERT_EQ(w, in.height);
    ASSERT_EQ(Run("auto " + Quoted(upright) + " -o " + Quoted(dir / "b.tif")).status, 0);
    const Result r = Run("auto " + Quoted(stored) + " --compare -o " + Quoted(dir / "a.tif"));
    ASSERT_EQ(r.status, 0) << r.err;
    const OIIO::ImageSpec out = SpecOf(dir / "a.tif"), cmp = SpecOf(dir / "a-compare.jpg");
    EXPECT_EQ(std::make_tuple(out.width, out.height, out.get_int_attribute("Orientation", 1)), std::make_tuple(w, h, 1));
    EXPECT_EQ(Pixels(dir / "a.tif"), Pixels(dir / "b.tif"));
    EXPECT_EQ(std::make_pair(cmp.width, cmp.height), std::make_pair(2 * w + 8, h));
    // A region is given as displayed; the metadata says the region's size.
    const std::string region = " --region 5,10,20,30 -o ";
    ASSERT_EQ(Run("correct " + Quoted(stored) + region + Quoted(dir / "ra.png")).status, 0);
    ASSERT_EQ(Run("correct " + Quoted(upright) + region + Quoted(dir / "rb.png")).status, 0);
    EXPECT_EQ(Pixels(dir / "ra.png"), Pixels(dir / "rb.png"));
    ASSERT_EQ(Run("correct " + Quoted(stored) + region + Quoted(dir / "r.jpg")).status, 0);
    const OIIO::ImageSpec cut = SpecOf(dir / "r.jpg");
    EXPECT_EQ(cut.get_int_attribute("Exif:PixelXDimension"), 20);
    EXPECT_EQ(cut.get_int_attribute("Exif:PixelYDimension"), 30);
}

// A JPEG of a few hundred bytes whose frame header claims 16000 x 16000 pixels.
void WriteJpegBomb(const fs::path& p) {
    Cli::WriteImage(p, OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT8), std::vector<uint16_t>(192, 30000));
    std::string bytes = Slurp(p);
    const size_t frame = bytes.find("\xff\xc0");  // length, precision, then height and width
    ASSERT_NE(frame, std::string::npos);
    std::ofstream(p, std::ios::binary) << bytes.replace(frame + 5, 4, "\x3e\x80\x3e\x80");
}

TEST_F(Cli, OversizedPhotosAreRefusedFromTheirHeader) {
    const fs::path bomb = dir / "bomb.jpg";
    WriteJpegBomb(bomb);
    Result r = Run("auto " + Quoted(bomb) + " -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bomb.jpg: too large: 16000x16000 is 256.0 megapixels, over the limit of 200 "
                           "(--max-megapixels raises it)"));
    // A GIF of a few bytes whose screen is 40000 x 40000: the image
    // library's reader takes memory for the whole screen as it opens the
    // file (gigabytes), so the size is read from its header first.
    std::ofstream(dir / "bomb.gif", std::ios::binary) << std::string("GIF89a\x40\x9c\x40\x9c\0\0\0;", 14);
    r = Run("auto " + Quoted(dir / "bomb.gif") + " -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bomb.gif: too large: 40000x40000 is 1600.0 megapixels")) << r.err;
    // A film scan (DPX) whose header claims a gigabyte of user data, which
    // the image library's reader takes and reads as it opens the file.
    WriteImage(dir / "scan.dpx", OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT16),
               std::vector<uint16_t>(8 * 8 * 3, 30000));
    std::string dpx = Slurp(dir / "scan.dpx");
    ASSERT_TRUE(dpx.substr(0, 4) == "SDPX" || dpx.substr(0, 4) == "XPDS");
    dpx.replace(32, 4, dpx[0] == 'S' ? std::string("\x40\0\0\0", 4) : std::string("\0\0\0\x40", 4));  // 2^30
    std::ofstream(dir / "bomb.dpx", std::ios::binary) << dpx;
    r = Run("auto " + Quoted(dir / "bomb.dpx") + " " + Quoted(dir / "scan.dpx") + " -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bomb.dpx: not a readable image file (its header claims")) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "scan.tif")) << r.err;
    // The same in a Cineon scan, whose header lays its sizes out otherwise.
    std::string cineon(2048 + 12, '\0');
    cineon.replace(0, 20, std::string("\x80\x2a\x5f\xd7\0\0\x08\0\0\0\x04\0\0\0\x04\0\x40\0\0\0", 20));
    std::ofstream(dir / "bomb.cin", std::ios::binary) << cineon;
    r = Run("auto " + Quoted(dir / "bomb.cin") + " -d " + Quoted(dir / "out"));
    EXPECT_TRUE(Has(r.err, "bomb.cin: not a readable image file (its header claims user data of 1073741824 bytes"))
        << r.err;
    // A Photoshop file whose header claims 2 GB of colour data (an indexed
    // picture's palette is 768 bytes), read as the file is opened.
    const std::string header("8BPS\0\1\0\0\0\0\0\0\0\3\0\0\0\2\0\0\0\2\0\x08\0\3", 26);
    std::ofstream(dir / "bomb.psd", std::ios::binary)
        << header << std::string("\x7f\xff\xff\0", 4) << std::string(10, '\0') << std::string(12, '\x80');
    r = Run("auto " + Quoted(dir / "bomb.psd") + " -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bomb.psd: not a readable image file (its header claims colour data of 2147483392 bytes"))
        << r.err;
    // Its layers section claiming more than the file: the reader made room
    // for 20 046 layers and said "hit end of file" for each, a megabyte.
    std::ofstream(dir / "layers.psd", std::ios::binary)
        << header << std::string(8, '\0') << "NNNN" << std::string(12, '\x80');
    r = Run("auto " + Quoted(dir / "layers.psd") + " -d " + Quoted(dir / "out"));
    EXPECT_TRUE(Has(r.err, "layers.psd: not a readable image file (its header claims layers of 1313754702 bytes"))
        << r.err;
    // An OpenEXR file one of whose header's attributes claims 2 GB, which
    // OpenEXR takes before it reads the value.
    WriteImage(dir / "light.exr", OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::HALF),
               std::vector<uint16_t>(8 * 8 * 3, 30000));
    std::string exr = Slurp(dir / "light.exr");
    const size_t attribute = exr.find(std::string("compression\0compression\0", 24));
    ASSERT_NE(attribute, std::string::npos);
    exr.replace(attribute + 24, 4, std::string("\0\0\xff\x7f", 4));
    std::ofstream(dir / "bomb.exr", std::ios::binary) << exr;
    r = Run("auto " + Quoted(dir / "bomb.exr") + " " + Quoted(dir / "light.exr") + " -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "bomb.exr: not a readable image file (its header claims an attribute of 2147418112 bytes"))
        << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "light.tif")) << r.err;

    // A 6-megapixel photo (all one grey, so that it is quick to make).
    const fs::path big = dir / "big.png";
    WriteImage(big, OIIO::ImageSpec(3000, 2000, 3, OIIO::TypeDesc::UINT8),
               std::vector<uint16_t>(size_t(3000) * 2000 * 3, 30000));
    r = Run("correct " + Quoted(big) + " --max-megapixels 5 -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "6.0 megapixels, over the limit of 5"));
    r = Run("correct " + Quoted(big) + " --max-memory 0.1 -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "over the budget of 0.1 GB (--max-memory raises it)"));
    // Jobs wait for each other within the budget rather than fail.
    const fs::path small = MakeInput("small.png"), small2 = MakeInput("small2.png");
    r = Run("correct " + Quoted(small) + " " + Quoted(small2) + " " + Quoted(big) +
            " -j 3 --max-memory 0.3 -d " + Quoted(dir / "out"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "big.png"));

    // A TIFF whose strips claim 65535 rows of a 4-row picture: the image
    // library converts whole strips at a time, 4 GB here, and the budget
    // counts that; the same file with honest strips passes.
    OIIO::ImageSpec strip(20000, 4, 3, OIIO::TypeDesc::UINT8);
    strip.attribute("tiff:RowsPerStrip", 4);
    WriteImage(dir / "strips.tif", strip, std::vector<uint16_t>(size_t(20000) * 4 * 3, 30000));
    std::string tiff = Slurp(dir / "strips.tif");
    ASSERT_EQ(tiff.substr(0, 2), "II");
    const auto le = [&](size_t at, int n) {
        uint32_t v = 0;
        for (int i = n - 1; i >= 0; --i) v = v << 8 | uint8_t(tiff.at(at + size_t(i)));
        return v;
    };
    const uint32_t ifd = le(4, 4);
    bool patched = false;
    for (uint32_t e = 0; e < le(ifd, 2); ++e) {
        const size_t entry = ifd + 2 + 12 * e;
        if (le(entry, 2) != 278) continue;  // RowsPerStrip, a SHORT here
        ASSERT_EQ(le(entry + 2, 2), 3u);
        tiff[entry + 8] = char(0xff), tiff[entry + 9] = char(0xff);
        patched = true;
    }
    ASSERT_TRUE(patched);
    std::ofstream(dir / "tall-strips.tif", std::ios::binary) << tiff;
    r = Run("correct " + Quoted(dir / "tall-strips.tif") + " " + Quoted(dir / "strips.tif") + " --max-memory 2 -d " +
            Quoted(dir / "out"));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "tall-strips.tif: too large: 20000x4 needs about 4.0 GB of memory")) << r.err;
    EXPECT_TRUE(fs::exists(dir / "out" / "strips.tif"));
}

// Bad files, a named pipe and a device among them, get one line each at
// once, the decoder's reason in it and no line of the decoder's own; the
// good file among them is still corrected and nothing is written for the bad ones.
// An AVI holding `frames` copies of one JPEG picture (Motion JPEG), as a
// camera records a clip: a video the image library's video reader decodes.
std::string MotionJpegAvi(const std::string& jpeg, int width, int height, int frames) {
    const auto u32 = [](uint32_t v) { return std::string{char(v), char(v >> 8), char(v >> 16), char(v >> 24)}; };
    const auto u16 = [](uint32_t v) { return std::string{char(v), char(v >> 8)}; };
    const auto chunk = [&](const std::string& id, const std::string& data) {
        return id + u32(uint32_t(data.size())) + data + (data.size() % 2 ? std::string(1, '\0') : "");
    };
    const auto list = [&](const std::string& id, const std::string& data) {
        return "LIST" + u32(uint32_t(data.size() + 4)) + id + data;
    };
    const uint32_t w = uint32_t(width), h = uint32_t(height), n = uint32_t(frames), size = uint32_t(jpeg.size());
    const std::string avih = u32(40000) + u32(0) + u32(0) + u32(0x10) + u32(n) + u32(0) + u32(1) + u32(size) +
                             u32(w) + u32(h) + std::string(16, '\0');
    const std::string strh = "vidsMJPG" + u32(0) + u16(0) + u16(0) + u32(0) + u32(1) + u32(25) + u32(0) + u32(n) +
                             u32(size) + u32(0xFFFFFFFF) + u32(0) + std::string(8, '\0');
    const std::string strf = u32(40) + u32(w) + u32(h) + u16(1) + u16(24) + "MJPG" + u32(w * h * 3) + u32(0) +
                             u32(0) + u32(0) + u32(0);
    std::string movi, index;
    for (uint32_t i = 0, at = 4; i < n; ++i, at += 8 + size + size % 2) {
        movi += chunk("00dc", jpeg);
        index += "00dc" + u32(0x10) + u32(at) + u32(size);
    }
    const std::string stream = list("strl", chunk("strh", strh) + chunk("strf", strf));
    const std::string body =
        "AVI " + list("hdrl", chunk("avih", avih) + stream) + list("movi", movi) + chunk("idx1", index);
    return "RIFF" + u32(uint32_t(body.size())) + body;
}

// A FITS cube of `slices` grey pictures, as a telescope's software writes
// one: a volume, which the image library reads as that many pictures.
// An uncompressed 24-bit DirectDraw surface whose blue mask is empty.
std::string DdsWithoutBlue(uint32_t width, uint32_t height) {
    std::string dds = "DDS ";
    const auto put = [&dds](std::initializer_list<uint32_t> values) {
        for (const uint32_t v : values) dds += {char(v), char(v >> 8), char(v >> 16), char(v >> 24)};
    };
    put({124, 0x100F, height, width, width * 3, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0});
    // The pixel format (RGB, 24 bits, red and green masks), the caps.
    put({32, 0x40, 0, 24, 0xFF0000, 0xFF00, 0, 0, 0x1000, 0, 0, 0, 0});
    return dds + std::string(width * height * 3, '\x40');
}

std::string FitsCube(int width, int height, int slices) {
    std::string fits;
    const auto card = [&fits](const char* key, const std::string& value) {
        char text[81];
        std::snprintf(text, sizeof text, "%-8s= %20s", key, value.c_str());
        fits += std::string(text) + std::string(80 - std::strlen(text), ' ');
    };
    card("SIMPLE", "T");
    card("BITPIX", "8");
    card("NAXIS", "3");
    card("NAXIS1", std::to_string(width));
    card("NAXIS2", std::to_string(height));
    card("NAXIS3", std::to_string(slices));
    fits += "END" + std::string(77, ' ');
    fits.resize(2880, ' ');
    fits += std::string(size_t(width) * height * slices, '\x60');
    fits.resize((fits.size() + 2879) / 2880 * 2880, '\0');
    return fits;
}

TEST_F(Cli, BadFilesGetOneLineEachAndTheRestIsProcessed) {
    const std::string png = Slurp(MakeInput("good.png"));
    std::string flipped = png;
    for (size_t i = png.size() / 2; i < png.size() / 2 + 16; ++i) flipped[i] = char(~flipped[i]);
    std::ofstream(dir / "flipped.png", std::ios::binary) << flipped;
    std::ofstream(dir / "cut.png", std::ios::binary) << png.substr(0, png.size() / 3);
    std::ofstream(dir / "notes.txt") << "not a photo\n";
    ASSERT_EQ(::mkfifo((dir / "pipe.png").c_str(), 0600), 0);
    // Not photos, though the image library reads them: a clip (its first
    // frame was corrected as a picture) and any name ending in .null (it made
    // up a blank picture).
    const fs::path frame = MakeInput("frame.jpg");
    const OIIO::ImageSpec spec = OIIO::ImageInput::open(frame.string())->spec();
    std::ofstream(dir / "clip.avi", std::ios::binary) << MotionJpegAvi(Slurp(frame), spec.width, spec.height, 2);
    std::ofstream(dir / "blank.null") << "not a photo\n";
    // A 3D program's render, whose reader in the image library writes out of
    // bounds on a damaged file.
    WriteImage(dir / "render.iff", OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT8),
               std::vector<uint16_t>(8 * 8 * 3, 30000));
    // An icon, whose reader corrupted the heap on a damaged one.
    WriteImage(dir / "icon.ico", OIIO::ImageSpec(8, 8, 3, OIIO::TypeDesc::UINT8),
               std::vector<uint16_t>(8 * 8 * 3, 30000));
    // A DirectDraw surface whose blue has no bits: the image library's
    // reader looked for the mask's lowest bit for ever.
    std::ofstream(dir / "nomask.dds", std::ios::binary) << DdsWithoutBlue(12, 8);
    // A volume, read as one picture it overran the room of one.
    std::ofstream(dir / "cube.fits", std::ios::binary) << FitsCube(6, 12, 8);
    // A Photoshop file of one channel in RGB mode, 2 x 2: the image
    // library's reader read the two channels that are not there.
    std::ofstream(dir / "grey-rgb.psd", std::ios::binary)
        << std::string("8BPS\0\1\0\0\0\0\0\0\0\1\0\0\0\2\0\0\0\2\0\x08\0\3", 26) << std::string(14, '\0')
        << std::string(4, '\x80');
    const std::vector<std::string> bad = {"flipped.png", "cut.png",    "missing.jpg", "notes.txt",
                                          "pipe.png",    "/dev/zero",  "clip.avi",    "blank.null",
                                          "render.iff",  "cube.fits",  "grey-rgb.psd", "icon.ico",
                                          "nomask.dds",  "good.png/in.jpg"};
    std::vector<std::string> args{"auto"};
    for (const std::string& name : bad) args.push_back((dir / name).string());
    args.insert(args.end(), {(dir / "good.png").string(), "-d", (dir / "out").string()});
    EXPECT_EQ(Finish(StartCommand(dir, args), 60), 1) << "a named pipe or a device never blocks the run";
    const std::string err = Slurp(dir / "stderr");
    EXPECT_TRUE(fs::exists(dir / "out" / "good.png"));
    // The command's lines (a sanitizer build may add its own report after them).
    std::vector<std::string> lines;
    std::istringstream stream(err);
    for (std::string l; std::getline(stream, l);) {
        EXPECT_NE(l.rfind("libpng", 0), 0u) << "a decoder's own line: " << l;
        if (l.rfind("lumarex: ", 0) == 0) lines.push_back(l);
    }
    ASSERT_EQ(lines.size(), bad.size()) << err;
    const auto lineOf = [&](const std::string& name) {
        for (const std::string& l : lines)
            if (l.rfind("lumarex: " + (dir / name).string() + ": ", 0) == 0) return l;
        return std::string("no line for " + name);
    };
    EXPECT_TRUE(Has(lineOf("flipped.png"), "PNG")) << "the decoder's reason: " << err;
    EXPECT_TRUE(Has(lineOf("missing.jpg"), "no such file")) << err;
    EXPECT_TRUE(Has(lineOf("good.png/in.jpg"), "cannot be opened (Not a directory)")) << err;
    EXPECT_TRUE(Has(lineOf("pipe.png"), "is a named pipe, not an image file"));
    EXPECT_TRUE(Has(lineOf("/dev/zero"), "is a character device, not an image file"));
    EXPECT_TRUE(Has(lineOf("clip.avi"), "is a video, not a photo")) << err;
    EXPECT_TRUE(Has(lineOf("blank.null"), "not an image file")) << err;
    EXPECT_TRUE(Has(lineOf("render.iff"), "is a Maya IFF render, not a photo")) << err;
    EXPECT_TRUE(Has(lineOf("icon.ico"), "is an icon (ICO), not a photo")) << err;
    EXPECT_TRUE(Has(lineOf("nomask.dds"), "a DDS picture whose blue channel has no bits")) << err;
    EXPECT_TRUE(Has(lineOf("cube.fits"), "unsupported: a volume of 8 slices")) << err;
    EXPECT_TRUE(Has(lineOf("grey-rgb.psd"), "its Photoshop colour mode needs 3 channels, its header gives 1")) << err;
    for (const char* name : {"cut.png", "notes.txt"}) EXPECT_EQ(lineOf(name).rfind("lumarex: ", 0), 0u) << err;
    for (const std::string& name : bad) EXPECT_FALSE(fs::exists(dir / "out" / fs::path(name).filename())) << name;
}

// A reader's message said once per element of a damaged file is cut to its
// first words, at a word, never inside a character.
TEST(ReaderMessages, ALongMessageIsCutToItsFirstWords) {
    std::string said;
    for (int i = 0; i < 20000; ++i) said += "Read error: hit end of file\n";
    const std::string line = lumarex_cli::OneLine(said);
    EXPECT_LE(line.size(), 304u);
    EXPECT_EQ(line.rfind("Read error: hit end of file Read error:", 0), 0u) << line;
    EXPECT_EQ(line.substr(line.size() - 4), " ...");
    EXPECT_EQ(line.find('\n'), std::string::npos);
    const std::string accented = lumarex_cli::OneLine(std::string(400, 'x') + "\xc3\xa9");
    const std::string cut = lumarex_cli::OneLine(std::string(299, 'x') + "\xc3\xa9" + std::string(100, 'y'));
    EXPECT_EQ(cut, std::string(299, 'x') + " ...") << "the two bytes of one character are kept or cut together";
    EXPECT_EQ(lumarex_cli::OneLine("short\n"), "short");
    EXPECT_EQ(accented.size(), 304u);
}

// A file name in another system's encoding (not UTF-8) is analysed like any
// other: its odd bytes become U+FFFD in the JSON, and the photos after it
// are still printed.
TEST_F(Cli, NamesThatAreNotUtf8AreAnalysed) {
    const fs::path latin1 = dir / "caf\xe9.png";
    std::error_code refused;
    fs::copy_file(MakeInput("good.png"), latin1, refused);
    if (refused) GTEST_SKIP() << "this file system takes only UTF-8 names";
    const Result r = Run("analyse " + Quoted(latin1) + " " + Quoted(dir / "good.png"));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_TRUE(Has(r.out, "caf\xef\xbf\xbd.png\","));
    EXPECT_TRUE(Has(r.out, "good.png\","));
}

}  // namespace
}  // namespace lumarex_test
