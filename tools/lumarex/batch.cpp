// SPDX-License-Identifier: MIT
#include "batch.h"

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "console.h"
#include "output_file.h"
#include "reader_process.h"
#include "stop.h"

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

// One spelling per file, whether it exists yet or not.
std::string Canonical(const std::string& p) {
    std::error_code ec;
    fs::path c = fs::weakly_canonical(fs::absolute(p, ec), ec);
    return (ec ? fs::path(p) : c).string();
}

bool SamePath(const std::string& a, const std::string& b) {
    std::error_code ec;
    if (fs::exists(a, ec) && fs::exists(b, ec)) return fs::equivalent(a, b, ec);
    return Canonical(a) == Canonical(b);
}

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

// The longest file name a folder takes on the usual file systems, in bytes.
constexpr size_t kLongestName = 255;

// The folder, absolute, without a trailing separator.
fs::path FolderPath(const std::string& folder) {
    std::error_code ec;
    fs::path p = fs::absolute(folder, ec).lexically_normal();
    return p.has_filename() || !p.has_parent_path() ? p : p.parent_path();
}

// Makes `folder` and the folders above it that are missing; `made` becomes
// the outermost of those made ("" when it existed).
bool MakeOutputFolder(const std::string& folder, std::string& made, std::string& error) {
    std::error_code ec;
    fs::path outermost;
    for (fs::path p = FolderPath(folder); !fs::exists(fs::symlink_status(p, ec)); p = p.parent_path()) {
        outermost = p;
        if (!p.has_relative_path()) break;
    }
    fs::create_directories(folder, ec);
    if (!fs::is_directory(folder, ec)) {
        error = folder + ": cannot create the output folder" + (ec ? " (" + ec.message() + ")" : std::string());
        return false;
    }
    made = outermost.string();
    return true;
}

// Removes the folders this run made for -d when nothing was written into
// them: a batch whose every photo failed or that was stopped leaves no
// empty folder behind.
void RemoveFolderLeftEmpty(const std::string& folder, const std::string& made) {
    if (made.empty()) return;
    std::error_code ec;
    for (fs::path p = FolderPath(folder);; p = p.parent_path()) {
        if (!fs::is_directory(fs::symlink_status(p, ec)) || !fs::remove(p, ec)) return;  // not empty
        if (p == fs::path(made) || !p.has_relative_path()) return;
    }
}

}  // namespace

std::string OutputNameInFolder(const std::string& input, const std::string& folder) {
    fs::path name = fs::path(input).filename();
    if (!IsSupportedOutput(name.string())) name.replace_extension(".tif");
    return (fs::path(folder) / name).string();
}

std::string ComparePathFor(const std::string& output) {
    const fs::path o(output);
    return (o.parent_path() / (o.stem().string() + "-compare.jpg")).string();
}

bool PlanOutputs(const std::vector<std::string>& inputs, const OutputChoice& choice, OutputPlan& plan,
                 std::string& error) {
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
    std::error_code ec;
    if (!choice.output.empty()) {
        if (inputs.size() != 1) {
            error = "-o takes one input; use -d FOLDER for several";
            return false;
        }
        if (fs::is_directory(choice.output, ec)) {
            error = choice.output + ": is a folder; -d FOLDER writes into a folder";
            return false;
        }
        if (!IsSupportedOutput(choice.output)) {
            error = choice.output + ": " + UnsupportedOutputMessage(choice.output);
            return false;
        }
        if (!fs::is_directory(FolderOf(choice.output), ec)) {
            error = choice.output + ": the folder '" + FolderOf(choice.output) + "' does not exist";
            return false;
        }
    } else if (fs::exists(choice.directory, ec) && !fs::is_directory(choice.directory, ec)) {
        error = choice.directory + ": is a file, not a folder";
        return false;
    }

    plan.outputs.clear();
    plan.problems.assign(inputs.size(), std::string());
    // Every file this run writes, with the input it comes from.
    std::map<std::string, size_t> written;
    auto claim = [&](const std::string& path, size_t i) {
        const auto [at, fresh] = written.emplace(Canonical(path), i);
        if (fresh) return true;
        error = inputs[at->second] + " and " + inputs[i] + " would both be written to " + path +
                "; correct them into different folders or one at a time";
        return false;
    };
    for (size_t i = 0; i < inputs.size(); ++i) {
        const std::string out =
            choice.output.empty() ? OutputNameInFolder(inputs[i], choice.directory) : choice.output;
        plan.outputs.push_back(out);
        const std::string compare = choice.compare ? ComparePathFor(out) : std::string();
        if (!claim(out, i) || (!compare.empty() && !claim(compare, i))) return false;
        const std::string longest = compare.empty() ? out : compare;
        if (fs::path(longest).filename().string().size() > kLongestName)
            plan.problems[i] = "the name of " + longest + " is longer than " + std::to_string(kLongestName) +
                               " bytes, more than a folder takes; choose a shorter output name";
        else if (!choice.overwrite && SamePath(inputs[i], out))
            plan.problems[i] = "the output would replace the input; choose another name or folder, or pass --overwrite";
        else if (!compare.empty() && SamePath(inputs[i], compare))
            // --overwrite is for the corrected photo; a before/after picture
            // in the photo's place is never what was meant.
            plan.problems[i] =
                "the before/after picture " + compare + " would replace the input; choose another output name";
        else if (!choice.overwrite && IsReadOnlyFile(out))
            plan.problems[i] = out + " exists and is read-only; pass --overwrite to replace it";
        else if (!choice.overwrite && !compare.empty() && IsReadOnlyFile(compare))
            plan.problems[i] = compare + " exists and is read-only; pass --overwrite to replace it";
    }
    // An output never lands on another input: that input might not be read yet.
    for (size_t i = 0; i < inputs.size(); ++i) {
        const auto at = written.find(Canonical(inputs[i]));
        if (at != written.end() && at->second != i) {
            error = inputs[at->second] + " would be written over the input " + inputs[i] +
                    "; choose another folder";
            return false;
        }
    }
    // The folder is made once nothing else can refuse the batch.
    return choice.directory.empty() || MakeOutputFolder(choice.directory, plan.madeFolder, error);
}

uint64_t BudgetBytes(const SizeLimits& limits) {
    // A caller that passes more than the most gets the most rather than a
    // conversion out of range.
    const double gb = limits.maxMemoryGB > 0.0 ? std::min(limits.maxMemoryGB, kMostMemoryGB) : DefaultMaxMemoryGB();
    return uint64_t(gb * 1e9);
}

BudgetedPhoto::~BudgetedPhoto() {
    if (held_ > 0) budget_.Release(held_);
}

template <class Reader>
bool BudgetedPhoto::ReadWith(Reader& reader, const std::string& path, Work work, bool want16, Picture& pic,
                             std::string& notes, std::string& error, const FileProgress& progress) {
    if (!reader.Open(path, error, raw_)) return false;
    // Sizes come from the header: nothing is allocated for pixels before
    // they pass.
    const int64_t pixels = int64_t(reader.Width()) * reader.Height();
    const double megapixels = double(pixels) / 1e6;
    char mp[32];
    std::snprintf(mp, sizeof mp, "%.1f", megapixels);
    const std::string size = std::to_string(reader.Width()) + "x" + std::to_string(reader.Height());
    if (megapixels > limits_.maxMegapixels) {
        char lim[32], most[80];
        std::snprintf(lim, sizeof lim, "%g", limits_.maxMegapixels);
        std::snprintf(most, sizeof most, " (and over %g, the most --max-megapixels allows)", kMostMegapixels);
        error = "too large: " + size + " is " + mp + " megapixels, over the limit of " + lim +
                (megapixels <= kMostMegapixels ? " (--max-megapixels raises it)" : most);
        return false;
    }
    const uint64_t need = EstimatedBytes(work, pixels, reader.Channels(), want16 && reader.Deep() ? 16 : 8,
                                         reader.DecoderBytes());
    if (!budget_.Acquire(need, [] { return StopRequested(); })) {
        error = StopRequested() ? "stopped"
                                : "too large: " + size + " needs about " + GigabytesText(need) +
                                      " of memory, over the budget of " + GigabytesText(budget_.Total()) +
                                      " (--max-memory raises it)";
        return false;
    }
    held_ = need;
    if (!reader.Read(want16, pic, notes, error, [&](float done) { return progress(done); })) {
        if (StopRequested()) error = "stopped";
        return false;
    }
    return true;
}

bool BudgetedPhoto::Read(const std::string& path, Work work, bool want16, Picture& pic, std::string& notes,
                         std::string& error, const FileProgress& progress) {
    // The command reads each photo in a process of its own (a decoder that
    // crashes on a damaged file then costs that file alone); other callers,
    // the tests among them, read in their own process.
    // The wait for a reader to start and send the header stops on the
    // caller's stop too (Ctrl-C in a Python batch's worker), not only on the
    // command's: nothing of the file is done yet, so it reports 0.
    return WithPhotoReader(
        [&](auto& reader) { return ReadWith(reader, path, work, want16, pic, notes, error, progress); },
        [&progress] { return progress(0.0f); });
}

namespace {

// The terminal line: "[3/8] name [######------]" for one job at a time,
// "[3/8 done] 2 at work" for several.
class Terminal {
public:
    Terminal(bool on, size_t total) : on_(on), total_(total) {}

    void Show(const std::string& text) {
        if (!on_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(UserErr(), "\r\033[K%s", text.c_str());
        std::fflush(UserErr());
    }
    void Clear() { Show(""); }
    // Prints a whole line to `to` without tearing the progress line.
    void Line(std::FILE* to, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (on_) std::fprintf(UserErr(), "\r\033[K");
        std::fprintf(to, "%s\n", text.c_str());
        std::fflush(to);
    }
    size_t total() const { return total_; }

private:
    bool on_;
    size_t total_;
    std::mutex mutex_;
};

// "[a/b]" followed by `rest`. (Built by appending: GCC 12 warns falsely on
// "literal" + std::string.)
std::string Counter(size_t a, size_t b, const std::string& rest) {
    std::string s(1, '[');
    s += std::to_string(a);
    s += '/';
    s += std::to_string(b);
    s += rest;
    return s;
}

std::string Bar(float done) {
    constexpr int kWidth = 24;
    const int filled = std::clamp(int(done * kWidth), 0, kWidth);
    std::string bar(1, '[');
    bar.append(size_t(filled), '#');
    bar.append(size_t(kWidth - filled), '-');
    bar += ']';
    return bar;
}

// Shares of a file's work shown by the bar: reading, correcting, writing.
constexpr float kReadShare = 0.2f, kCorrectShare = 0.6f;

}  // namespace

bool CorrectFile(const std::string& input, const std::string& output, const OutputChoice& choice,
                 MemoryBudget& budget, const CorrectionJob& job, const FileProgress& progress, std::string& summary,
                 std::string& error) {
    auto part = [&](float from, float share) {
        return [&progress, from, share](float d) { return progress(from + share * std::clamp(d, 0.0f, 1.0f)); };
    };
    BudgetedPhoto photo(budget, choice.limits, choice.raw);
    Picture pic, before;
    std::string notes;
    if (!photo.Read(input, job.work, job.want16, pic, notes, error, part(0.0f, kReadShare))) return false;
    if (!job.correct(pic, choice.compare ? &before : nullptr, summary, error, part(kReadShare, kCorrectShare)))
        return false;
    if (StopRequested()) {
        error = "stopped";
        return false;
    }
    if (!WritePicture(output, pic, choice.quality, notes, error,
                      part(kReadShare + kCorrectShare, 1.0f - kReadShare - kCorrectShare)))
        return false;
    if (choice.compare && !WriteSideBySide(ComparePathFor(output), before, pic, 2400, error)) {
        // The photo itself is in place: a stop now only skips the picture.
        if (!StopRequested()) return false;
        AddNote(notes, "stopped before the before/after picture");
    }
    if (!notes.empty()) summary += " (" + notes + ")";
    return true;
}

int RunBatch(const std::vector<std::string>& inputs, const OutputPlan& plan, const OutputChoice& choice,
             const CorrectionJob& job) {
    Terminal term(!choice.quiet && UserErrIsTerminal(), inputs.size());
    const size_t jobs = std::min<size_t>(size_t(std::max(choice.jobs, 1)), inputs.size());
    MemoryBudget budget(BudgetBytes(choice.limits));
    std::atomic<size_t> next{0}, done{0};
    std::atomic<int> failed{0};
    NoteRunSize(inputs.size());

    auto one = [&](size_t i, const FileProgress& bar, std::string& error, std::string& summary) {
        if (!plan.problems[i].empty()) {
            error = plan.problems[i];
            return false;
        }
        // Memory the system refuses (the budget is an estimate, and other
        // programs take their share) fails this photo, not the batch; so
        // does anything else a library throws on one file.
        try {
            return CorrectFile(inputs[i], plan.outputs[i], choice, budget, job, bar, summary, error);
        } catch (const std::bad_alloc&) {
            error = "not enough memory: the system refused it (fewer --jobs, or other programs closed, leave more)";
        } catch (const std::exception& e) {
            error = std::string("failed: ") + e.what();
        }
        return false;
    };

    auto worker = [&] {
        for (size_t i; !StopRequested() && (i = next.fetch_add(1)) < inputs.size();) {
            const std::string& in = inputs[i];
            if (jobs == 1) term.Show(Counter(i + 1, inputs.size(), "] ") + in);
            const FileProgress bar = [&, i](float d) {
                if (jobs == 1) term.Show(Counter(i + 1, inputs.size(), "] ") + in + " " + Bar(d));
                return StopRequested();
            };
            std::string error, summary;
            const bool ok = one(i, bar, error, summary);
            ++done;
            if (ok) NoteFinished(in + " -> " + plan.outputs[i]);
            if (!ok && StopRequested()) break;  // stopped in the middle: not a failure of the file
            if (!ok) {
                ++failed;
                term.Line(UserErr(), "lumarex: " + in + ": " + error);
            } else if (!choice.quiet) {
                term.Line(stdout, in + " -> " + plan.outputs[i] + (summary.empty() ? "" : "  " + summary));
            }
            if (jobs > 1) term.Show(Counter(done.load(), inputs.size(), " done]"));
        }
    };
    std::vector<std::thread> pool;
    for (size_t j = 1; j < jobs; ++j) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    term.Clear();

    if (StopRequested()) RemovePendingTemporaries();
    RemoveFolderLeftEmpty(choice.directory, plan.madeFolder);
    if (StopRequested()) {
        std::fflush(stdout);
        ReportStop(false);
        return StopStatus();
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace lumarex_cli
