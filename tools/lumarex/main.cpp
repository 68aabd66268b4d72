// SPDX-License-Identifier: MIT
// lumarex: automatic photo correction at the terminal.
#include <csignal>

#include "cli.h"
#include "stop.h"

int main(int argc, char** argv) {
    // A write past the file size limit, and one to a closed pipe (stdout
    // piped into a command that ended, a page that went away), fail with
    // an error the command reports, rather than end the process in the
    // middle of writing an output.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // First, before any thread starts: every thread inherits the blocked stop
    // signals, which the watcher alone takes.
    lumarex_cli::StartStopWatcher();
    return lumarex_cli::RunCommandLine(argc, argv);
}
