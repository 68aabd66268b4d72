// SPDX-License-Identifier: MIT
// Running the lumarex command as a user runs it, in a folder of its own per
// test, on small photos made from the bundled samples or built by the test.
#pragma once

#include <OpenImageIO/imageio.h>
#include <gtest/gtest.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace lumarex_test {
namespace fs = std::filesystem;

// Whether `text` holds `part`; a failure shows the text.
inline ::testing::AssertionResult Has(const std::string& text, const std::string& part) {
    if (text.find(part) != std::string::npos) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "no '" << part << "' in:\n" << text;
}

struct Result {
    int status = -1;
    std::string out, err;
};

inline std::string Slurp(const fs::path& p) {
    std::ifstream f(p, std::ios::binary);
    std::stringstream s;
    s << f.rdbuf();
    return s.str();
}

// The value of a one-value tag in the EXIF directory of a TIFF file's bytes,
// or -1 when there is none.
inline int64_t TiffExifValue(const std::string& file, uint32_t wanted) {
    if (file.size() < 8) return -1;
    const bool little = file[0] == 'I';
    const auto get = [&](uint64_t at, int n) -> int64_t {
        if (at + uint64_t(n) > file.size()) return -1;
        uint32_t v = 0;
        for (int i = 0; i < n; ++i) v |= uint32_t(uint8_t(file[at + i])) << (8 * (little ? i : n - 1 - i));
        return v;
    };
    const auto find = [&](int64_t ifd, uint32_t tag) -> int64_t {
        const int64_t entries = ifd < 0 ? -1 : get(uint64_t(ifd), 2);
        for (int64_t k = 0; k < entries; ++k) {
            const uint64_t e = uint64_t(ifd) + 2 + 12 * uint64_t(k);
            if (get(e, 2) != tag) continue;
            return get(e + 2, 2) == 3 ? get(e + 8, 2) : get(e + 8, 4);  // SHORT or a LONG / IFD offset
        }
        return -1;
    };
    return find(find(get(4, 4), 34665), wanted);
}

// Starts the command with stdout into `stdoutFd` (dir/stdout when -1) and
// stderr into `stderrFd` (dir/stderr when -1). A positive `fileLimit` caps the size of every file
// the command writes, as a full disk would; the command ignores SIGXFSZ
// itself, so that the write fails with EFBIG instead of ending it.
inline pid_t StartCommand(const fs::path& dir, std::vector<std::string> args, off_t fileLimit = 0,
                          int stdoutFd = -1, int stderrFd = -1) {
    const pid_t child = fork();
    if (child == 0) {
        if (stderrFd >= 0) ::dup2(stderrFd, 2);
        else std::freopen((dir / "stderr").c_str(), "w", stderr);
        if (stdoutFd >= 0) ::dup2(stdoutFd, 1);
        else std::freopen((dir / "stdout").c_str(), "w", stdout);
        // As a fresh shell starts it (a test runner may have ignored these):
        // what the command does about them is its own.
        std::signal(SIGPIPE, SIG_DFL);
        std::signal(SIGXFSZ, SIG_DFL);
        if (fileLimit > 0) {
            const rlimit limit{rlim_t(fileLimit), rlim_t(fileLimit)};
            ::setrlimit(RLIMIT_FSIZE, &limit);
        }
        std::vector<char*> argv{const_cast<char*>(LUMAREX_CLI)};
        for (std::string& a : args) argv.push_back(a.data());
        argv.push_back(nullptr);
        execv(LUMAREX_CLI, argv.data());
        _exit(127);
    }
    return child;
}

// Waits up to `seconds` for a started command: its exit status, 1000 + the
// signal that ended it, or -1 when it was still running (it is then killed).
inline int Finish(pid_t child, double seconds = 120) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::duration<double>(seconds);
    while (std::chrono::steady_clock::now() < end) {
        int status = 0;
        if (::waitpid(child, &status, WNOHANG) == child)
            return WIFEXITED(status) ? WEXITSTATUS(status) : 1000 + WTERMSIG(status);
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    ::kill(child, SIGKILL);
    ::waitpid(child, nullptr, 0);
    return -1;
}

class Cli : public ::testing::Test {
public:
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
        auto in = OIIO::ImageInput::open((fs::path(LUMAREX_SAMPLES_DIR) / "s01_tungsten_indoor_wine.jpg").string());
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
        // A real RGB colour profile, borrowed from the 16-bit sample; a grey
        // photo (a TIFF: PNG refuses it) gets it too, as a profile that does
        // not describe its pixels.
        auto withProfile = OIIO::ImageInput::open((fs::path(LUMAREX_SAMPLES_DIR) / "s06_indoor_backlit_room_16bit.png").string());
        const OIIO::ParamValue* icc = withProfile ? withProfile->spec().find_attribute("ICCProfile") : nullptr;
        EXPECT_NE(icc, nullptr);
        if (icc) spec.attribute("ICCProfile", icc->type(), icc->data());
        WriteImage(dir / name, spec, small);
        return dir / name;
    }

    static OIIO::ImageSpec SpecOf(const fs::path& p) {
        auto in = OIIO::ImageInput::open(p.string());
        EXPECT_TRUE(in) << p;
        return in ? in->spec() : OIIO::ImageSpec();
    }

    // Writes interleaved 16-bit samples as a file in the format of its name.
    static void WriteImage(const fs::path& p, const OIIO::ImageSpec& spec, const std::vector<uint16_t>& px) {
        auto out = OIIO::ImageOutput::create(p.string());
        ASSERT_TRUE(out && out->open(p.string(), spec) && out->write_image(OIIO::TypeDesc::UINT16, px.data()) &&
                    out->close())
            << p;
    }

    // Reads every channel of a file as 16-bit samples.
    static std::vector<uint16_t> Pixels(const fs::path& p, const OIIO::ImageSpec* config = nullptr) {
        auto in = OIIO::ImageInput::open(p.string(), config);
        EXPECT_TRUE(in) << p;
        if (!in) return {};
        const OIIO::ImageSpec& s = in->spec();
        std::vector<uint16_t> px(size_t(s.width) * s.height * s.nchannels);
        in->read_image(0, 0, 0, s.nchannels, OIIO::TypeDesc::UINT16, px.data());
        return px;
    }

    static mode_t Mode(const fs::path& p) {
        struct stat st {};
        return ::stat(p.c_str(), &st) == 0 ? st.st_mode & 07777 : 0;
    }

    // Appended rather than `"\"" + ...`: GCC 12 takes the temporary of
    // that form for a 32-byte object and warns of a copy past its end.
    static std::string Quoted(const fs::path& p) {
        std::string q = "\"";
        q += p.string();
        q += '"';
        return q;
    }

    // No hidden file (the command's temporaries) in `folder`, the test's by default.
    bool NoTemporariesLeft(const fs::path& folder = {}) const {
        std::error_code ec;
        for (const auto& e : fs::directory_iterator(folder.empty() ? dir : folder, ec))
            if (e.path().filename().string().rfind(".", 0) == 0) return false;
        return true;
    }
};

}  // namespace lumarex_test
