// SPDX-License-Identifier: MIT
// The regression runner of a harness, for builds without the fuzzer's
// runtime: feeds every file named on the command line (or found in a folder
// named there) to the harness once, in name order. An input that runs
// longer than 10 s fails, as it does under libFuzzer (-timeout=10 in
// scripts/fuzz.sh): a hang is a finding too.
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);

namespace {

namespace fs = std::filesystem;

constexpr unsigned kTimeoutSeconds = 10;

// Only async-signal-safe calls: the input's name was printed before it ran.
void TimedOut(int) {
    static const char text[] = "lumarex fuzz check failed: an input runs longer than 10 s\n";
    (void)!write(2, text, sizeof text - 1);
    _exit(1);
}

void Replay(const fs::path& file) {
    std::ifstream in(file, std::ios::binary);
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    // Named first: a crash inside the harness then shows which input it was.
    std::fprintf(stderr, "replaying %s (%zu bytes)\n", file.c_str(), bytes.size());
    std::fflush(stderr);
    alarm(kTimeoutSeconds);
    LLVMFuzzerTestOneInput(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    alarm(0);
}

}  // namespace

int main(int argc, char** argv) {
    const std::vector<std::string> args(argv + 1, argv + argc);
    std::signal(SIGALRM, TimedOut);
    size_t replayed = 0;
    for (const fs::path arg : args) {
        std::vector<fs::path> files;
        if (fs::is_directory(arg)) {
            for (const auto& entry : fs::directory_iterator(arg))
                if (entry.is_regular_file()) files.push_back(entry.path());
            std::sort(files.begin(), files.end());
        } else if (fs::is_regular_file(arg)) {
            files.push_back(arg);
        } else {
            std::fprintf(stderr, "no such file or folder: %s\n", arg.c_str());
            return 1;
        }
        for (const fs::path& f : files) Replay(f);
        replayed += files.size();
    }
    std::fprintf(stderr, "%zu inputs replayed without a finding\n", replayed);
    return replayed > 0 ? 0 : 1;
}
