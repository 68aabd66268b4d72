// SPDX-License-Identifier: MIT
#include "stop.h"

#include <pthread.h>
#include <unistd.h>

#include <atomic>
#include <csignal>
#include <thread>

#include "console.h"
#include "output_file.h"

namespace lumarex_cli {
namespace {

std::atomic<int> g_firstSignal{0};

sigset_t StopSignals() {
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGINT);
    sigaddset(&set, SIGTERM);
    sigaddset(&set, SIGHUP);
    return set;
}

void Watch(sigset_t set) {
    for (;;) {
        int sig = 0;
        if (sigwait(&set, &sig) != 0) continue;
        int expected = 0;
        if (g_firstSignal.compare_exchange_strong(expected, sig)) continue;  // the first: stop softly
        // A second signal: stop now. The temporaries go first; the lock inside
        // keeps any worker from creating or renaming one meanwhile.
        static const char kLine[] = "\nlumarex: stopped at once; no partial output was left\n";
        (void)::write(UserErrorFd(), kLine, sizeof kLine - 1);
        RemovePendingTemporariesAndExit(128 + g_firstSignal.load());
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

}  // namespace lumarex_cli
