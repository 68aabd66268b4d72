// SPDX-License-Identifier: MIT
// The lumarex command, run as a user runs it, on bundled photos.
#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

namespace fs = std::filesystem;

namespace {

struct Result {
    int status = -1;
    std::string out, err;
};

std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

class Cli : public ::testing::Test {
protected:
    fs::path dir;
    void SetUp() override {
        dir = fs::temp_directory_path() /
              ("lumarex-cli-" + std::string(::testing::UnitTest::GetInstance()->current_test_info()->name()) + "-" +
               std::to_string(::getpid()));
        fs::remove_all(dir);
        fs::create_directories(dir);
    }
    void TearDown() override { fs::remove_all(dir); }

    Result Run(const std::string& args) {
        const std::string cmd = std::string("\"") + LUMAREX_CLI + "\" " + args + " >\"" + (dir / "stdout").string() +
                                "\" 2>\"" + (dir / "stderr").string() + "\"";
        const int raw = std::system(cmd.c_str());
        Result r;
        r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
        r.out = Slurp(dir / "stdout");
        r.err = Slurp(dir / "stderr");
        fs::remove(dir / "stdout");
        fs::remove(dir / "stderr");
        return r;
    }

    // A small copy of sample s01 in the given format, with metadata of its
    // own: an ICC profile, a description and a camera make.
    fs::path MakeInput(const std::string& name, int channels = 3, OIIO::TypeDesc type = OIIO::TypeDesc::UINT8) {
        auto in = OIIO::ImageInput::open(std::string(LUMAREX_SAMPLES_DIR) + "/s01_tungsten_indoor_wine.jpg");
        EXPECT_TRUE(in);
        const int w = in->spec().width, h = in->spec().height;
        std::vector<uint8_t> all(size_t(w) * h * 3);
        in->read_image(0, 0, 0, 3, OIIO::TypeDesc::UINT8, all.data());
        const int f = 16, sw = w / f, sh = h / f;
        std::vector<uint16_t> small(size_t(sw) * sh * channels);
        for (int y = 0; y < sh; ++y)
            for (int x = 0; x < sw; ++x)
                for (int c = 0; c < channels; ++c) {
                    const uint8_t v = all[(size_t(y * f) * w + x * f) * 3 + std::min(c, 2)];
                    small[(size_t(y) * sw + x) * channels + c] = c == 3 ? uint16_t(40000 + x) : uint16_t(v * 257);
                }
        OIIO::ImageSpec spec(sw, sh, channels, type);
        if (channels == 4) spec.alpha_channel = 3;
        spec.attribute("ImageDescription", "wine glass test photo");
        spec.attribute("Make", "Test Camera Co.");
        // A real colour profile, borrowed from the 16-bit sample.
        auto withProfile = OIIO::ImageInput::open(std::string(LUMAREX_SAMPLES_DIR) + "/s06_indoor_backlit_room_16bit.png");
        const OIIO::ParamValue* icc = withProfile ? withProfile->spec().find_attribute("ICCProfile") : nullptr;
        EXPECT_NE(icc, nullptr);
        if (icc && channels >= 3) spec.attribute("ICCProfile", icc->type(), icc->data());  // an RGB profile
        const fs::path p = dir / name;
        auto out = OIIO::ImageOutput::create(p.string());
        EXPECT_TRUE(out && out->open(p.string(), spec) && out->write_image(OIIO::TypeDesc::UINT16, small.data()) &&
                    out->close());
        return p;
    }

    static OIIO::ImageSpec SpecOf(const fs::path& p) {
        auto in = OIIO::ImageInput::open(p.string());
        EXPECT_TRUE(in) << p;
        return in ? in->spec() : OIIO::ImageSpec();
    }

    bool NoTemporariesLeft() {
        for (const auto& e : fs::directory_iterator(dir))
            if (e.path().filename().string().rfind(".", 0) == 0) return false;
        return true;
    }
};

TEST_F(Cli, RoundTripsPngJpegAndTiffKeepingMetadata) {
    for (const std::string& ext : std::vector<std::string>{".png", ".jpg", ".tif"}) {
        const fs::path in = MakeInput("in" + ext);
        const fs::path out = dir / ("out" + ext);
        const Result r = Run("auto \"" + in.string() + "\" -o \"" + out.string() + "\"");
        ASSERT_EQ(r.status, 0) << ext << ": " << r.err;
        const OIIO::ImageSpec a = SpecOf(in), b = SpecOf(out);
        EXPECT_EQ(b.width, a.width);
        EXPECT_EQ(b.height, a.height);
        EXPECT_EQ(b.nchannels, 3);
        EXPECT_EQ(b.format, OIIO::TypeDesc::UINT8);
        EXPECT_EQ(b.get_string_attribute("ImageDescription"), "wine glass test photo") << ext;
        const OIIO::ParamValue* icc = b.find_attribute("ICCProfile");
        ASSERT_NE(icc, nullptr) << ext << " lost its colour profile";
        EXPECT_EQ(icc->type().size(), 8708u);
        if (ext != ".png") {
            EXPECT_EQ(b.get_string_attribute("Make"), "Test Camera Co.") << ext;
        }
        EXPECT_NE(Slurp(in), Slurp(out));
    }
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(Cli, GreyAlphaAndSixteenBitInputsAreServed) {
    const fs::path grey = MakeInput("grey.png", 1);
    const fs::path rgba = MakeInput("rgba.png", 4);
    const fs::path deep = MakeInput("deep.tif", 3, OIIO::TypeDesc::UINT16);
    const Result r = Run("auto \"" + grey.string() + "\" \"" + rgba.string() + "\" \"" + deep.string() + "\" -d \"" +
                         (dir / "out").string() + "\"");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SpecOf(dir / "out" / "grey.png").nchannels, 1) << "a grey photo stays grey";
    const OIIO::ImageSpec a = SpecOf(dir / "out" / "rgba.png");
    EXPECT_EQ(a.nchannels, 4);
    // The alpha channel passes through untouched.
    auto alphaOf = [&](const fs::path& p) {
        auto in = OIIO::ImageInput::open(p.string());
        std::vector<uint16_t> px(size_t(a.width) * a.height * 4);
        in->read_image(0, 0, 0, 4, OIIO::TypeDesc::UINT16, px.data());
        std::vector<uint16_t> alpha;
        for (size_t i = 3; i < px.size(); i += 4) alpha.push_back(px[i]);
        return alpha;
    };
    EXPECT_EQ(alphaOf(dir / "out" / "rgba.png"), alphaOf(rgba));
    EXPECT_NE(r.out.find("reduced to 8 bits"), std::string::npos) << r.out;
}

TEST_F(Cli, BadFilesGetOneLineEachAndTheRestIsProcessed) {
    const fs::path good = MakeInput("good.png");
    std::ofstream(dir / "notes.txt") << "not a photo\n";
    {
        const std::string jpeg = Slurp(MakeInput("whole.jpg"));
        std::ofstream(dir / "cut.jpg", std::ios::binary) << jpeg.substr(0, 40);
    }
    const Result r = Run("auto \"" + (dir / "missing.jpg").string() + "\" \"" + (dir / "notes.txt").string() +
                         "\" \"" + (dir / "cut.jpg").string() + "\" \"" + good.string() + "\" -d \"" +
                         (dir / "out").string() + "\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(fs::exists(dir / "out" / "good.png")) << "the good file is still corrected";
    int lines = 0;
    for (char c : r.err) lines += c == '\n';
    EXPECT_EQ(lines, 3) << r.err;
    EXPECT_NE(r.err.find("missing.jpg: no such file"), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("notes.txt: "), std::string::npos) << r.err;
    EXPECT_NE(r.err.find("cut.jpg: "), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "out" / "cut.jpg")) << "nothing is written for a corrupt input";
}

TEST_F(Cli, OutputsAreNeverHalfWrittenNorInputsReplaced) {
    const fs::path in = MakeInput("photo.png");
    const std::string original = Slurp(in);
    // Replacing the input needs --overwrite.
    Result r = Run("auto \"" + in.string() + "\" -d \"" + dir.string() + "\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("--overwrite"), std::string::npos) << r.err;
    EXPECT_EQ(Slurp(in), original);

    // A failing run leaves an existing output as it was, and no temporaries.
    const fs::path out = dir / "result.png";
    std::ofstream(out) << "previous result";
    std::ofstream(dir / "broken.png") << "garbage";
    r = Run("auto \"" + (dir / "broken.png").string() + "\" -o \"" + out.string() + "\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_EQ(Slurp(out), "previous result");
    EXPECT_TRUE(NoTemporariesLeft());

    r = Run("auto \"" + in.string() + "\" --overwrite -d \"" + dir.string() + "\"");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Slurp(in), original);
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(Cli, UsageErrorsExitWithTwo) {
    const fs::path in = MakeInput("p.png");
    const std::string inq = "\"" + in.string() + "\"";
    const std::vector<std::string> cases = {"auto",
                                            "auto " + inq,
                                            "auto " + inq + " -o x.bmp",
                                            "auto " + inq + " -o x.png --cast-strength 2",
                                            "auto " + inq + " -o x.png --cast-method purple",
                                            "auto " + inq + " -o x.png --no-such-option",
                                            "frobnicate"};
    for (const std::string& args : cases) {
        const Result r = Run(args);
        EXPECT_EQ(r.status, 2) << args;
        EXPECT_FALSE(r.err.empty()) << args;
    }
    const Result help = Run("auto --help");
    EXPECT_EQ(help.status, 0);
    EXPECT_NE(help.out.find("--cast-strength"), std::string::npos);
}

}  // namespace

namespace {

TEST_F(Cli, CorrectKeepsSixteenBitsAndServesRegions) {
    const fs::path deep = MakeInput("deep.tif", 3, OIIO::TypeDesc::UINT16);
    const fs::path flat = MakeInput("flat.png");
    Result r = Run("correct \"" + deep.string() + "\" \"" + flat.string() + "\" -j 2 -d \"" + (dir / "out").string() + "\"");
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(SpecOf(dir / "out" / "deep.tif").format, OIIO::TypeDesc::UINT16) << "16-bit TIFF stays 16-bit";
    EXPECT_EQ(SpecOf(dir / "out" / "flat.png").format, OIIO::TypeDesc::UINT8);

    r = Run("correct \"" + deep.string() + "\" --region 10,20,40,30 -o \"" + (dir / "crop.png").string() + "\"");
    ASSERT_EQ(r.status, 0) << r.err;
    const OIIO::ImageSpec crop = SpecOf(dir / "crop.png");
    EXPECT_EQ(crop.width, 40);
    EXPECT_EQ(crop.height, 30);
    EXPECT_EQ(crop.format, OIIO::TypeDesc::UINT16);

    r = Run("correct \"" + deep.string() + "\" --region 90,20,40,30 -o \"" + (dir / "off.png").string() + "\"");
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find("leaves the"), std::string::npos) << r.err;
    EXPECT_FALSE(fs::exists(dir / "off.png"));
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(Cli, AnalysePrintsTheRecordAsJson) {
    const fs::path in = MakeInput("a.png");
    const Result r = Run("analyse \"" + in.string() + "\" \"" + (dir / "missing.png").string() + "\"");
    EXPECT_EQ(r.status, 1) << "one of the two files is missing";
    for (const char* key : {"\"blackLevel\"", "\"needTint\"", "\"tintGains\"", "\"whitePoint\"", "\"toneLevels\"",
                            "\"shadowPercentiles\"", "\"baseMap\": {\"valid\": 1"})
        EXPECT_NE(r.out.find(key), std::string::npos) << key;
    EXPECT_EQ(r.out.front(), '[');
    EXPECT_NE(r.err.find("missing.png: no such file"), std::string::npos);
}

// Ctrl-C during a correction leaves neither the output nor a temporary file.
TEST_F(Cli, InterruptLeavesNoPartialOutput) {
    // A large photo, so that the correction is still running when stopped.
    const int w = 3000, h = 2000;
    std::vector<uint16_t> px(size_t(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint16_t((i * 2654435761u) >> 16);
    const fs::path in = dir / "big.tif";
    {
        auto out = OIIO::ImageOutput::create(in.string());
        ASSERT_TRUE(out->open(in.string(), OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT16)) &&
                    out->write_image(OIIO::TypeDesc::UINT16, px.data()) && out->close());
    }
    const fs::path result = dir / "big-out.tif";
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execl(LUMAREX_CLI, LUMAREX_CLI, "correct", in.c_str(), "-o", result.c_str(), "--sharpen", "1", nullptr);
        _exit(127);
    }
    usleep(400 * 1000);
    kill(child, SIGINT);
    int status = 0;
    waitpid(child, &status, 0);
    EXPECT_TRUE((WIFEXITED(status) && WEXITSTATUS(status) == 130) || WIFSIGNALED(status)) << status;
    EXPECT_FALSE(fs::exists(result));
    EXPECT_TRUE(NoTemporariesLeft());
}

}  // namespace
