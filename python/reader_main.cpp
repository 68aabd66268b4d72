// SPDX-License-Identifier: MIT
// lumarex-reader: reads photos for the Python module, each in a process of
// its own, as the command reads its own (reader_process.h). It is built and
// installed beside the module, so that the two always speak the same wire
// format; the module starts it once, as the zygote that forks the readers.
#include <csignal>
#include <cstdio>
#include <cstring>

#include "reader_process.h"

int main(int argc, char** argv) {
    std::signal(SIGPIPE, SIG_IGN);
    if (argc == 2 && std::strcmp(argv[1], lumarex_cli::kZygoteArgument) == 0) lumarex_cli::ServeAsReaderZygote();
    if (argc == 2 && std::strcmp(argv[1], lumarex_cli::kReaderArgument) == 0) return lumarex_cli::RunReaderProcess();
    std::fprintf(stderr, "lumarex-reader: reads photos for the lumarex Python module, which starts it\n");
    return 2;
}
