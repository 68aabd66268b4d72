// SPDX-License-Identifier: MIT
#include "batch.h"

#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <filesystem>

#include "image_file.h"

namespace lumarex_cli {
namespace fs = std::filesystem;

std::atomic<bool> g_stopRequested{false};

namespace {
extern "C" void OnStopSignal(int) {
    g_stopRequested.store(true);
    // A second Ctrl-C ends the program at once (temporaries are hidden files).
    std::signal(SIGINT, SIG_DFL);
}

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    return fs::weakly_canonical(a, ec) == fs::weakly_canonical(b, ec);
}
}  // namespace

void InstallStopHandler() {
    std::signal(SIGINT, OnStopSignal);
    std::signal(SIGTERM, OnStopSignal);
}

bool CheckOutputs(const std::vector<std::string>& inputs, OutputChoice& choice, std::string& error) {
    if (inputs.empty()) {
        error = "no input files (see --help)";
        return false;
    }
    if (!choice.output.empty() && !choice.directory.empty()) {
        error = "use either -o FILE or -d FOLDER, not both";
        return false;
    }
    if (choice.output.empty() && choice.directory.empty()) {
        error = "say where the result goes: -o FILE, or -d FOLDER for several files";
        return false;
    }
    if (!choice.output.empty()) {
        if (inputs.size() != 1) {
            error = "-o takes one input; use -d FOLDER for several";
            return false;
        }
        if (!IsSupportedOutput(choice.output)) {
            error = choice.output + ": unsupported output format (use .png, .jpg or .tif)";
            return false;
        }
    }
    if (!choice.directory.empty()) {
        std::error_code ec;
        fs::create_directories(choice.directory, ec);
        if (!fs::is_directory(choice.directory, ec)) {
            error = choice.directory + ": cannot create the output folder";
            return false;
        }
    }
    return true;
}

std::string OutputPathFor(const std::string& input, const OutputChoice& choice, std::string& error) {
    std::string out = choice.output;
    if (out.empty()) {
        fs::path name = fs::path(input).filename();
        if (!IsSupportedOutput(name.string())) name.replace_extension(".tif");
        out = (fs::path(choice.directory) / name).string();
    }
    if (!choice.overwrite && SamePath(input, out)) {
        error = "the output would replace the input; choose another name or folder, or pass --overwrite";
        return {};
    }
    return out;
}

int RunBatch(const std::vector<std::string>& inputs, const OutputChoice& choice,
             const std::function<bool(const std::string&, const std::string&, std::string&, std::string&)>& one) {
    const bool terminal = !choice.quiet && ::isatty(STDERR_FILENO);
    int failed = 0;
    for (size_t i = 0; i < inputs.size(); ++i) {
        if (g_stopRequested) break;
        const std::string& in = inputs[i];
        if (terminal) {
            std::fprintf(stderr, "\r\033[K[%zu/%zu] %s ...", i + 1, inputs.size(), in.c_str());
            std::fflush(stderr);
        }
        std::string error, summary;
        const std::string out = OutputPathFor(in, choice, error);
        const bool ok = !out.empty() && one(in, out, error, summary);
        if (terminal) std::fprintf(stderr, "\r\033[K");
        if (g_stopRequested) break;
        if (!ok) {
            ++failed;
            std::fprintf(stderr, "lumarex: %s: %s\n", in.c_str(), error.c_str());
        } else if (!choice.quiet) {
            std::printf("%s -> %s%s%s\n", in.c_str(), out.c_str(), summary.empty() ? "" : "  ", summary.c_str());
        }
        std::fflush(stdout);
    }
    if (g_stopRequested) {
        RemovePendingTemporaries();
        std::fprintf(stderr, "lumarex: stopped; no partial output was left\n");
        return 130;
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace lumarex_cli
