// SPDX-License-Identifier: MIT
// Photos read in a process of their own: the picture that comes back is the
// one read in this process, to the sample and attribute; a reader that
// crashes, ends early, talks nonsense or hangs costs that photo alone, with
// a one-line error, and leaves no process behind.
#include "reader_process.h"

#include <fcntl.h>

#include <OpenImageIO/filesystem.h>
#include <OpenImageIO/ustring.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "cli_fixture.h"
#include "image_file.h"
#include "support/dng_file.h"

namespace lumarex_test {
namespace {

using lumarex_cli::Picture;

// Forked while the program starts, before any test has read a photo, as the
// command forks its own; left unused until a test asks for it.
const bool zygoteForked = [] {
    const bool forked = lumarex_cli::StartReaderZygote();
    lumarex_cli::UseReaderZygote(false);
    return forked;
}();

// The attribute's values as comparable bytes: strings by their text.
std::string ValueBytes(const OIIO::ParamValue& p) {
    if (p.type().basetype != OIIO::TypeDesc::STRING)
        return std::string(static_cast<const char*>(p.data()), p.datasize());
    std::string s;
    const auto* strings = static_cast<const OIIO::ustring*>(p.data());
    for (size_t i = 0; i < p.datasize() / sizeof(OIIO::ustring); ++i) s += strings[i].string() + '\0';
    return s;
}

void ExpectSame(const Picture& a, const Picture& b, const std::string& what) {
    SCOPED_TRACE(what);
    EXPECT_EQ(a.width, b.width);
    EXPECT_EQ(a.height, b.height);
    EXPECT_EQ(a.bits, b.bits);
    EXPECT_EQ(a.grey, b.grey);
    EXPECT_EQ(a.hasAlpha, b.hasAlpha);
    EXPECT_TRUE(a.rgb8 == b.rgb8);
    EXPECT_TRUE(a.rgb16 == b.rgb16);
    EXPECT_TRUE(a.alpha == b.alpha);
    EXPECT_EQ(a.xmp, b.xmp);
    EXPECT_EQ(a.xmpExtension, b.xmpExtension);
    const OIIO::ImageSpec &s = a.spec, &t = b.spec;
    EXPECT_EQ(std::vector<int>({s.x, s.y, s.width, s.height, s.full_width, s.full_height, s.tile_width,
                                s.nchannels, s.alpha_channel, s.z_channel, int(s.deep)}),
              std::vector<int>({t.x, t.y, t.width, t.height, t.full_width, t.full_height, t.tile_width,
                                t.nchannels, t.alpha_channel, t.z_channel, int(t.deep)}));
    EXPECT_EQ(s.format, t.format);
    EXPECT_EQ(s.channelformats, t.channelformats);
    EXPECT_EQ(s.channelnames, t.channelnames);
    ASSERT_EQ(s.extra_attribs.size(), t.extra_attribs.size());
    for (size_t i = 0; i < s.extra_attribs.size(); ++i) {
        const OIIO::ParamValue &p = s.extra_attribs[i], &q = t.extra_attribs[i];
        EXPECT_EQ(p.name(), q.name());
        EXPECT_EQ(p.type(), q.type()) << p.name();
        EXPECT_EQ(p.nvalues(), q.nvalues()) << p.name();
        EXPECT_EQ(ValueBytes(p), ValueBytes(q)) << p.name();
    }
}

class Reader : public Cli {
protected:
    void TearDown() override {
        lumarex_cli::UseReaderZygote(false);
        lumarex_cli::UseReaderProcess({});
        lumarex_cli::SetReaderPatience(lumarex_cli::kReaderPatience);
        Cli::TearDown();
    }

    // A reader played by the shell running `script`.
    static void UseScript(const std::string& script) { lumarex_cli::UseReaderProcess({"/bin/sh", "-c", script}); }

    // Opens and reads `path` through a reader process; the error, "" when
    // it gave a picture.
    static std::string ReadThrough(const fs::path& path, Picture& pic, const lumarex_cli::Progress& progress) {
        lumarex_cli::ReaderProcess reader;
        std::string error, notes;
        if (!reader.Open(path.string(), error)) return error;
        if (!reader.Read(false, pic, notes, error, progress)) return error;
        return std::string();
    }

    // How a reader's header looks on the wire: 1 x 1 pixels, 3 channels.
    static std::string HeaderBytes() {
        return "printf 'H\\001\\000\\000\\000\\001\\000\\000\\000\\003\\000\\000\\000\\000"
               "\\000\\000\\000\\000\\000\\000\\000\\000'";
    }
};

// Every kind of file the command reads, through a reader forked by the
// zygote and through one started as the command, against PhotoReader in
// this process: header, picture, metadata and notes the same, at 8 and at
// 16 bits; and a file that cannot be read fails with the same error.
TEST_F(Reader, GivesThePictureReadInThisProcess) {
    const float daylight[3] = {1.0f, 1.0f, 1.0f};
    const float scene[4][3] = {{0.6f, 0.2f, 0.1f}, {0.2f, 0.5f, 0.2f}, {0.1f, 0.2f, 0.6f}, {0.4f, 0.4f, 0.4f}};
    ASSERT_TRUE(WriteMosaicDng((dir / "raw.dng").string(), 64, 48, 6, daylight, scene, 65535));
    OIIO::Filesystem::write_text_file((dir / "notes.txt").string(), "not a photo\n");
    // A HEIC as the command writes it (the image library's own writer
    // overruns its buffer).
    const fs::path heic = dir / "photo.heic";
    ASSERT_EQ(Run("correct " + Quoted(MakeInput("for-heic.png")) + " -o " + Quoted(heic)).status, 0);
    const int photoFd = ::open((fs::path(LUMAREX_SAMPLES_DIR) / "s03_hazy_lifted_blacks_bridge.jpg").c_str(),
                               O_RDONLY | O_CLOEXEC);
    ASSERT_GE(photoFd, 0);
    const std::vector<fs::path> files = {
        fs::path(LUMAREX_SAMPLES_DIR) / "s01_tungsten_indoor_wine.jpg",
        fs::path(LUMAREX_SAMPLES_DIR) / "s06_indoor_backlit_room_16bit.png",
        MakeInput("alpha16.tif", 4, OIIO::TypeDesc::UINT16),
        MakeInput("grey.tif", 1),
        MakeInput("photo.webp"),
        heic,
        dir / "raw.dng",
        dir / "notes.txt",
        dir / "missing.jpg",
        // A photo given as a descriptor of this process (`< photo.jpg` and
        // /dev/stdin), which the reader does not share.
        "/dev/fd/" + std::to_string(photoFd),
    };
    lumarex_cli::UseReaderProcess({LUMAREX_CLI, lumarex_cli::kReaderArgument});
    for (bool zygote : {true, false})
    for (const fs::path& f : files)
        for (bool want16 : {false, true}) {
            ASSERT_TRUE(zygoteForked);
            lumarex_cli::UseReaderZygote(zygote);
            const std::string what = f.filename().string() + (want16 ? " at 16 bits" : " at 8 bits") +
                                     (zygote ? ", forked" : ", started");
            lumarex_cli::PhotoReader here;
            lumarex_cli::ReaderProcess there;
            std::string hereError, thereError, hereNotes, thereNotes;
            const bool opened = here.Open(f.string(), hereError);
            EXPECT_EQ(there.Open(f.string(), thereError), opened) << what;
            EXPECT_EQ(thereError, hereError) << what;
            if (!opened) continue;
            EXPECT_EQ(std::vector<uint64_t>({uint64_t(there.Width()), uint64_t(there.Height()),
                                             uint64_t(there.Channels()), there.Deep(), there.DecoderBytes()}),
                      std::vector<uint64_t>({uint64_t(here.Width()), uint64_t(here.Height()),
                                             uint64_t(here.Channels()), here.Deep(), here.DecoderBytes()}))
                << what;
            Picture a, b;
            std::vector<float> reported;
            ASSERT_TRUE(here.Read(want16, a, hereNotes, hereError, [](float) { return false; })) << what;
            ASSERT_TRUE(there.Read(want16, b, thereNotes, thereError, [&](float d) {
                reported.push_back(d);
                return false;
            })) << what << ": " << thereError;
            ExpectSame(a, b, what);
            EXPECT_EQ(thereNotes, hereNotes) << what;
            EXPECT_TRUE(std::is_sorted(reported.begin(), reported.end())) << what;
        }
    ::close(photoFd);
    // Only names of a descriptor are turned into this process's entry.
    EXPECT_EQ(lumarex_cli::PathForReader("/dev/stdin", 42), "/proc/42/fd/0");
    EXPECT_EQ(lumarex_cli::PathForReader("/proc/self/fd/7", 42), "/proc/42/fd/7");
    for (const char* other : {"/dev/fd/", "/dev/fd/x", "/dev/fd/1/2", "/dev/stdin2", "fd/3", "/dev/fd/12345678901"})
        EXPECT_EQ(lumarex_cli::PathForReader(other, 42), other);
}

// A reader that crashes, ends with a failure, answers nonsense or breaks
// off in the middle of a picture: one line that says so, at opening or at
// reading, and the process reaped.
TEST_F(Reader, AReaderThatFailsCostsItsPhotoAlone) {
    struct Case {
        std::string script, error;
    };
    const std::string header = HeaderBytes();
    const std::vector<Case> cases = {
        {"kill -SEGV $$", "reading it crashed the image decoder (SIGSEGV); the file is likely damaged"},
        {"exit 3", "the image decoder failed on it (its process ended with status 3); the file is likely damaged"},
        {"exit 0", "the reading process ended without an answer"},
        {"printf 'Z'", "the reading process sent a damaged picture"},
        // A header of a picture too large to have been read.
        {"printf 'H\\377\\377\\377\\377'", "the reading process ended without an answer"},
        {header + "; sleep 0.2; kill -ABRT $$",
         "reading it crashed the image decoder (SIGABRT); the file is likely damaged"},
        // A picture of 2 x 1 pixels where the header said 1 x 1.
        {header + "; printf 'R\\002\\000\\000\\000\\001\\000\\000\\000\\010\\000\\000'",
         "the reading process sent a damaged picture"},
    };
    for (const Case& c : cases) {
        UseScript(c.script);
        Picture pic;
        EXPECT_EQ(ReadThrough(dir / "any.jpg", pic, [](float) { return false; }), c.error) << c.script;
        EXPECT_EQ(pic.width, 0) << c.script;
    }
    // Every reader above has been reaped: no child has ended unnoticed.
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
}

// A reader that hangs (a decoder looping in a damaged file) is ended when
// the progress asks to stop, within a fraction of a second.
TEST_F(Reader, AHangingReaderEndsOnAStop) {
    UseScript(HeaderBytes() + "; exec sleep 60");
    Picture pic;
    int calls = 0;
    const auto start = std::chrono::steady_clock::now();
    EXPECT_EQ(ReadThrough(dir / "any.jpg", pic, [&](float) { return ++calls >= 3; }), "stopped");
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20));
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
}

// A reader that goes silent (a decoder looping in a damaged file, with no
// one there to stop it), at opening or in the middle of a picture, is ended
// once its patience runs out: the photo fails with one line, nothing is
// left running, and the next photo reads. A reader that keeps reporting is
// never cut off, however long it takes.
TEST_F(Reader, ASilentReaderIsEndedOnceItsPatienceRunsOut) {
    lumarex_cli::SetReaderPatience(std::chrono::milliseconds(500));
    const std::string hung = "reading it hung the image decoder (no answer for 1 s); the file is likely damaged";
    const std::string progress = "printf 'P\\000\\000\\000\\000'";
    for (const std::string& script : {std::string("exec sleep 60"), HeaderBytes() + "; exec sleep 60",
                                      HeaderBytes() + "; " + progress + "; exec sleep 60"}) {
        UseScript(script);
        Picture pic;
        const auto start = std::chrono::steady_clock::now();
        EXPECT_EQ(ReadThrough(dir / "any.jpg", pic, [](float) { return false; }), hung) << script;
        EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(20)) << script;
    }
    EXPECT_LE(::waitpid(-1, nullptr, WNOHANG), 0);
    // Reporting every 0.2 s for 1.2 s, then failing: its own end is told.
    const std::string failed =
        "the image decoder failed on it (its process ended with status 5); the file is likely damaged";
    UseScript(HeaderBytes() + "; for i in 1 2 3 4 5 6; do sleep 0.2; " + progress + "; done; exit 5");
    Picture pic;
    EXPECT_EQ(ReadThrough(dir / "any.jpg", pic, [](float) { return false; }), failed);
    // Silent for 1.5 s while the command itself was away a second at a
    // time (as when stopped at the terminal): the command's absence is not
    // the reader's silence.
    UseScript(HeaderBytes() + "; sleep 1.5; exit 5");
    EXPECT_EQ(ReadThrough(dir / "any.jpg", pic,
                          [](float) {
                              std::this_thread::sleep_for(std::chrono::seconds(1));
                              return false;
                          }),
              failed);
}

// A reader forked by the zygote that crashes in the middle of a photo: the
// photo's error says so, and the next photo is read by a new reader.
TEST_F(Reader, AForkedReaderThatCrashesCostsItsPhotoAlone) {
    ASSERT_TRUE(zygoteForked);
    lumarex_cli::UseReaderZygote(true);
    // Large enough that its reading reports progress long before its end.
    const int w = 3000, h = 2000;
    WriteImage(dir / "large.tif", OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT16),
               std::vector<uint16_t>(size_t(w) * h * 3, 20000));
    lumarex_cli::ReaderProcess crashing;
    Picture pic;
    std::string error, notes;
    ASSERT_TRUE(crashing.Open((dir / "large.tif").string(), error)) << error;
    EXPECT_FALSE(crashing.Read(true, pic, notes, error, [&](float) {
        ::kill(crashing.Pid(), SIGSEGV);
        return false;
    }));
#if defined(__SANITIZE_ADDRESS__)
    // The sanitizer takes the signal and ends the process itself.
    EXPECT_EQ(error, "the image decoder failed on it (its process ended with status 1); the file is likely damaged");
#else
    EXPECT_EQ(error, "reading it crashed the image decoder (SIGSEGV); the file is likely damaged");
#endif
    EXPECT_EQ(ReadThrough(dir / "large.tif", pic, [](float) { return false; }), "");
    EXPECT_EQ(pic.width, w);
}

}  // namespace
}  // namespace lumarex_test
