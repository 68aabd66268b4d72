// SPDX-License-Identifier: MIT
#include "stop.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <ctime>
#include <mutex>
#include <thread>
#include <vector>

#include "console.h"
#include "output_file.h"

namespace lumarex_cli {
namespace {

std::atomic<int> g_firstSignal{0};

std::mutex g_reportMutex;
std::vector<std::string> g_finished;
size_t g_runSize = 0;
bool g_reported = false;

std::mutex g_outputMutex;
std::string g_outputClosing;  // guarded by g_outputMutex

// A hard stop's end of standard output: the closing of what was printed.
// The lock is kept until the process ends, so nothing is printed after it;
// while it is held (a print under way, perhaps blocked on a full pipe) the
// output is left as it is.
void CloseOutput() {
    if (!g_outputMutex.try_lock()) return;
    WriteAll(STDOUT_FILENO, g_outputClosing.data(), g_outputClosing.size(), false);
}

// The stop signals, less those the command was started ignoring: a batch
// under nohup goes on when its terminal closes, and one started in the
// background by a shell without job control goes on through Ctrl-C. A
// blocked signal is kept for sigwait even when its action is to ignore it,
// so they are left out of the set rather than left to their action.
sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    for (const int sig : {SIGINT, SIGTERM, SIGHUP}) {
        struct sigaction now {};
        if (sigaction(sig, nullptr, &now) == 0 && now.sa_handler == SIG_IGN) continue;
        sigaddset(&set, sig);
    }
    return set;
}

// Waits for a stop signal; after the first, for at most the grace period.
// Returns the signal, or 0 when the grace period ran out.
int NextSignal(const sigset_t& set) {
    if (g_firstSignal.load() == 0) {
        int sig = 0;
        return sigwait(&set, &sig) == 0 ? sig : -1;
    }
    const timespec grace{kStopGraceMs / 1000, (kStopGraceMs % 1000) * 1000000L};
    const int sig = sigtimedwait(&set, nullptr, &grace);
    if (sig > 0) return sig;
    return errno == EAGAIN ? 0 : -1;
}

void Watch(sigset_t set) {
    for (;;) {
        const int sig = NextSignal(set);
        if (sig < 0) continue;  // interrupted: wait again
        int expected = 0;
        if (sig > 0 && g_firstSignal.compare_exchange_strong(expected, sig)) continue;  // the first: stop softly
        // A second signal, or the first one's grace gone by: stop now. The
        // temporaries go first; the lock held inside keeps any worker from
        // creating or renaming one meanwhile.
        HoldAndRemovePendingTemporaries();
        CloseOutput();
        ReportStop(true);
        ::_exit(128 + g_firstSignal.load());
    }
}

}  // namespace

void StartStopWatcher() {
    sigset_t set = StopSignals();
    pthread_sigmask(SIG_BLOCK, &set, nullptr);
    std::thread(Watch, set).detach();
}

bool StopRequested() { return g_firstSignal.load(std::memory_order_relaxed) != 0; }

int StopStatus() {
    const int sig = g_firstSignal.load();
    return sig == 0 ? 0 : 128 + sig;
}

void NoteRunSize(size_t photos) {
    std::lock_guard<std::mutex> lock(g_reportMutex);
    g_runSize = photos;
}

void NoteFinished(const std::string& line) {
    std::lock_guard<std::mutex> lock(g_reportMutex);
    g_finished.push_back(line);
}

void ReportStop(bool atOnce) {
    std::lock_guard<std::mutex> lock(g_reportMutex);
    if (g_reported) return;
    g_reported = true;
    std::string text = atOnce ? "\nlumarex: stopped at once; no partial output was left\n"
                              : "lumarex: stopped; no partial output was left\n";
    if (g_runSize > 0 && g_finished.empty()) {
        text += "lumarex: no photo was finished before the stop\n";
    } else if (g_runSize > 0) {
        text += "lumarex: finished before the stop (" + std::to_string(g_finished.size()) + " of " +
                std::to_string(g_runSize) + "):\n";
        for (const std::string& f : g_finished) text += "  " + f + "\n";
    }
    // One write, not through stdio: the watcher may print while a worker
    // holds the stream.
    WriteAll(UserErrorFd(), text.data(), text.size(), !atOnce);
}

bool PrintOutput(const std::string& text, const std::string& closing) {
    std::lock_guard<std::mutex> lock(g_outputMutex);
    errno = 0;
    const bool ok = std::fwrite(text.data(), 1, text.size(), stdout) == text.size() && std::fflush(stdout) == 0;
    g_outputClosing = closing;
    return ok;
}

}  // namespace lumarex_cli
