// SPDX-License-Identifier: MIT
// What every correcting subcommand shares: where each output goes, the
// progress line on a terminal, one error line per failed file, and the stop
// on Ctrl-C.
#pragma once

#include <atomic>
#include <functional>
#include <string>
#include <vector>

namespace lumarex_cli {

struct OutputChoice {
    std::string output;     // -o FILE (one input only)
    std::string directory;  // -d DIR
    bool overwrite = false; // may replace an input file
    bool compare = false;   // also write NAME-compare.jpg beside the output
    bool quiet = false;
    int quality = 95;       // JPEG quality
};

// Set by SIGINT/SIGTERM; the commands stop at the next safe point and leave
// no partial output.
extern std::atomic<bool> g_stopRequested;
void InstallStopHandler();

// Decides the output path of `input` (empty + error when it cannot be
// served, e.g. it would replace the input without --overwrite).
std::string OutputPathFor(const std::string& input, const OutputChoice& choice, std::string& error);

// Checks the input/output arguments before any work: -o with one input,
// -d being a folder (created when missing), supported output extensions.
bool CheckOutputs(const std::vector<std::string>& inputs, OutputChoice& choice, std::string& error);

// Runs `one(input, output, error)` for each input in order, printing a
// progress line on a terminal and one line per failure on stderr
// ("lumarex: FILE: problem"). Returns the process exit status: 0 when every
// file succeeded, 1 when some failed, 130 when stopped.
int RunBatch(const std::vector<std::string>& inputs, const OutputChoice& choice,
             const std::function<bool(const std::string& in, const std::string& out, std::string& error,
                                      std::string& summary)>& one);

}  // namespace lumarex_cli
