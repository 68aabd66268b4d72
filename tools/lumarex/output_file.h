// SPDX-License-Identifier: MIT
// Output files that appear whole or not at all. Each output is written to a
// hidden temporary file of its own in the destination folder, created
// exclusively under an unpredictable name (O_CREAT | O_EXCL | O_NOFOLLOW, so
// that no planted file or link is ever opened), with the permissions a new
// file gets (0666 less the umask). Only when complete is it renamed over the
// destination; rename replaces a link found there, never the link's target.
#pragma once

#include <memory>
#include <string>

namespace lumarex_cli {

class OutputFile {
public:
    // Creates the temporary beside `finalPath`. On failure returns null and
    // sets `error` naming the folder ("cannot create a file in the folder
    // 'out': No such file or directory").
    static std::unique_ptr<OutputFile> Create(const std::string& finalPath, std::string& error);
    // Removes the temporary unless Commit succeeded.
    ~OutputFile();
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    // The name to hand to an encoder: the open descriptor's /proc entry where
    // there is one (so the encoder writes exactly the file created here, even
    // if someone renames things in the folder meanwhile), else the
    // temporary's name.
    const std::string& WritePath() const { return writePath_; }

    // Flushes the data to disk, checks that the temporary's name still
    // refers to the file written, and renames it over the destination.
    bool Commit(std::string& error);

private:
    OutputFile() = default;
    int fd_ = -1;
    std::string finalPath_, tempPath_, writePath_;
    bool committed_ = false;
};

// Removes every temporary still being written and refuses new ones (after a
// stop).
void RemovePendingTemporaries();

// The same, then ends the process at once with `status` (a second stop
// signal). Never returns.
[[noreturn]] void RemovePendingTemporariesAndExit(int status);

}  // namespace lumarex_cli
