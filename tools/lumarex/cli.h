// SPDX-License-Identifier: MIT
// The command line, on CLI11: the subcommands' options come from the
// settings table (settings.h) and from the file options every subcommand
// shares, with help texts that give each value's unit, range and default.
#pragma once

#include <CLI/CLI.hpp>

#include <string>
#include <vector>

#include "batch.h"
#include "correction.h"
#include "settings.h"

namespace lumarex_cli {

// Help text wrapped to 80 columns, the descriptions in a column of their own.
std::shared_ptr<CLI::Formatter> HelpFormatter();

// Everything `auto` and `correct` take from the command line.
struct CorrectingOptions {
    explicit CorrectingOptions(Command c) : command(c), settings(DefaultSettings(c)) {}
    Command command;
    Settings settings;
    OutputChoice choice;
    std::vector<std::string> inputs;
};

// Adds the subcommand `name` with the photos, the file options and every
// setting of the table that `o.command` takes.
CLI::App* AddCorrectingCommand(CLI::App& app, const std::string& name, const std::string& description,
                               CorrectingOptions& o);

// Adds --max-megapixels and --max-memory (`jobs`: the subcommand has -j).
void AddLimitOptions(CLI::App& sub, SizeLimits& limits, bool jobs);

// Plans the outputs and runs the batch: exit status 0, 1, 2 (usage error,
// printed as "lumarex NAME: problem") or 128 + signal.
int RunCorrectingCommand(const std::string& name, CorrectingOptions& o, const CorrectionJob& job);

// Subcommands; each is registered by main and run when chosen.
struct CorrectCommand {
    CorrectingOptions options{Command::kCorrect};
    std::string region;  // X,Y,W,H as given
    CLI::App* Register(CLI::App& app);
    int Run();
};
struct AutoCommand {
    CorrectingOptions options{Command::kAuto};
    CLI::App* Register(CLI::App& app);
    int Run();
};
struct ServeCommand {
    std::string photo;
    std::string listen = "127.0.0.1";
    int port = 8080;
    bool token = false;  // a token also on loopback
    SizeLimits limits;
    CLI::App* Register(CLI::App& app);
    int Run();
};
struct AnalyseCommand {
    std::vector<std::string> inputs;
    SizeLimits limits;
    CLI::App* Register(CLI::App& app);
    int Run();
};

}  // namespace lumarex_cli
