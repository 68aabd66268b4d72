// SPDX-License-Identifier: MIT
// A small table-driven option parser: each option names its value kind,
// range, default and help text, so that --help and the range checks come from
// one place.
#pragma once

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace lumarex_cli {

struct Option {
    std::string name;     // "--cast-strength"
    std::string metavar;  // "AMOUNT"; empty for a flag without value
    std::string help;     // one or more sentences, wrapped by the printer
    // Parses and stores a value; returns an error text (empty when fine).
    std::function<std::string(const std::string& value)> set;
    std::string defaultText;  // shown in --help
};

// Helpers that build typed options bound to a variable.
Option IntOption(std::string name, std::string metavar, int* target, int lo, int hi, std::string help);
Option FloatOption(std::string name, std::string metavar, float* target, float lo, float hi, std::string help);
Option OnOffOption(std::string name, int* target, std::string help);
Option ChoiceOption(std::string name, int* target, std::vector<std::pair<std::string, int>> choices,
                    std::string help);
Option FlagOption(std::string name, bool* target, std::string help);

struct ParsedArgs {
    std::vector<std::string> positional;
    std::string error;  // empty when the command line was fine
    bool help = false;
};

// Parses argv[first..]: "--name value", "--name=value", flags, "-o X" style
// short aliases given in `aliases` ("-o" -> "--output"), and "--" ending the
// options.
ParsedArgs ParseArgs(int argc, char** argv, int first, const std::vector<Option>& options,
                     const std::vector<std::pair<std::string, std::string>>& aliases);

void PrintHelp(const std::string& usage, const std::string& intro, const std::vector<Option>& options);

}  // namespace lumarex_cli
