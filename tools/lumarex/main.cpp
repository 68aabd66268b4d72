// SPDX-License-Identifier: MIT
// lumarex: automatic photo correction at the terminal.
#include <csignal>
#include <cstring>

#include "cli.h"
#include "reader_process.h"
#include "stop.h"

int main(int argc, char** argv) {
    // A write past the file size limit, and one to a closed pipe (stdout
    // piped into a command that ended, a page that went away), fail with
    // an error the command reports, rather than end the process in the
    // middle of writing an output.
    std::signal(SIGXFSZ, SIG_IGN);
    std::signal(SIGPIPE, SIG_IGN);
    // Started by the command itself to read one photo (reader_process.h).
    if (argc == 2 && std::strcmp(argv[1], lumarex_cli::kReaderArgument) == 0)
        return lumarex_cli::RunReaderProcess();
    // Each photo is read by a process of its own: forked from a copy of the
    // command made now, before it has done anything; failing that, started
    // as this very program (even if its file is replaced meanwhile).
    if (!lumarex_cli::StartReaderZygote())
        lumarex_cli::UseReaderProcess({"/proc/self/exe", lumarex_cli::kReaderArgument});
    // First, before any thread starts: every thread inherits the blocked stop
    // signals, which the watcher alone takes.
    lumarex_cli::StartStopWatcher();
    const int status = lumarex_cli::RunCommandLine(argc, argv);
    lumarex_cli::EndReaderZygote();
    return status;
}
