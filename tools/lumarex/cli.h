// SPDX-License-Identifier: MIT
// The command line: the subcommands, what each takes and what each runs.
// Their options come from the settings table (settings.h) and from the file
// options every subcommand shares, with help texts that give each value's
// unit, range and default. Only cli.cpp sees CLI11: its header costs about
// twenty seconds of compiling in every file that includes it (its
// validators are objects built in each), so the subcommands' own files hold
// only what they run.
#pragma once

#include <string>
#include <vector>

#include "batch.h"
#include "correction.h"
#include "settings.h"

namespace lumarex_cli {

// Parses the command line and runs the subcommand it names: exit status 0,
// 1, 2 (usage error) or 128 + signal.
int RunCommandLine(int argc, char** argv);

// Everything `auto` and `correct` take from the command line.
struct CorrectingOptions {
    explicit CorrectingOptions(Command c) : command(c), settings(DefaultSettings(c)) {}
    Command command;
    Settings settings;
    OutputChoice choice;
    std::vector<std::string> inputs;
};

// Plans the outputs and runs the batch: exit status 0, 1, 2 (usage error,
// printed as "lumarex NAME: problem") or 128 + signal.
int RunCorrectingCommand(const std::string& name, CorrectingOptions& o, const CorrectionJob& job);

// X,Y,W,H with X, Y >= 0 and W, H >= 1 (`correct --region`).
bool ParseRegion(const std::string& text, Region& r);

// Subcommands: what the command line fills in, and what runs when chosen.
struct CorrectCommand {
    CorrectingOptions options{Command::kCorrect};
    std::string region;  // X,Y,W,H as given
    int Run();
};
struct AutoCommand {
    CorrectingOptions options{Command::kAuto};
    int Run();
};
struct ServeCommand {
    std::string photo;
    std::string listen = "127.0.0.1";
    int port = 8080;
    bool token = false;  // a token also on loopback
    SizeLimits limits;
    int Run();
};
struct AnalyseCommand {
    std::vector<std::string> inputs;
    SizeLimits limits;
    int Run();
};

}  // namespace lumarex_cli
