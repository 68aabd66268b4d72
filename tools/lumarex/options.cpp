// SPDX-License-Identifier: MIT
#include "options.h"

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <sstream>

namespace lumarex_cli {
namespace {

std::string Trimmed(double v) {
    std::ostringstream s;
    s << v;
    return s.str();
}

bool ParseLong(const std::string& s, long& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtol(s.c_str(), &end, 10);
    return errno == 0 && end && *end == '\0';
}

bool ParseDouble(const std::string& s, double& out) {
    if (s.empty()) return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(s.c_str(), &end);
    return errno == 0 && end && *end == '\0' && std::isfinite(out);
}

}  // namespace

Option IntOption(std::string name, std::string metavar, int* target, int lo, int hi, std::string help) {
    Option o{std::move(name), std::move(metavar), std::move(help), nullptr, std::to_string(*target)};
    o.set = [target, lo, hi](const std::string& v) -> std::string {
        long x;
        if (!ParseLong(v, x)) return "expects a whole number, got '" + v + "'";
        if (x < lo || x > hi) return "must be between " + std::to_string(lo) + " and " + std::to_string(hi);
        *target = int(x);
        return {};
    };
    return o;
}

Option FloatOption(std::string name, std::string metavar, float* target, float lo, float hi, std::string help) {
    Option o{std::move(name), std::move(metavar), std::move(help), nullptr, Trimmed(*target)};
    o.set = [target, lo, hi](const std::string& v) -> std::string {
        double x;
        if (!ParseDouble(v, x)) return "expects a number, got '" + v + "'";
        if (x < lo || x > hi) return "must be between " + Trimmed(lo) + " and " + Trimmed(hi);
        *target = float(x);
        return {};
    };
    return o;
}

Option OnOffOption(std::string name, int* target, std::string help) {
    return ChoiceOption(std::move(name), target, {{"on", 1}, {"off", 0}}, std::move(help));
}

Option ChoiceOption(std::string name, int* target, std::vector<std::pair<std::string, int>> choices,
                    std::string help) {
    std::string metavar, def;
    for (const auto& [word, value] : choices) {
        metavar += (metavar.empty() ? "" : "|") + word;
        if (value == *target && def.empty()) def = word;
    }
    Option o{std::move(name), metavar, std::move(help), nullptr, def};
    o.set = [target, choices, metavar](const std::string& v) -> std::string {
        for (const auto& [word, value] : choices)
            if (v == word) {
                *target = value;
                return {};
            }
        return "expects one of " + metavar + ", got '" + v + "'";
    };
    return o;
}

Option FlagOption(std::string name, bool* target, std::string help) {
    Option o{std::move(name), "", std::move(help), nullptr, ""};
    o.set = [target](const std::string&) -> std::string {
        *target = true;
        return {};
    };
    return o;
}

ParsedArgs ParseArgs(int argc, char** argv, int first, const std::vector<Option>& options,
                     const std::vector<std::pair<std::string, std::string>>& aliases) {
    ParsedArgs r;
    bool optionsEnded = false;
    for (int i = first; i < argc && r.error.empty(); ++i) {
        std::string arg = argv[i];
        if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
            r.positional.push_back(arg);
            continue;
        }
        if (arg == "--") {
            optionsEnded = true;
            continue;
        }
        if (arg == "-h" || arg == "--help") {
            r.help = true;
            continue;
        }
        for (const auto& [shortName, longName] : aliases)
            if (arg == shortName) arg = longName;
        std::string value;
        bool hasValue = false;
        if (const auto eq = arg.find('='); eq != std::string::npos) {
            value = arg.substr(eq + 1);
            arg = arg.substr(0, eq);
            hasValue = true;
        }
        const Option* opt = nullptr;
        for (const auto& o : options)
            if (o.name == arg) opt = &o;
        if (opt == nullptr) {
            r.error = "unknown option " + arg + " (see --help)";
            break;
        }
        if (!opt->metavar.empty() && !hasValue) {
            if (i + 1 >= argc) {
                r.error = arg + " needs a value (" + opt->metavar + ")";
                break;
            }
            value = argv[++i];
        }
        if (std::string e = opt->set(value); !e.empty()) r.error = arg + " " + e;
    }
    return r;
}

void PrintHelp(const std::string& usage, const std::string& intro, const std::vector<Option>& options) {
    std::printf("%s\n\n%s\n\nOptions:\n", usage.c_str(), intro.c_str());
    for (const auto& o : options) {
        std::string head = "  " + o.name + (o.metavar.empty() ? "" : " " + o.metavar);
        std::printf("%s\n", head.c_str());
        // Wrap the help text at 76 columns, indented.
        std::istringstream words(o.help + (o.defaultText.empty() ? "" : " Default: " + o.defaultText + "."));
        std::string word, line = "      ";
        while (words >> word) {
            if (line.size() + word.size() + 1 > 78 && line.size() > 6) {
                std::printf("%s\n", line.c_str());
                line = "      ";
            }
            line += (line.size() > 6 ? " " : "") + word;
        }
        if (line.size() > 6) std::printf("%s\n", line.c_str());
    }
}

}  // namespace lumarex_cli
