// SPDX-License-Identifier: MIT
#include "output_file.h"

#include <fcntl.h>
#include <sys/random.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

// Temporaries being written. The lock is held while one is created and
// registered, renamed and unregistered, or removed, so a clean-up never sees
// a file that is not registered yet or a name already renamed.
std::mutex g_mutex;
std::set<std::string> g_pending;
bool g_closed = false;  // after a stop: no new temporaries

// 12 random characters from a 32-letter alphabet: 60 bits, not guessable
// from the process id or the time.
std::string RandomTag() {
    static const char kAlphabet[] = "abcdefghijklmnopqrstuvwxyz234567";
    unsigned char bytes[12];
    size_t got = 0;
    while (got < sizeof bytes) {
        const ssize_t n = getrandom(bytes + got, sizeof bytes - got, 0);
        if (n > 0) got += size_t(n);
        else if (errno != EINTR) break;
    }
    std::string tag;
    for (unsigned char b : bytes) tag += kAlphabet[b & 31];
    return tag;
}

std::string FolderOf(const std::string& path) {
    const fs::path parent = fs::path(path).parent_path();
    return parent.empty() ? std::string(".") : parent.string();
}

bool HaveProcFd() {
    static const bool have = ::access("/proc/self/fd", X_OK) == 0;
    return have;
}

}  // namespace

std::unique_ptr<OutputFile> OutputFile::Create(const std::string& finalPath, std::string& error) {
    const fs::path p(finalPath);
    std::unique_ptr<OutputFile> f(new OutputFile());
    f->finalPath_ = finalPath;
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_closed) {
        error = "stopped";
        return nullptr;
    }
    // A few tries in case a name is taken; with 60 random bits a second try
    // means someone is planting files.
    for (int attempt = 0; attempt < 8; ++attempt) {
        const std::string name = "." + p.stem().string() + ".lumarex-" + RandomTag() + p.extension().string();
        const std::string temp = (p.parent_path() / name).string();
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            f->fd_ = fd;
            f->tempPath_ = temp;
            f->writePath_ = HaveProcFd() ? "/proc/self/fd/" + std::to_string(fd) : temp;
            g_pending.insert(temp);
            return f;
        }
        if (errno != EEXIST) {
            error = "cannot create a file in the folder '" + FolderOf(finalPath) + "': " + std::strerror(errno);
            return nullptr;
        }
    }
    error = "cannot create a file in the folder '" + FolderOf(finalPath) + "': every temporary name was taken";
    return nullptr;
}

OutputFile::~OutputFile() {
    std::lock_guard<std::mutex> lock(g_mutex);
    if (!committed_ && g_pending.erase(tempPath_) > 0) ::unlink(tempPath_.c_str());
    if (fd_ >= 0) ::close(fd_);
}

bool OutputFile::Commit(std::string& error) {
    if (::fsync(fd_) != 0) {
        error = "cannot write " + finalPath_ + ": " + std::strerror(errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_closed) {
        error = "stopped";
        return false;
    }
    // The name must still be the file written: a file swapped in by someone
    // else is not renamed into place.
    struct stat written {}, named {};
    if (::fstat(fd_, &written) != 0 || ::lstat(tempPath_.c_str(), &named) != 0 || !S_ISREG(named.st_mode) ||
        written.st_dev != named.st_dev || written.st_ino != named.st_ino) {
        error = "cannot write " + finalPath_ + ": its temporary file was replaced by someone else";
        return false;
    }
    if (::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        error = "cannot write " + finalPath_ + ": " + std::strerror(errno);
        return false;
    }
    g_pending.erase(tempPath_);
    committed_ = true;
    return true;
}

void RemovePendingTemporaries() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& p : g_pending) ::unlink(p.c_str());
    g_pending.clear();
    g_closed = true;
}

void RemovePendingTemporariesAndExit(int status) {
    g_mutex.lock();  // held until the process ends: no worker creates or renames a file any more
    for (const std::string& p : g_pending) ::unlink(p.c_str());
    ::_exit(status);
}

}  // namespace lumarex_cli
