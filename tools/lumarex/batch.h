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

struct Picture;

struct OutputChoice {
    std::string output;     // -o FILE (one input only)
    std::string directory;  // -d DIR
    bool overwrite = false; // may replace an input file
    bool compare = false;   // also write NAME-compare.jpg beside the output
    bool quiet = false;
    int quality = 95;       // JPEG quality
    int jobs = 1;           // photos corrected at the same time
};

// Handed to each file's work: reports its progress (step of total) and
// tells whether to stop (Ctrl-C). Thread-safe.
class FileProgress {
public:
    virtual ~FileProgress() = default;
    // Returns true when the work should stop now.
    virtual bool Report(int step, int total) const = 0;
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

using FileJob = std::function<bool(const std::string& in, const std::string& out, std::string& error,
                                   std::string& summary, const FileProgress& progress)>;

// Runs `one` for each input, `choice.jobs` at a time on worker threads,
// printing a progress line on a terminal, one line per corrected file on
// stdout and one line per failure on stderr ("lumarex: FILE: problem").
// Returns the process exit status: 0 when every file succeeded, 1 when some
// failed, 130 when stopped.
int RunBatch(const std::vector<std::string>& inputs, const OutputChoice& choice, const FileJob& one);

// Writes `after` to `out` and, when asked, NAME-compare.jpg beside it.
bool WriteResult(const std::string& out, const Picture& before, const Picture& after,
                 const OutputChoice& choice, std::string& error);

}  // namespace lumarex_cli
