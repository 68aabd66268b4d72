// SPDX-License-Identifier: MIT
#include "batch.h"

#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <mutex>
#include <thread>
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

namespace {

// The terminal line: "[3/8] name [######------]" for one job at a time,
// "[3/8 done] 2 at work" for several.
class Terminal {
public:
    Terminal(bool on, size_t total) : on_(on), total_(total) {}

    void Show(const std::string& text) {
        if (!on_) return;
        std::lock_guard<std::mutex> lock(mutex_);
        std::fprintf(stderr, "\r\033[K%s", text.c_str());
        std::fflush(stderr);
    }
    void Clear() { Show(""); }
    // Prints a whole line to `to` without tearing the progress line.
    void Line(std::FILE* to, const std::string& text) {
        std::lock_guard<std::mutex> lock(mutex_);
        if (on_) std::fprintf(stderr, "\r\033[K");
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

class BarProgress : public FileProgress {
public:
    BarProgress(Terminal& t, bool draw, size_t index, std::string name)
        : t_(t), draw_(draw), index_(index), name_(std::move(name)) {}
    bool Report(int step, int total) const override {
        if (draw_ && total > 0) {
            constexpr int kWidth = 24;
            const int filled = std::clamp(step * kWidth / total, 0, kWidth);
            std::string line = Counter(index_ + 1, t_.total(), "] ");
            line += name_;
            line += " [";
            line.append(size_t(filled), '#');
            line.append(size_t(kWidth - filled), '-');
            line += ']';
            t_.Show(line);
        }
        return g_stopRequested.load();
    }

private:
    Terminal& t_;
    bool draw_;
    size_t index_;
    std::string name_;
};

}  // namespace

bool WriteResult(const std::string& out, const Picture& before, const Picture& after, const OutputChoice& choice,
                 std::string& error) {
    if (g_stopRequested) return false;
    if (!WritePicture(out, after, choice.quality, error)) return false;
    if (!choice.compare) return true;
    const fs::path o(out);
    const std::string cmp = (o.parent_path() / (o.stem().string() + "-compare.jpg")).string();
    return WriteSideBySide(cmp, before, after, 2400, error);
}

int RunBatch(const std::vector<std::string>& inputs, const OutputChoice& choice, const FileJob& one) {
    Terminal term(!choice.quiet && ::isatty(STDERR_FILENO), inputs.size());
    const size_t jobs = std::min<size_t>(size_t(std::max(choice.jobs, 1)), inputs.size());
    std::atomic<size_t> next{0}, done{0};
    std::atomic<int> failed{0};

    auto worker = [&] {
        for (size_t i; !g_stopRequested && (i = next.fetch_add(1)) < inputs.size();) {
            const std::string& in = inputs[i];
            if (jobs == 1) term.Show(Counter(i + 1, inputs.size(), "] ") + in);
            std::string error, summary;
            const BarProgress progress(term, jobs == 1, i, in);
            const std::string out = OutputPathFor(in, choice, error);
            const bool ok = !out.empty() && one(in, out, error, summary, progress);
            if (g_stopRequested) break;
            ++done;
            if (!ok) {
                ++failed;
                term.Line(stderr, "lumarex: " + in + ": " + error);
            } else if (!choice.quiet) {
                term.Line(stdout, in + " -> " + out + (summary.empty() ? "" : "  " + summary));
            }
            if (jobs > 1)
                term.Show(Counter(done.load(), inputs.size(), " done]"));
        }
    };
    std::vector<std::thread> pool;
    for (size_t j = 1; j < jobs; ++j) pool.emplace_back(worker);
    worker();
    for (auto& t : pool) t.join();
    term.Clear();

    if (g_stopRequested) {
        RemovePendingTemporaries();
        std::fprintf(stderr, "lumarex: stopped; no partial output was left\n");
        return 130;
    }
    return failed == 0 ? 0 : 1;
}

}  // namespace lumarex_cli
