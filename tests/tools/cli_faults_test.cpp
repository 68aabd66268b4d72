// SPDX-License-Identifier: MIT
// The lumarex command when things go wrong around it: a disk that fills
// while an output is written, read-only outputs, and a stop while the
// command waits on something that never comes.
#include <fcntl.h>
#include <sys/ioctl.h>

#include <cstdlib>
#include <fstream>
#include <map>
#include <sstream>

#include "cli_fixture.h"

namespace lumarex_test {
namespace {

using Clock = std::chrono::steady_clock;

// Every output format at 8 and 16 bits, the input corrected over itself
// among them: when the disk fills, what was there before stays byte for
// byte, no temporary is left, the message names the output and the reason,
// and the photos after it in the batch are still corrected.
TEST_F(Cli, FullDiskLeavesEveryFileAsItWas) {
    // PNG and JPEG are written through the output file, TIFF by name, WebP
    // (as HEIC and AVIF) by an encoder of the command's own into the output
    // file. (The test cannot make its HEIC inputs: OpenImageIO 2.4's HEIF
    // writer overruns its buffer on 16-bit samples.)
    for (const std::string ext : {".png", ".jpg", ".tif", ".webp"}) {
        for (const OIIO::TypeDesc type : {OIIO::TypeDesc::UINT8, OIIO::TypeDesc::UINT16}) {
            if (ext != ".png" && ext != ".tif" && type == OIIO::TypeDesc::UINT16) continue;
            const std::string tag = std::string(ext) + (type == OIIO::TypeDesc::UINT16 ? " 16-bit" : " 8-bit");
            fs::remove_all(dir / "out");
            fs::create_directories(dir / "out");
            const fs::path in = MakeInput(std::string("photo") + ext, 3, type);
            // How big the output is when the disk has room.
            const pid_t probe = StartCommand(dir, {"correct", in.string(), "-o", (dir / "out" / "probe").string() + ext});
            ASSERT_EQ(Finish(probe, 120), 0) << tag << Slurp(dir / "stderr");
            const off_t full = off_t(fs::file_size(dir / "out" / (std::string("probe") + ext)));
            // A tiny photo whose output fits in half of that.
            const fs::path tiny = dir / (std::string("tiny") + ext);
            WriteImage(tiny, OIIO::ImageSpec(4, 4, 3, type), std::vector<uint16_t>(48, 30000));

            const fs::path out = dir / "out" / (std::string("photo") + ext);
            std::ofstream(out, std::ios::binary) << "the earlier output";
            const std::string original = Slurp(in);
            pid_t c = StartCommand(dir, {"correct", in.string(), tiny.string(), "-d", (dir / "out").string()}, full / 2);
            EXPECT_EQ(Finish(c, 120), 1) << tag;
            const std::string err = Slurp(dir / "stderr");
            EXPECT_TRUE(Has(err, out.string() + ": the file would exceed the largest size allowed here (File too large)"))
                << tag;
            EXPECT_EQ(Slurp(out), "the earlier output") << tag;
            EXPECT_TRUE(fs::exists(dir / "out" / (std::string("tiny") + ext))) << tag << ": the batch went on";
            EXPECT_TRUE(NoTemporariesLeft(dir / "out")) << tag;

            c = StartCommand(dir, {"correct", in.string(), "-o", in.string(), "--overwrite"}, full / 2);
            EXPECT_EQ(Finish(c, 120), 1) << tag;
            EXPECT_TRUE(Slurp(in) == original) << tag << ": the photo corrected over itself is untouched";
            EXPECT_TRUE(NoTemporariesLeft()) << tag;
        }
    }
}

// An existing output keeps its permissions when replaced; a read-only one,
// or the input itself, is replaced only with --overwrite, as cp would refuse it.
TEST_F(Cli, ReplacedOutputsKeepTheirPermissionsAndInputsNeedOverwrite) {
    const fs::path in = MakeInput("in.png");
    const fs::path shared = dir / "shared.png", locked = dir / "locked.png";
    std::ofstream(shared) << "old";
    std::ofstream(locked) << "old";
    ASSERT_EQ(::chmod(shared.c_str(), 0640), 0);
    ASSERT_EQ(::chmod(locked.c_str(), 0444), 0);

    Result r = Run("auto " + Quoted(in) + " -o " + Quoted(shared));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Mode(shared), 0640u);
    EXPECT_EQ(SpecOf(shared).width, SpecOf(in).width);

    r = Run("auto " + Quoted(in) + " -o " + Quoted(locked));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, locked.string() + " exists and is read-only; pass --overwrite to replace it"));
    EXPECT_EQ(Slurp(locked), "old");

    r = Run("auto " + Quoted(in) + " -o " + Quoted(locked) + " --overwrite");
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_EQ(Mode(locked), 0444u);
    EXPECT_EQ(SpecOf(locked).width, SpecOf(in).width);

    const std::string original = Slurp(in);
    r = Run("auto " + Quoted(in) + " -d " + Quoted(dir));
    EXPECT_EQ(r.status, 1);
    EXPECT_TRUE(Has(r.err, "--overwrite"));
    EXPECT_EQ(Slurp(in), original);
    r = Run("auto " + Quoted(in) + " --overwrite -d " + Quoted(dir));
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_NE(Slurp(in), original);
    EXPECT_TRUE(NoTemporariesLeft());
}

// Stdout piped into a command that has ended: the batch goes on and
// finishes every photo; a closed pipe ends nothing half-written.
TEST_F(Cli, AClosedStdoutEndsNothingHalfWritten) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    ::close(pipeFds[0]);
    const fs::path a = MakeInput("a.png"), b = MakeInput("b.png");
    const pid_t c = StartCommand(dir, {"auto", a.string(), b.string(), "-d", (dir / "out").string(), "-j", "2"}, 0,
                                 pipeFds[1]);
    ::close(pipeFds[1]);
    EXPECT_EQ(Finish(c, 120), 0) << Slurp(dir / "stderr");
    EXPECT_TRUE(fs::exists(dir / "out" / "a.png") && fs::exists(dir / "out" / "b.png"));
    EXPECT_TRUE(NoTemporariesLeft(dir / "out"));

    // The JSON of `analyse` is its whole work: standard output that does
    // not take it fails the command, and the rest is not analysed.
    const int full = ::open("/dev/full", O_WRONLY);
    ASSERT_GE(full, 0);
    const pid_t analyse = StartCommand(dir, {"analyse", a.string(), b.string()}, 0, full);
    ::close(full);
    EXPECT_EQ(Finish(analyse, 120), 1);
    EXPECT_TRUE(Has(Slurp(dir / "stderr"), "cannot write the JSON to standard output: No space left on device"))
        << Slurp(dir / "stderr");
}

// The state of a process's main thread, from /proc: 'R' running, 'S'
// asleep (waiting on something), '?' when it cannot be read.
char ThreadState(pid_t pid) {
    std::ifstream stat("/proc/" + std::to_string(pid) + "/stat");
    std::string line;
    std::getline(stat, line);
    const size_t close = line.rfind(')');  // the name may hold spaces
    return close != std::string::npos && close + 2 < line.size() ? line[close + 2] : '?';
}

// How many processes descend from `pid`: the command keeps one (the copy
// that makes readers) and has one more for each photo being read, whose
// end it waits for asleep.
int Descendants(pid_t pid) {
    std::map<pid_t, pid_t> parents;
    std::error_code ec;
    for (const auto& e : fs::directory_iterator("/proc", ec)) {
        std::ifstream stat(e.path() / "stat");
        std::string line;
        if (!std::getline(stat, line)) continue;
        const size_t close = line.rfind(')');
        if (close == std::string::npos) continue;
        std::istringstream rest(line.substr(close + 2));
        char state;
        pid_t parent = 0;
        if (rest >> state >> parent) parents[pid_t(std::atoi(e.path().filename().c_str()))] = parent;
    }
    int n = 0;
    for (const auto& [p, parent] : parents)
        for (pid_t up = parent; up > 1; up = parents.count(up) ? parents[up] : 0)
            if (up == pid) {
                ++n;
                break;
            }
    return n;
}

// The command blocked where it cannot look for a stop (writing to a pipe
// nobody reads) still ends within its grace period after Ctrl-C.
TEST_F(Cli, StopActsWhileTheCommandIsBlocked) {
    int pipeFds[2];
    ASSERT_EQ(::pipe(pipeFds), 0);
    const int capacity = ::fcntl(pipeFds[1], F_SETPIPE_SZ, 4096);
    ASSERT_GT(capacity, 0);
    const fs::path in = MakeInput("in.png");
    // Enough photos that their JSON (some 2 KB each, printed as each is
    // analysed) overflows the pipe.
    std::vector<std::string> args{"analyse"};
    for (int i = 0; i < 2 + capacity / 1000; ++i) args.push_back(in.string());
    pid_t c = StartCommand(dir, args, 0, pipeFds[1]);
    ::close(pipeFds[1]);
    // Blocked: the pipe holds more than a photo's room can take, and the
    // command has been asleep for a while (analysing, it runs).
    const auto end = Clock::now() + std::chrono::seconds(120);
    int queued = 0, asleep = 0;
    while (Clock::now() < end && asleep < 20) {
        const bool full = ::ioctl(pipeFds[0], FIONREAD, &queued) == 0 && queued > capacity / 2;
        asleep = full && ThreadState(c) == 'S' && Descendants(c) <= 1 ? asleep + 1 : 0;
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    if (asleep != 20) {
        ::kill(c, SIGKILL);  // it would wait on the pipe for ever
        Finish(c);
        FAIL() << "the command never blocked on the pipe (" << queued << " bytes queued)";
    }
    const auto stopped = Clock::now();
    ::kill(c, SIGINT);
    EXPECT_EQ(Finish(c, 10), 130);
    const double took = std::chrono::duration<double>(Clock::now() - stopped).count();
    EXPECT_LT(took, 3.0) << "a one-second grace, with room for a slow build";
    EXPECT_TRUE(Has(Slurp(dir / "stderr"), "lumarex: stopped at once"));
    ::close(pipeFds[0]);
}

}  // namespace
}  // namespace lumarex_test
