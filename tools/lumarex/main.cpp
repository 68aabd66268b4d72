// SPDX-License-Identifier: MIT
// lumarex: automatic photo correction at the terminal.
#include "cli.h"
#include "stop.h"

int main(int argc, char** argv) {
    // First, before any thread starts: every thread inherits the blocked stop
    // signals, which the watcher alone takes.
    lumarex_cli::StartStopWatcher();
    return lumarex_cli::RunCommandLine(argc, argv);
}
