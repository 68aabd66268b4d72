// SPDX-License-Identifier: MIT
// What every subcommand that reads photos shares: where each output goes
// (checked for collisions before any work), the size limits, the progress
// line on a terminal, one line per file, and the stop.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "image_file.h"
#include "memory_budget.h"

namespace lumarex_cli {

// What the limits take: 1 to 268 megapixels (2^31 / 8, the largest picture
// the library's 32-bit sizes serve), and 0.1 GB of memory or more, up to a
// petabyte.
inline constexpr double kLeastMegapixels = 1.0, kMostMegapixels = 268.0;
inline constexpr double kLeastMemoryGB = 0.1, kMostMemoryGB = 1e6;

// Limits on what a file may cost, checked from its header.
struct SizeLimits {
    double maxMegapixels = kDefaultMaxMegapixels;
    double maxMemoryGB = 0.0;  // 0: DefaultMaxMemoryGB()
};

struct OutputChoice {
    std::string output;     // -o FILE (one input only)
    std::string directory;  // -d DIR
    bool overwrite = false; // may replace its own input file, or a read-only file
    bool compare = false;   // also write NAME-compare.jpg beside the output
    bool quiet = false;
    int quality = 95;       // quality of the lossy formats written
    int jobs = 1;           // photos corrected at the same time
    SizeLimits limits;
    RawDevelopment raw;     // how camera raw inputs are developed
};

// The output of each input, decided before any work.
struct OutputPlan {
    std::vector<std::string> outputs;   // one per input
    std::vector<std::string> problems;  // per input: why it cannot be served (empty when it can)
    std::string madeFolder;             // the outermost folder made for -d, "" when none was
};

// The output name of `input` in -d FOLDER: its own name; a format that
// cannot be written (.bmp, .gif, ...) becomes .tif.
std::string OutputNameInFolder(const std::string& input, const std::string& folder);

// NAME-compare.jpg beside `output`.
std::string ComparePathFor(const std::string& output);

// Checks the arguments and plans every output: -o with one input and an
// existing folder, -d being a folder (created when missing, once nothing
// refuses the batch; RunBatch removes it again when nothing was written
// into it), supported
// output extensions, and no two outputs (or before/after pictures) landing
// on one file or on another input. On a problem that concerns the whole
// command returns false with `error` (a usage error); an output that would
// replace its own input, or an existing read-only file, without --overwrite
// is a problem of that file only.
bool PlanOutputs(const std::vector<std::string>& inputs, const OutputChoice& choice, OutputPlan& plan,
                 std::string& error);

// Reports the share of one file's work done (0..1); returns true when the
// work should stop now. Thread-safe.
using FileProgress = std::function<bool(float done)>;

// A photo opened, checked against the limits and read within the memory
// budget; holds its share of the budget until destroyed.
class BudgetedPhoto {
public:
    BudgetedPhoto(MemoryBudget& budget, const SizeLimits& limits, const RawDevelopment& raw = {})
        : budget_(budget), limits_(limits), raw_(raw) {}
    ~BudgetedPhoto();
    // Opens and reads `path` for `work` at `want16`; progress 0..1 of the
    // reading.
    bool Read(const std::string& path, Work work, bool want16, Picture& pic, std::string& notes, std::string& error,
              const FileProgress& progress);

private:
    template <class Reader>
    bool ReadWith(Reader& reader, const std::string& path, Work work, bool want16, Picture& pic,
                  std::string& notes, std::string& error, const FileProgress& progress);

    MemoryBudget& budget_;
    const SizeLimits& limits_;
    RawDevelopment raw_;
    uint64_t held_ = 0;
};

// The memory budget of a run.
uint64_t BudgetBytes(const SizeLimits& limits);

// What a command does to a photo that was read: corrects `pic` (which then
// holds the result to write) and fills `before` for --compare when asked;
// progress 0..1 of the correction.
struct CorrectionJob {
    Work work;
    bool want16;
    std::function<bool(Picture& pic, Picture* before, std::string& summary, std::string& error,
                       const FileProgress& progress)>
        correct;
};

// One photo of a batch: reads `input` within `budget`, corrects it with
// `job` and writes it to `output` (and its before/after picture when
// choice.compare) through a temporary renamed into place. `summary` gets the
// correction's summary and the notes of reading and writing; `progress` goes
// 0..1 over the whole file and stops it when it returns true.
bool CorrectFile(const std::string& input, const std::string& output, const OutputChoice& choice,
                 MemoryBudget& budget, const CorrectionJob& job, const FileProgress& progress, std::string& summary,
                 std::string& error);

// Corrects every input into its planned output, `choice.jobs` at a time on
// worker threads, within the memory budget; prints a progress line on a
// terminal, one line per corrected file on stdout and one per failure on
// the real stderr ("lumarex: FILE: problem"). After a stop it removes every
// temporary and lists the files that were finished. Returns the exit
// status: 0 all corrected, 1 some file failed, 128 + signal when stopped.
int RunBatch(const std::vector<std::string>& inputs, const OutputPlan& plan, const OutputChoice& choice,
             const CorrectionJob& job);

}  // namespace lumarex_cli
