// SPDX-License-Identifier: MIT
// lumarex: automatic photo correction at the terminal.
#include <cstdio>
#include <cstring>
#include <string>

#include "commands.h"
#include "lumarex/lumarex.h"

namespace {

void Usage(std::FILE* to) {
    std::fprintf(to,
                 "usage: lumarex COMMAND [options]\n\n"
                 "Commands:\n"
                 "  auto PHOTO... -o OUT | -d FOLDER      correct 8-bit photos automatically in one step\n"
                 "  correct PHOTO... -o OUT | -d FOLDER   analyse, then correct 8 or 16-bit photos (or a region)\n"
                 "  analyse PHOTO...                      print what the analysis measures, as JSON\n\n"
                 "  lumarex COMMAND --help    explains every option of a command\n"
                 "  lumarex --version         prints the library version\n");
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        Usage(stderr);
        return 2;
    }
    const std::string cmd = argv[1];
    if (cmd == "-h" || cmd == "--help" || cmd == "help") {
        Usage(stdout);
        return 0;
    }
    if (cmd == "--version") {
        const unsigned v = GetLibraryVersion();
        std::printf("lumarex %u.%u (interface 0x%08X)\n", v >> 24, (v >> 16) & 0xff, v);
        return 0;
    }
    if (cmd == "auto") return lumarex_cli::RunAuto(argc, argv, 2);
    if (cmd == "correct") return lumarex_cli::RunCorrect(argc, argv, 2);
    if (cmd == "analyse" || cmd == "analyze") return lumarex_cli::RunAnalyse(argc, argv, 2);
    std::fprintf(stderr, "lumarex: unknown command '%s'\n\n", cmd.c_str());
    Usage(stderr);
    return 2;
}
