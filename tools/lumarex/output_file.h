// SPDX-License-Identifier: MIT
// Output files that appear whole or not at all. Each output is written to a
// hidden temporary file of its own in the destination folder, created
// exclusively under an unpredictable name (O_CREAT | O_EXCL | O_NOFOLLOW, so
// that no planted file or link is ever opened), with the permissions a new
// file gets (0666 less the umask), or those of the file it replaces. Only
// when complete, flushed and synced is it renamed over the destination;
// rename replaces a link found there, never the link's target.
//
// Encoders write through Sink(), which never reports a failed write to
// them: a full disk must not reach an encoder's own error path (the JPEG
// library's ends the process). The first failure is kept, later writes are
// dropped, and Commit reports it and leaves the destination as it was.
#pragma once

#include <OpenImageIO/filesystem.h>

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

    // The stream to hand to an encoder (OpenImageIO's "oiio:ioproxy"): it
    // writes to the descriptor created here, so the encoder writes exactly
    // this file even if someone renames things in the folder meanwhile.
    OIIO::Filesystem::IOProxy* Sink();

    // For an encoder that must open the file by name (see WritePicture):
    // the open descriptor's /proc entry where there is one, so the encoder
    // still writes exactly the file created here, else the temporary's name.
    const std::string& WritePath() const { return writePath_; }

    // Whether a write to the file failed; if so `error` says why. For an
    // encoder that wrote by name, the disk is named as the cause when the
    // file system has no room left or the file reached the process's size
    // limit.
    bool WriteFailure(std::string& error) const;

    // Checks that every write reached the file, gives it the permissions of
    // the file it replaces (if any), flushes it to disk, closes it, checks
    // that the temporary's name still refers to the file written, and
    // renames it over the destination. On failure the destination is left
    // as it was and `error` says why ("out.png: disk full (No space left
    // on device)"). With `taken` given, the file is put in place only as a
    // new one: when a file of that name is there at that moment, it is left
    // alone, *taken is set and Commit fails.
    bool Commit(std::string& error, bool* taken = nullptr);

    class DescriptorSink;

private:
    OutputFile();
    int fd_ = -1;
    std::string finalPath_, tempPath_, writePath_;
    std::unique_ptr<DescriptorSink> sink_;
    bool committed_ = false;
};

// The message for a write to `path` that failed with `err`: a full disk
// (or quota, or file size limit) is named as such.
std::string WriteFailureMessage(const std::string& path, int err);

// Whether `path` is an existing file that its permissions mark read-only
// (no write permission for its owner, group or others that applies to
// this process; the superuser is held to the bits too).
bool IsReadOnlyFile(const std::string& path);

// Removes every temporary still being written and refuses new ones (after a
// stop).
void RemovePendingTemporaries();

// The same, for a stop at once: the lock that guards the temporaries is
// kept, so that no worker creates or renames a file until the process ends.
void HoldAndRemovePendingTemporaries();

}  // namespace lumarex_cli
