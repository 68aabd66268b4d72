// SPDX-License-Identifier: MIT
// The lumarex command never loses or overwrites a file by surprise: planted
// links, stops at any moment. (Outputs that would collide: the usage errors'
// test.)
#include <fcntl.h>

#include <nlohmann/json.hpp>

#include "cli_fixture.h"

namespace lumarex_test {
namespace {

// A 16-bit noise TIFF large enough that its correction and writing take a
// while (about 36 MB of samples).
fs::path MakeBigInput(const fs::path& dir) {
    const int w = 3000, h = 2000;
    std::vector<uint16_t> px(size_t(w) * h * 3);
    for (size_t i = 0; i < px.size(); ++i) px[i] = uint16_t((i * 2654435761u) >> 16);
    const fs::path in = dir / "big.tif";
    Cli::WriteImage(in, OIIO::ImageSpec(w, h, 3, OIIO::TypeDesc::UINT16), px);
    return in;
}

// Waits up to a minute for `ready`, polling every millisecond.
template <class Ready>
bool WaitFor(Ready ready) {
    const auto end = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (std::chrono::steady_clock::now() < end) {
        if (ready()) return true;
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return false;
}

TEST_F(Cli, PlantedLinksAreNeitherFollowedNorReplacedThrough) {
    const fs::path in = MakeInput("in.png");
    std::ofstream(dir / "victim.txt") << "victim";
    std::ofstream(dir / "target.txt") << "target";
    const fs::path out = dir / "out.png";
    fs::create_symlink(dir / "target.txt", out);
    // The temporary name the command once used, .NAME.lumarex-PID.ext, with
    // a link planted there by someone who knows the process id.
    const pid_t child = fork();
    ASSERT_GE(child, 0);
    if (child == 0) {
        ::umask(022);
        fs::create_symlink(dir / "victim.txt", dir / (".out.lumarex-" + std::to_string(::getpid()) + ".png"));
        std::freopen("/dev/null", "w", stdout);
        std::freopen("/dev/null", "w", stderr);
        execl(LUMAREX_CLI, LUMAREX_CLI, "auto", in.c_str(), "-o", out.c_str(), nullptr);
        _exit(127);
    }
    EXPECT_EQ(Finish(child), 0);
    EXPECT_EQ(Slurp(dir / "victim.txt"), "victim");
    EXPECT_EQ(Slurp(dir / "target.txt"), "target") << "the link at the destination is replaced, not its target";
    EXPECT_FALSE(fs::is_symlink(out));
    EXPECT_EQ(SpecOf(out).width, SpecOf(in).width);
    EXPECT_EQ(Mode(out), 0644u) << "as any new file under umask 022";
    int hidden = 0;
    for (const auto& e : fs::directory_iterator(dir)) hidden += e.path().filename().string()[0] == '.';
    EXPECT_EQ(hidden, 1) << "only the planted link is hidden";
}

// Two Ctrl-C while the output is being written: the clean-up is not cut short.
TEST_F(Cli, SecondInterruptWhileWritingLeavesNoTemporary) {
    const fs::path in = MakeBigInput(dir);
    const fs::path out = dir / "big-out.tif";
    const pid_t child = StartCommand(dir, {"correct", in.string(), "-o", out.string()});
    ASSERT_TRUE(WaitFor([&] { return !NoTemporariesLeft(); })) << "the temporary file never appeared";
    kill(child, SIGINT);
    kill(child, SIGINT);
    EXPECT_EQ(Finish(child), 130);
    EXPECT_FALSE(fs::exists(out));
    EXPECT_TRUE(NoTemporariesLeft());
}

TEST_F(Cli, TerminateStopsWith143AndListsWhatWasFinished) {
    const fs::path small = MakeInput("small.png");
    const fs::path big = MakeBigInput(dir);
    const pid_t child = StartCommand(dir, {"correct", small.string(), big.string(), "-d", (dir / "out").string()});
    // Stop once the small photo is done and the big one is under way.
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir / "out" / "small.png"); }));
    kill(child, SIGTERM);
    EXPECT_EQ(Finish(child), 143);
    const std::string err = Slurp(dir / "stderr");
    EXPECT_TRUE(Has(err, "finished before the stop (1 of 2)"));
    EXPECT_TRUE(Has(err, "small.png -> "));
    EXPECT_FALSE(fs::exists(dir / "out" / "big.tif"));
    EXPECT_TRUE(NoTemporariesLeft(dir / "out"));
}

// A batch started ignoring hang-ups and Ctrl-C (under nohup, or in the
// background of a shell without job control) goes on through them; the
// signals it was not told to ignore still stop it.
TEST_F(Cli, SignalsIgnoredAtTheStartDoNotStopTheBatch) {
    const fs::path small = MakeInput("small.png");
    const fs::path big = MakeBigInput(dir);
    struct sigaction ignore {}, hup {}, interrupt {};
    ignore.sa_handler = SIG_IGN;
    ::sigaction(SIGHUP, &ignore, &hup);
    ::sigaction(SIGINT, &ignore, &interrupt);
    const pid_t child = StartCommand(dir, {"correct", small.string(), big.string(), "-d", (dir / "out").string()});
    ::sigaction(SIGHUP, &hup, nullptr);
    ::sigaction(SIGINT, &interrupt, nullptr);
    ASSERT_TRUE(WaitFor([&] { return fs::exists(dir / "out" / "small.png"); }));
    kill(child, SIGHUP);
    kill(child, SIGINT);
    EXPECT_EQ(Finish(child), 0) << Slurp(dir / "stderr");
    EXPECT_TRUE(fs::exists(dir / "out" / "big.tif"));
}

// A stop that cannot wait for a large photo's analysis still leaves the
// photos analysed before it as a JSON array that parses.
TEST_F(Cli, StopDuringAnalysisKeepsTheJsonOfThoseFinished) {
    const fs::path small = MakeInput("small.png");
    const fs::path big = MakeBigInput(dir);
    const pid_t child = StartCommand(dir, {"analyse", small.string(), big.string(), big.string()});
    ASSERT_TRUE(WaitFor([&] { return Has(Slurp(dir / "stdout"), "small.png"); }))
        << "the first photo was not printed before the others were analysed";
    kill(child, SIGINT);
    kill(child, SIGINT);
    EXPECT_EQ(Finish(child), 130);
    const nlohmann::json photos = nlohmann::json::parse(Slurp(dir / "stdout"), nullptr, false);
    ASSERT_TRUE(photos.is_array()) << Slurp(dir / "stdout");
    ASSERT_GE(photos.size(), 1u);
    EXPECT_EQ(photos[0]["file"], small.string());
    EXPECT_TRUE(photos[0].contains("choice"));
}

// A stop while the command is blocked on a message nobody reads (its stderr
// a full pipe): the process still ends after its grace period, and the JSON
// printed before it is closed.
TEST_F(Cli, StopBlockedOnItsMessagesClosesTheJson) {
    int errPipe[2];
    ASSERT_EQ(::pipe(errPipe), 0);
    ASSERT_GT(::fcntl(errPipe[1], F_SETPIPE_SZ, 4096), 0);
    // Fill the pipe; the command's first message then blocks.
    const int flags = ::fcntl(errPipe[1], F_GETFL);
    ::fcntl(errPipe[1], F_SETFL, flags | O_NONBLOCK);
    const std::string filler(512, 'x');
    while (::write(errPipe[1], filler.data(), filler.size()) > 0) {
    }
    ::fcntl(errPipe[1], F_SETFL, flags);
    const fs::path small = MakeInput("small.png");
    const pid_t child =
        StartCommand(dir, {"analyse", small.string(), (dir / "missing.png").string()}, 0, -1, errPipe[1]);
    ::close(errPipe[1]);
    ASSERT_TRUE(WaitFor([&] { return Has(Slurp(dir / "stdout"), "small.png"); }));
    std::this_thread::sleep_for(std::chrono::milliseconds(100));  // on to the missing photo's message
    kill(child, SIGINT);
    EXPECT_EQ(Finish(child, 20), 130);
    const nlohmann::json photos = nlohmann::json::parse(Slurp(dir / "stdout"), nullptr, false);
    ASSERT_TRUE(photos.is_array()) << Slurp(dir / "stdout");
    EXPECT_EQ(photos.size(), 1u);
    ::close(errPipe[0]);
}

}  // namespace
}  // namespace lumarex_test
