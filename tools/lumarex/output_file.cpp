// SPDX-License-Identifier: MIT
#include "output_file.h"

#include <fcntl.h>
#include <stdio.h>  // renameat2
#include <sys/random.h>
#include <sys/resource.h>
#include <sys/statvfs.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <mutex>
#include <set>

namespace lumarex_cli {
namespace fs = std::filesystem;
namespace {

// Bytes of the output's stem a temporary's name keeps: with the 22 added,
// a name a folder takes with room to spare.
constexpr size_t kTemporaryStem = 160;

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

// What an encoder that wrote by name most likely ran into, judged from the
// file it left: the file system out of room, or the file at the size
// limit; 0 when neither.
int DiskCause(int fd, const std::string& folder) {
    struct stat st {};
    if (::fstat(fd, &st) != 0) return 0;
    rlimit limit {};
    if (::getrlimit(RLIMIT_FSIZE, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
        uint64_t(st.st_size) + (64u << 10) >= uint64_t(limit.rlim_cur))
        return EFBIG;
    struct statvfs vfs {};
    if (::statvfs(folder.c_str(), &vfs) == 0 && uint64_t(vfs.f_bavail) * vfs.f_frsize < (uint64_t(1) << 20))
        return ENOSPC;
    return 0;
}

}  // namespace

// Writes at the encoder's offsets into the temporary's descriptor. A failed
// write is kept (the first one's errno) and reported to the encoder as
// done, as are all writes after it: the encoder runs to its end, and Commit
// refuses the file.
class OutputFile::DescriptorSink final : public OIIO::Filesystem::IOProxy {
public:
    DescriptorSink(int fd, const std::string& name) : IOProxy(name, Write), fd_(fd) {}
    const char* proxytype() const override { return "descriptor"; }

    size_t read(void* buf, size_t size) override {
        const size_t n = pread(buf, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    size_t write(const void* buf, size_t size) override {
        const size_t n = pwrite(buf, size, m_pos);
        m_pos += int64_t(n);
        return n;
    }
    size_t pread(void* buf, size_t size, int64_t offset) override {
        size_t got = 0;
        while (got < size) {
            const ssize_t n = ::pread(fd_, static_cast<char*>(buf) + got, size - got, off_t(offset) + off_t(got));
            if (n > 0) got += size_t(n);
            else if (n < 0 && errno == EINTR) continue;
            else break;
        }
        return got;
    }
    size_t pwrite(const void* buf, size_t size, int64_t offset) override {
        if (failure_.load() != 0) return size;
        size_t put = 0;
        while (put < size) {
            const ssize_t n = ::pwrite(fd_, static_cast<const char*>(buf) + put, size - put, off_t(offset) + off_t(put));
            if (n > 0) {
                put += size_t(n);
            } else if (n < 0 && errno == EINTR) {
                continue;
            } else {
                int expected = 0;
                failure_.compare_exchange_strong(expected, n < 0 ? errno : ENOSPC);
                break;
            }
        }
        return size;
    }
    size_t size() const override {
        struct stat st {};
        return ::fstat(fd_, &st) == 0 ? size_t(st.st_size) : 0;
    }

    // The errno of the first write that failed, 0 when none did.
    int Failure() const { return failure_.load(); }

private:
    int fd_;
    std::atomic<int> failure_{0};
};

std::string WriteFailureMessage(const std::string& path, int err) {
    const std::string reason = std::strerror(err);
    if (err == ENOSPC || err == EDQUOT) return path + ": disk full (" + reason + ")";
    if (err == EFBIG) return path + ": the file would exceed the largest size allowed here (" + reason + ")";
    return "cannot write " + path + ": " + reason;
}

bool IsReadOnlyFile(const std::string& path) {
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
    if ((st.st_mode & 0222) == 0) return true;
    return ::geteuid() != 0 && ::access(path.c_str(), W_OK) != 0 && errno == EACCES;
}

OutputFile::OutputFile() = default;

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
        std::string stem = p.stem().string();
        if (stem.size() > kTemporaryStem) {
            // Cut before a character, not inside one (UTF-8 continuation
            // bytes are 10xxxxxx): some file systems refuse broken names.
            size_t cut = kTemporaryStem;
            while (cut > 0 && (static_cast<unsigned char>(stem[cut]) & 0xC0) == 0x80) --cut;
            stem.resize(cut);
        }
        std::string name = ".";
        name += stem;
        name += ".lumarex-" + RandomTag() + p.extension().string();
        const std::string temp = (p.parent_path() / name).string();
        const int fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0666);
        if (fd >= 0) {
            f->fd_ = fd;
            f->tempPath_ = temp;
            f->sink_ = std::make_unique<DescriptorSink>(fd, finalPath);
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

OIIO::Filesystem::IOProxy* OutputFile::Sink() { return sink_.get(); }

bool OutputFile::WriteFailure(std::string& error) const {
    int failure = sink_->Failure();
    if (failure == 0 && fd_ >= 0) failure = DiskCause(fd_, FolderOf(finalPath_));
    if (failure != 0) error = WriteFailureMessage(finalPath_, failure);
    return failure != 0;
}

namespace {

// Renames `from` to `to` unless `to` exists (errno EEXIST), in one step of
// the file system where it has one; else by a hard link, which fails the
// same way, and the removal of the old name. A file system with neither
// (FAT, some network ones) is checked first and renamed.
bool PlaceAsNew(const std::string& from, const std::string& to) {
    if (::renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    if (::link(from.c_str(), to.c_str()) == 0) {
        ::unlink(from.c_str());
        return true;
    }
    if (errno != EPERM && errno != ENOTSUP) return false;
    struct stat there {};
    if (::lstat(to.c_str(), &there) == 0) {
        errno = EEXIST;
        return false;
    }
    return ::rename(from.c_str(), to.c_str()) == 0;
}

}  // namespace

bool OutputFile::Commit(std::string& error, bool* taken) {
    if (const int failure = sink_->Failure(); failure != 0) {
        error = WriteFailureMessage(finalPath_, failure);
        return false;
    }
    // A file replaced keeps its permissions (and, where this process may
    // give them, its owner and group), as a copy over it would.
    struct stat old {};
    if (::lstat(finalPath_.c_str(), &old) == 0 && S_ISREG(old.st_mode)) {
        (void)::fchown(fd_, old.st_uid, old.st_gid);
        if (::fchmod(fd_, old.st_mode & 0777) != 0) {
            error = "cannot give " + finalPath_ + " the permissions of the file it replaces: " + std::strerror(errno);
            return false;
        }
    }
    // Some file systems report a full disk only when the data is flushed,
    // or when the file is closed.
    if (::fsync(fd_) != 0) {
        error = WriteFailureMessage(finalPath_, errno);
        return false;
    }
    struct stat written {};
    if (::fstat(fd_, &written) != 0) {
        error = "cannot write " + finalPath_ + ": " + std::strerror(errno);
        return false;
    }
    const int fd = fd_;
    fd_ = -1;
    if (::close(fd) != 0) {
        error = WriteFailureMessage(finalPath_, errno);
        return false;
    }
    std::lock_guard<std::mutex> lock(g_mutex);
    if (g_closed) {
        error = "stopped";
        return false;
    }
    // The name must still be the file written: a file swapped in by someone
    // else is not renamed into place.
    struct stat named {};
    if (::lstat(tempPath_.c_str(), &named) != 0 || !S_ISREG(named.st_mode) ||
        written.st_dev != named.st_dev || written.st_ino != named.st_ino) {
        error = "cannot write " + finalPath_ + ": its temporary file was replaced by someone else";
        return false;
    }
    if (taken != nullptr ? !PlaceAsNew(tempPath_, finalPath_) : ::rename(tempPath_.c_str(), finalPath_.c_str()) != 0) {
        if (taken != nullptr && errno == EEXIST) {
            *taken = true;
            error = "cannot write " + finalPath_ + ": a file of that name appeared meanwhile";
        } else {
            error = "cannot write " + finalPath_ + ": " + std::strerror(errno);
        }
        return false;
    }
    g_pending.erase(tempPath_);
    committed_ = true;
    // The new name lasts through a power cut once the folder is synced too.
    const int folder = ::open(FolderOf(finalPath_).c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder >= 0) {
        (void)::fsync(folder);
        ::close(folder);
    }
    return true;
}

void RemovePendingTemporaries() {
    std::lock_guard<std::mutex> lock(g_mutex);
    for (const std::string& p : g_pending) ::unlink(p.c_str());
    g_pending.clear();
    g_closed = true;
}

void HoldAndRemovePendingTemporaries() {
    g_mutex.lock();  // held until the process ends
    for (const std::string& p : g_pending) ::unlink(p.c_str());
    g_pending.clear();
}

}  // namespace lumarex_cli
