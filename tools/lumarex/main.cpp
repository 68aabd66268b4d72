// SPDX-License-Identifier: MIT
// lumarex: automatic photo correction at the terminal.
#include <CLI/CLI.hpp>

#include <cstdio>
#include <string>

#include "cli.h"
#include "console.h"
#include "lumarex/lumarex.h"
#include "stop.h"

namespace {

constexpr const char* kUsage =
    "usage: lumarex COMMAND [options]\n\n"
    "Commands:\n"
    "  auto PHOTO... -o OUT | -d FOLDER      correct 8-bit photos automatically\n"
    "  correct PHOTO... -o OUT | -d FOLDER   analyse, then correct 8 or 16-bit photos (or a region)\n"
    "  analyse PHOTO...                      print what the analysis measures, as JSON\n"
    "  serve PHOTO [--port N]                preview the correction in a browser, with a control per setting\n\n"
    "  lumarex COMMAND --help    explains every option of a command\n"
    "  lumarex --version         prints the library version\n";

bool IsCommand(const std::string& word) {
    return word == "auto" || word == "correct" || word == "analyse" || word == "analyze" || word == "serve";
}

}  // namespace

int main(int argc, char** argv) {
    using namespace lumarex_cli;
    // First, before any thread starts: every thread inherits the blocked stop
    // signals, which the watcher alone takes.
    StartStopWatcher();

    const std::string first = argc >= 2 ? argv[1] : "";
    if (argc < 2) {
        std::fputs(kUsage, stderr);
        return 2;
    }
    if (first == "-h" || first == "--help" || first == "help") {
        std::fputs(kUsage, stdout);
        return 0;
    }
    if (first == "--version") {
        const unsigned v = GetLibraryVersion();
        std::printf("lumarex %u.%u (interface 0x%08X)\n", v >> 24, (v >> 16) & 0xff, v);
        return 0;
    }
    if (!IsCommand(first)) {
        std::fprintf(stderr, "lumarex: unknown command '%s'\n\n%s", first.c_str(), kUsage);
        return 2;
    }

    CLI::App app{"", "lumarex"};
    app.formatter(HelpFormatter());
    app.require_subcommand(1, 1);
    AutoCommand autoCommand;
    CorrectCommand correctCommand;
    AnalyseCommand analyseCommand;
    ServeCommand serveCommand;
    CLI::App* autoSub = autoCommand.Register(app);
    CLI::App* correctSub = correctCommand.Register(app);
    CLI::App* analyseSub = analyseCommand.Register(app);
    CLI::App* serveSub = serveCommand.Register(app);
    try {
        app.parse(argc, argv);
    } catch (const CLI::CallForHelp&) {
        std::fputs(app.help().c_str(), stdout);
        return 0;
    } catch (const CLI::ParseError& e) {
        const std::string name = correctSub->parsed()   ? "correct"
                                 : analyseSub->parsed() ? "analyse"
                                 : serveSub->parsed()   ? "serve"
                                                        : "auto";
        std::fprintf(stderr, "lumarex %s: %s (see --help)\n", name.c_str(), e.what());
        return 2;
    }
    if (autoSub->parsed()) return autoCommand.Run();
    if (correctSub->parsed()) return correctCommand.Run();
    if (serveSub->parsed()) return serveCommand.Run();
    return analyseCommand.Run();
}
