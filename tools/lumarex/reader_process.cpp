// SPDX-License-Identifier: MIT
#include "reader_process.h"

#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <spawn.h>
#include <sys/prctl.h>
#include <sys/signalfd.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <OpenImageIO/ustring.h>

#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cmath>
#include <cstring>
#include <functional>
#include <map>
#include <mutex>
#include <new>

#include "stop.h"

extern char** environ;

namespace lumarex_cli {

// No string or block the reader sends is larger: a picture's samples are
// checked against its header instead.
constexpr uint64_t kLargestBlock = uint64_t(1) << 30;

// Reads from the socket, waiting at most a tenth of a second at a time
// between calls of `stop`; false once the other end closed, a read failed,
// `stop` said so (stopped() then true) or nothing came for longer than the
// patience set (silent() then true). One is kept for a reader's whole
// exchange: what it sent ahead stays in the buffer.
class WireIn {
public:
    explicit WireIn(int fd) : fd_(fd) {}
    // What is asked between waits from now on.
    void SetStop(std::function<bool()> stop) { stop_ = std::move(stop); }
    // How long a wait for the next bytes may last; zero (the default) for
    // as long as it takes.
    void SetPatience(std::chrono::milliseconds patience) { patience_ = patience; }
    bool U8(uint8_t& v) { return Raw(&v, 1); }
    bool U32(uint32_t& v) {
        uint8_t b[4];
        if (!Raw(b, 4)) return false;
        v = uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 | uint32_t(b[3]) << 24;
        return true;
    }
    bool I32(int& v) {
        uint32_t u;
        if (!U32(u)) return false;
        std::memcpy(&v, &u, 4);
        return true;
    }
    bool U64(uint64_t& v) {
        uint32_t lo, hi;
        if (!U32(lo) || !U32(hi)) return false;
        v = uint64_t(lo) | uint64_t(hi) << 32;
        return true;
    }
    bool Str(std::string& s) {
        uint64_t n;
        return U64(n) && Block(s, n);
    }
    // `n` bytes into `s`, taken as they come: a length that the bytes
    // sent do not bear out costs no more memory than the bytes sent.
    bool Block(std::string& s, uint64_t n) {
        if (!Check(n <= kLargestBlock)) return false;
        s.clear();
        while (s.size() < n) {
            const size_t at = s.size(), k = size_t(std::min<uint64_t>(n - at, uint64_t(1) << 20));
            s.resize(at + k);
            if (!Raw(s.data() + at, k)) return false;
        }
        return true;
    }
    bool Raw(void* p, size_t n) {
        char* c = static_cast<char*>(p);
        while (n > 0) {
            if (at_ < end_) {
                const size_t k = std::min(n, end_ - at_);
                std::memcpy(c, buf_ + at_, k);
                at_ += k;
                c += k;
                n -= k;
                continue;
            }
            // A large block goes straight to where it belongs.
            size_t got = 0;
            if (n >= sizeof buf_) {
                if (!ReadSome(c, std::min<size_t>(n, size_t(1) << 24), got)) return false;
                c += got;
                n -= got;
            } else {
                if (!ReadSome(buf_, sizeof buf_, got)) return false;
                at_ = 0;
                end_ = got;
            }
        }
        return true;
    }
    // `n` bytes into `p` and not one more: what follows them stays in the
    // socket for whoever reads it next. Only where nothing is read ahead.
    bool Exact(void* p, size_t n) {
        char* c = static_cast<char*>(p);
        for (size_t got = 0; n > 0 && at_ == end_; c += got, n -= got)
            if (!ReadSome(c, n, got)) return false;
        return n == 0;
    }
    // Marks the message damaged unless `ok`.
    bool Check(bool ok) {
        if (!ok) damaged_ = true;
        return ok;
    }
    bool stopped() const { return stopped_; }
    bool silent() const { return silent_; }
    bool damaged() const { return damaged_; }
    bool ended() const { return ended_; }

private:
    // Twice the longest wait on the socket (poll's timeout below).
    static constexpr std::chrono::milliseconds kLongestWait{200};

    bool ReadSome(char* into, size_t most, size_t& got) {
        // Time counts while this process waits on the socket, each wait for
        // at most kLongestWait: time it spent elsewhere (stopped at the
        // terminal by Ctrl-Z, or in `stop`) is not the reader's silence.
        auto last = std::chrono::steady_clock::now();
        std::chrono::steady_clock::duration waited{0};
        for (;;) {
            pollfd pfd{fd_, POLLIN, 0};
            const int r = poll(&pfd, 1, 100);
            if (r < 0 && errno != EINTR) {
                ended_ = true;
                return false;
            }
            if (r <= 0) {
                if (stop_ && stop_()) {
                    stopped_ = true;
                    return false;
                }
                const auto now = std::chrono::steady_clock::now();
                waited += std::min<std::chrono::steady_clock::duration>(now - last, kLongestWait);
                last = now;
                if (patience_.count() > 0 && waited > patience_) {
                    silent_ = true;
                    return false;
                }
                continue;
            }
            const ssize_t k = read(fd_, into, most);
            if (k < 0 && errno == EINTR) continue;
            if (k <= 0) {
                ended_ = true;
                return false;
            }
            got = size_t(k);
            return true;
        }
    }

    int fd_;
    std::function<bool()> stop_;
    std::chrono::milliseconds patience_{0};
    char buf_[1 << 16];
    size_t at_ = 0, end_ = 0;
    bool stopped_ = false, silent_ = false, damaged_ = false, ended_ = false;
};

namespace {

std::mutex commandMutex;
std::vector<std::string> readerCommand;
std::atomic<int64_t> readerPatienceMs{kReaderPatience.count()};
// The copy of the command that makes readers (StartReaderZygote): the socket
// for its requests and its process; -1 when there is none.
int zygoteControl = -1;
pid_t zygotePid = -1;
bool zygoteUsed = false;
// The program a zygote was started as (StartReaderZygoteProgram); empty for
// a forked one.
std::string zygoteProgram;

// Message tags. Reader to command: its header, an error, running out of
// memory, progress, the picture. Command to reader: the file to open, go on.
constexpr uint8_t kHeader = 'H', kError = 'E', kNoMemory = 'M', kProgress = 'P', kPicture = 'R';
constexpr uint8_t kOpen = 'O', kGo = 'G';

// Writes to the socket; a write that fails (the other end gone) makes every
// later one a no-op and ok() false. Never raises SIGPIPE, whatever the
// process does with that signal.
class WireOut {
public:
    explicit WireOut(int fd) : fd_(fd) {}
    void U8(uint8_t v) { buf_.push_back(char(v)); }
    void U32(uint32_t v) {
        for (int i = 0; i < 4; ++i) buf_.push_back(char(v >> (8 * i)));
    }
    void U64(uint64_t v) {
        for (int i = 0; i < 8; ++i) buf_.push_back(char(v >> (8 * i)));
    }
    void Str(const std::string& s) {
        U64(s.size());
        Raw(s.data(), s.size());
    }
    void Raw(const void* p, size_t n) {
        if (n < (size_t(1) << 16)) {
            buf_.append(static_cast<const char*>(p), n);
            return;
        }
        Flush();
        WriteAll(p, n);
    }
    bool Flush() {
        WriteAll(buf_.data(), buf_.size());
        buf_.clear();
        return ok_;
    }
    bool ok() const { return ok_; }

private:
    void WriteAll(const void* p, size_t n) {
        const char* c = static_cast<const char*>(p);
        while (ok_ && n > 0) {
            const size_t k = std::min<size_t>(n, size_t(1) << 20);
            ssize_t w = send(fd_, c, k, MSG_NOSIGNAL);
            if (w < 0 && errno == ENOTSOCK) w = write(fd_, c, k);  // a file
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok_ = false;
                return;
            }
            c += w;
            n -= size_t(w);
        }
    }
    int fd_;
    bool ok_ = true;
    std::string buf_;
};

// --- the picture on the wire --------------------------------------------------

void PutType(WireOut& w, OIIO::TypeDesc t) {
    w.U8(t.basetype);
    w.U8(t.aggregate);
    w.U8(t.vecsemantics);
    w.U32(uint32_t(t.arraylen));
}

bool GetType(WireIn& r, OIIO::TypeDesc& t) {
    uint8_t base, aggregate, semantics;
    int arraylen;
    if (!r.U8(base) || !r.U8(aggregate) || !r.U8(semantics) || !r.I32(arraylen)) return false;
    const bool aggregateKnown = aggregate == 1 || aggregate == 2 || aggregate == 3 || aggregate == 4 ||
                                aggregate == 9 || aggregate == 16;
    if (!r.Check(base < OIIO::TypeDesc::LASTBASE && aggregateKnown && semantics <= OIIO::TypeDesc::BOX &&
                 arraylen >= 0 && arraylen <= (1 << 30)))
        return false;
    t = OIIO::TypeDesc(OIIO::TypeDesc::BASETYPE(base), OIIO::TypeDesc::AGGREGATE(aggregate),
                       OIIO::TypeDesc::VECSEMANTICS(semantics), arraylen);
    return true;
}

// Values in an attribute of `type` with `nvalues` (at least 1), counted in
// steps that cannot wrap (OpenImageIO sizes its copy from the same numbers):
// more than kLargestBlock comes out as kLargestBlock + 1.
uint64_t ValueCount(OIIO::TypeDesc type, int nvalues) {
    const uint64_t elements = uint64_t(uint32_t(nvalues)) * uint64_t(type.arraylen > 0 ? type.arraylen : 1);
    return elements <= kLargestBlock ? elements * uint64_t(type.aggregate) : kLargestBlock + 1;
}

// Pointers mean nothing in another process, and an unsized array has no
// size to send: neither is in a picture's description as read, nor is a
// value of more than a gigabyte (file headers are checked for less).
bool SendableType(OIIO::TypeDesc t) {
    const auto base = OIIO::TypeDesc::BASETYPE(t.basetype);
    return base != OIIO::TypeDesc::PTR && base != OIIO::TypeDesc::UNKNOWN && base != OIIO::TypeDesc::NONE &&
           t.arraylen >= 0;
}

bool Sendable(const OIIO::ParamValue& p) {
    return SendableType(p.type()) && p.nvalues() >= 1 && ValueCount(p.type(), p.nvalues()) <= kLargestBlock;
}

void PutSpec(WireOut& w, const OIIO::ImageSpec& s) {
    for (int v : {s.x, s.y, s.z, s.width, s.height, s.depth, s.full_x, s.full_y, s.full_z, s.full_width,
                  s.full_height, s.full_depth, s.tile_width, s.tile_height, s.tile_depth, s.nchannels,
                  s.alpha_channel, s.z_channel})
        w.U32(uint32_t(v));
    w.U8(s.deep ? 1 : 0);
    PutType(w, s.format);
    w.U64(s.channelformats.size());
    for (const OIIO::TypeDesc& t : s.channelformats) PutType(w, t);
    w.U64(s.channelnames.size());
    for (const std::string& n : s.channelnames) w.Str(n);
    uint64_t kept = 0;
    for (const OIIO::ParamValue& p : s.extra_attribs) kept += Sendable(p) ? 1 : 0;
    w.U64(kept);
    for (const OIIO::ParamValue& p : s.extra_attribs) {
        if (!Sendable(p)) continue;
        w.Str(p.name().string());
        PutType(w, p.type());
        w.U32(uint32_t(p.nvalues()));
        w.U8(uint8_t(p.interp()));
        const uint64_t n = ValueCount(p.type(), p.nvalues());
        if (p.type().basetype == OIIO::TypeDesc::STRING) {
            const OIIO::ustring* strings = static_cast<const OIIO::ustring*>(p.data());
            for (uint64_t i = 0; i < n; ++i) w.Str(strings[i].string());
        } else {
            w.Raw(p.data(), size_t(n * p.type().basesize()));
        }
    }
}

bool GetSpec(WireIn& r, OIIO::ImageSpec& s) {
    s = OIIO::ImageSpec();
    for (int* v : {&s.x, &s.y, &s.z, &s.width, &s.height, &s.depth, &s.full_x, &s.full_y, &s.full_z,
                   &s.full_width, &s.full_height, &s.full_depth, &s.tile_width, &s.tile_height, &s.tile_depth,
                   &s.nchannels, &s.alpha_channel, &s.z_channel})
        if (!r.I32(*v)) return false;
    uint8_t deep;
    uint64_t count;
    if (!r.U8(deep) || !GetType(r, s.format) || !r.U64(count) || !r.Check(count <= 1024)) return false;
    s.deep = deep != 0;
    s.channelformats.resize(size_t(count));
    for (OIIO::TypeDesc& t : s.channelformats)
        if (!GetType(r, t)) return false;
    if (!r.U64(count) || !r.Check(count <= 1024)) return false;
    s.channelnames.resize(size_t(count));
    for (std::string& n : s.channelnames)
        if (!r.Str(n)) return false;
    if (!r.U64(count) || !r.Check(count <= (1u << 20))) return false;
    for (uint64_t a = 0; a < count; ++a) {
        std::string name;
        OIIO::TypeDesc type;
        int nvalues;
        uint8_t interp;
        if (!r.Str(name) || !GetType(r, type) || !r.I32(nvalues) || !r.U8(interp)) return false;
        const uint64_t n = ValueCount(type, nvalues);
        // Only what a reader sends.
        if (!r.Check(nvalues >= 1 && interp <= OIIO::ParamValue::INTERP_VERTEX && n <= kLargestBlock &&
                     SendableType(type)))
            return false;
        const auto how = OIIO::ParamValue::Interp(interp);
        if (type.basetype == OIIO::TypeDesc::STRING) {
            std::vector<OIIO::ustring> strings;
            std::string v;
            for (uint64_t i = 0; i < n; ++i) {
                if (!r.Str(v)) return false;
                strings.emplace_back(v);
            }
            s.extra_attribs.emplace_back(name, type, nvalues, how, strings.data());
        } else {
            std::string data;
            if (!r.Block(data, n * type.basesize())) return false;
            s.extra_attribs.emplace_back(name, type, nvalues, how, data.data());
        }
    }
    return true;
}

template <class T>
void PutSamples(WireOut& w, const std::vector<T>& v) {
    w.U64(v.size());
    w.Raw(v.data(), v.size() * sizeof(T));
}

template <class T>
bool GetSamples(WireIn& r, std::vector<T>& v, uint64_t expected) {
    uint64_t n;
    if (!r.U64(n) || !r.Check(n == 0 || n == expected)) return false;
    v.resize(size_t(n));
    return r.Raw(v.data(), v.size() * sizeof(T));
}

void PutPicture(WireOut& w, const Picture& p) {
    w.U32(uint32_t(p.width));
    w.U32(uint32_t(p.height));
    w.U8(uint8_t(p.bits));
    w.U8(p.grey ? 1 : 0);
    w.U8(p.hasAlpha ? 1 : 0);
    PutSamples(w, p.rgb8);
    PutSamples(w, p.rgb16);
    PutSamples(w, p.alpha);
    PutSpec(w, p.spec);
    w.Str(p.xmp);
    w.Str(p.xmpExtension);
}

// `most` is the number of pixels the header announced: a picture may be
// turned, never larger.
bool GetPicture(WireIn& r, Picture& p, uint64_t most) {
    uint8_t bits, grey, alpha;
    if (!r.I32(p.width) || !r.I32(p.height) || !r.U8(bits) || !r.U8(grey) || !r.U8(alpha)) return false;
    const uint64_t pixels = uint64_t(uint32_t(p.width)) * uint64_t(uint32_t(p.height));
    if (!r.Check(p.width > 0 && p.height > 0 && pixels <= most && (bits == 8 || bits == 16))) return false;
    p.bits = bits;
    p.grey = grey != 0;
    p.hasAlpha = alpha != 0;
    if (!GetSamples(r, p.rgb8, pixels * 3) || !GetSamples(r, p.rgb16, pixels * 3) ||
        !GetSamples(r, p.alpha, pixels) || !GetSpec(r, p.spec) || !r.Str(p.xmp) ||
        !r.Str(p.xmpExtension))
        return false;
    const bool samples = bits == 8 ? p.rgb8.size() == pixels * 3 && p.rgb16.empty()
                                   : p.rgb16.size() == pixels * 3 && p.rgb8.empty();
    // A flat picture's description, as every reader gives one.
    const bool flat = p.spec.depth == 1 && p.spec.full_depth == 1 && !p.spec.deep;
    return r.Check(samples && flat && (p.alpha.empty() || p.hasAlpha));
}

int AtLeast3(int fd) {
    if (fd < 0 || fd >= 3) return fd;
    const int moved = fcntl(fd, F_DUPFD_CLOEXEC, 3);
    close(fd);
    return moved;
}

// A connected pair of sockets, closed in any program started, and clear of
// the standard descriptors, so that the reader's are set without a
// collision. Sockets rather than pipes: a write to a reader that died fails
// with an error rather than a signal.
bool SocketPair(int ends[2]) {
    if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, ends) != 0) return false;
    ends[0] = AtLeast3(ends[0]);
    ends[1] = AtLeast3(ends[1]);
    if (ends[0] >= 0 && ends[1] >= 0) return true;
    if (ends[0] >= 0) close(ends[0]);
    if (ends[1] >= 0) close(ends[1]);
    return false;
}

// How a reader ended, as a message for the photo's error: "" where it ended
// of its own accord or was ended by the command.
std::string HowItEnded(int status) {
    if (WIFSIGNALED(status) && WTERMSIG(status) != SIGKILL) {
        const char* name = sigabbrev_np(WTERMSIG(status));
        return std::string("reading it crashed the image decoder (") +
               (name ? "SIG" + std::string(name) : "signal " + std::to_string(WTERMSIG(status))) +
               "); the file is likely damaged";
    }
    if (WIFEXITED(status) && WEXITSTATUS(status) != 0)
        return "the image decoder failed on it (its process ended with status " +
               std::to_string(WEXITSTATUS(status)) + "); the file is likely damaged";
    return std::string();
}

bool SendAll(int fd, const void* p, size_t n) {
    const char* c = static_cast<const char*>(p);
    while (n > 0) {
        const ssize_t w = send(fd, c, n, MSG_NOSIGNAL);
        if (w < 0 && errno == EINTR) continue;
        if (w <= 0) return false;
        c += w;
        n -= size_t(w);
    }
    return true;
}

bool ReceiveAll(int fd, void* p, size_t n) {
    char* c = static_cast<char*>(p);
    while (n > 0) {
        const ssize_t r = recv(fd, c, n, 0);
        if (r < 0 && errno == EINTR) continue;
        if (r <= 0) return false;
        c += r;
        n -= size_t(r);
    }
    return true;
}

// The zygote's life: for each request on `control` (one byte carrying a
// reader's data socket, its status socket and its standard error), forks a
// reader. On the status
// socket it sends the reader's process id, then, once the reader has ended
// and been reaped, its wait status; a byte or the closing of that socket
// from the command ends the reader. Ends when the command does. It only
// ever ends with _exit: the static objects of the libraries were made by
// the command, whose threads a copy does not have. `withParent`: ends as
// soon as the thread that made it does (a copy forked by the command's
// main thread); a zygote started as a program instead ends once the last
// copy of the command's end of `control` is closed, as it is when that
// process ends, since the thread that started it may end long before.
[[noreturn]] void ServeAsZygote(int control, bool withParent) {
    if (withParent) prctl(PR_SET_PDEATHSIG, SIGKILL);
    sigset_t stops, childEnded, both;
    sigemptyset(&stops);
    for (int sig : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&stops, sig);
    sigemptyset(&childEnded);
    sigaddset(&childEnded, SIGCHLD);
    both = stops;
    sigaddset(&both, SIGCHLD);
    pthread_sigmask(SIG_BLOCK, &both, nullptr);
    const int ended = signalfd(-1, &childEnded, SFD_CLOEXEC | SFD_NONBLOCK);
    if (ended < 0) _exit(2);
    struct Reader {
        int status;
        bool killed;
    };
    std::map<pid_t, Reader> readers;
    std::vector<pollfd> fds;
    std::vector<pid_t> owners;
    for (;;) {
        fds.assign({{control, POLLIN, 0}, {ended, POLLIN, 0}});
        owners.assign(2, -1);
        for (const auto& [pid, r] : readers)
            if (!r.killed) {
                fds.push_back({r.status, POLLIN, 0});
                owners.push_back(pid);
            }
        if (poll(fds.data(), fds.size(), -1) < 0) {
            if (errno == EINTR) continue;
            _exit(2);
        }
        if (fds[0].revents != 0) {
            char byte;
            alignas(cmsghdr) char room[CMSG_SPACE(3 * sizeof(int))];
            iovec iov{&byte, 1};
            msghdr msg{};
            msg.msg_iov = &iov;
            msg.msg_iovlen = 1;
            msg.msg_control = room;
            msg.msg_controllen = sizeof room;
            const ssize_t got = recvmsg(control, &msg, MSG_CMSG_CLOEXEC);
            if (got == 0 || (got < 0 && errno != EINTR)) {
                // The command has ended: so do its readers.
                for (const auto& [pid, r] : readers) kill(pid, SIGKILL);
                _exit(0);
            }
            const cmsghdr* c = got > 0 ? CMSG_FIRSTHDR(&msg) : nullptr;
            if (c != nullptr && c->cmsg_level == SOL_SOCKET && c->cmsg_type == SCM_RIGHTS &&
                c->cmsg_len == CMSG_LEN(3 * sizeof(int))) {
                int given[3];
                std::memcpy(given, CMSG_DATA(c), sizeof given);
                const pid_t pid = fork();
                if (pid == 0) {
                    // The reader: its data socket as standard input and
                    // output, nothing else of the zygote's open, the stop
                    // signals still blocked (the command ends it).
                    pthread_sigmask(SIG_SETMASK, &stops, nullptr);
                    prctl(PR_SET_PDEATHSIG, SIGKILL);
                    dup2(given[0], 0);
                    dup2(given[0], 1);
                    dup2(given[2], 2);
                    close_range(3, ~0u, 0);
                    _exit(RunReaderProcess());
                }
                close(given[0]);
                close(given[2]);
                const int32_t id = pid;
                if (pid > 0 && SendAll(given[1], &id, sizeof id))
                    readers[pid] = Reader{given[1], false};
                else
                    close(given[1]);  // the command sees no reader start
            }
        }
        for (size_t i = 2; i < fds.size(); ++i)
            if (fds[i].revents != 0) {
                // A byte or the end: the command wants this reader ended.
                kill(owners[i], SIGKILL);
                readers[owners[i]].killed = true;
            }
        if (fds[1].revents != 0) {
            signalfd_siginfo info;
            while (read(ended, &info, sizeof info) == ssize_t(sizeof info)) {
            }
            int status;
            pid_t pid;
            while ((pid = waitpid(-1, &status, WNOHANG)) > 0) {
                const auto at = readers.find(pid);
                if (at == readers.end()) continue;
                const int32_t st = status;
                SendAll(at->second.status, &st, sizeof st);
                close(at->second.status);
                readers.erase(at);
            }
        }
    }
}

}  // namespace

bool StartReaderZygote() {
    int ends[2];
    if (!SocketPair(ends)) return false;
    const pid_t pid = fork();
    if (pid == 0) {
        close(ends[0]);
        ServeAsZygote(ends[1], true);
    }
    close(ends[1]);
    if (pid < 0) {
        close(ends[0]);
        return false;
    }
    std::lock_guard<std::mutex> lock(commandMutex);
    zygoteControl = ends[0];
    zygotePid = pid;
    zygoteUsed = true;
    return true;
}

namespace {

// Starts the zygote as `program` (commandMutex held), its end of the control
// socket as its standard input.
bool SpawnZygoteLocked(const std::string& program) {
    int ends[2];
    if (!SocketPair(ends)) return false;
    std::string name = program, argument = kZygoteArgument;
    char* argv[] = {name.data(), argument.data(), nullptr};
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    // The zygote keeps this process's blocked stop signals until it blocks
    // them itself: a Ctrl-C at the terminal is the caller's to act on.
    pid_t pid = -1;
    const int spawned = posix_spawn(&pid, argv[0], &actions, nullptr, argv, environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    if (spawned != 0) {
        close(ends[0]);
        errno = spawned;
        return false;
    }
    zygoteControl = ends[0];
    zygotePid = pid;
    zygoteUsed = true;
    zygoteProgram = program;
    return true;
}

// Whether the zygote started as a program has ended (commandMutex held);
// reaps it if so. Where the caller reaped it, it has ended too. `dying`: it
// failed to answer, so it has ended, or ends within a second if it is dying
// (its end of the control socket is closed before it can be reaped);
// otherwise it lives and merely could not fork.
bool ZygoteProgramEndedLocked(bool dying) {
    if (zygoteProgram.empty() || zygotePid < 0) return false;
    if (dying) {
        pollfd hangUp{zygoteControl, POLLRDHUP, 0};
        int n;
        while ((n = poll(&hangUp, 1, 1000)) < 0 && errno == EINTR) {
        }
        if (n != 1 || (hangUp.revents & (POLLHUP | POLLRDHUP | POLLERR)) == 0) return false;
    }
    pid_t r;
    while ((r = waitpid(zygotePid, nullptr, dying ? 0 : WNOHANG)) < 0 && errno == EINTR) {
    }
    return r == zygotePid || (r < 0 && errno == ECHILD);
}

// Starts the ended zygote's program again (commandMutex held); failing that,
// readers start as UseReaderProcess says.
void RestartZygoteProgramLocked() {
    close(zygoteControl);
    zygoteControl = -1;
    zygotePid = -1;
    zygoteUsed = false;
    SpawnZygoteLocked(std::string(zygoteProgram));
}

}  // namespace

bool StartReaderZygoteProgram(const std::string& program) {
    std::lock_guard<std::mutex> lock(commandMutex);
    return zygotePid < 0 && SpawnZygoteLocked(program);
}

void ServeAsReaderZygote() {
    // The control socket moves off standard input, where the readers'
    // sockets go; whatever else the caller left open (a descriptor its
    // own parent passed on) is closed, so that no pipe waits on the zygote.
    // Its standard error stays, for what the loader may have to say.
    if (dup2(0, 3) != 3) _exit(2);
    close_range(4, ~0u, 0);
    fcntl(3, F_SETFD, FD_CLOEXEC);
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull >= 0) {
        dup2(devNull, 0);
        dup2(devNull, 1);  // it prints nothing; each reader gets the caller's standard error
        close(devNull);
    }
    ServeAsZygote(3, false);
}

bool SendPicture(int fd, const Picture& pic) {
    WireOut w(fd);
    PutPicture(w, pic);
    return w.Flush();
}

bool ReceivePicture(int fd, uint64_t mostPixels, Picture& pic) {
    WireIn r(fd);
    return GetPicture(r, pic, mostPixels);
}

void EndReaderZygote() {
    std::lock_guard<std::mutex> lock(commandMutex);
    if (zygotePid < 0) return;
    close(zygoteControl);  // the zygote sees the end and ends
    while (waitpid(zygotePid, nullptr, 0) < 0 && errno == EINTR) {
    }
    zygoteControl = -1;
    zygotePid = -1;
    zygoteUsed = false;
    zygoteProgram.clear();
}

void UseReaderZygote(bool use) {
    std::lock_guard<std::mutex> lock(commandMutex);
    zygoteUsed = use && zygotePid >= 0;
}

void UseReaderProcess(std::vector<std::string> command) {
    std::lock_guard<std::mutex> lock(commandMutex);
    readerCommand = std::move(command);
}

void SetReaderPatience(std::chrono::milliseconds patience) { readerPatienceMs = patience.count(); }

bool ReaderProcessOn() {
    std::lock_guard<std::mutex> lock(commandMutex);
    return zygoteUsed || !readerCommand.empty();
}

// --- the reader ---------------------------------------------------------------

int RunReaderProcess() {
    // Ends with the command: a reader left behind could spin in a damaged
    // file for ever.
    prctl(PR_SET_PDEATHSIG, SIGKILL);
    // The socket moves off the standard descriptors: whatever a library
    // prints goes to standard error, never into the picture.
    const int in = fcntl(0, F_DUPFD_CLOEXEC, 3), out = fcntl(1, F_DUPFD_CLOEXEC, 3);
    if (in < 0 || out < 0) return 2;
    const int devNull = open("/dev/null", O_RDONLY | O_CLOEXEC);
    if (devNull >= 0) dup2(devNull, 0);
    dup2(2, 1);

    WireIn request(in);
    WireOut reply(out);
    uint8_t tag, whiteBalance, highlights, halfSize;
    std::string path;
    if (!request.U8(tag) || tag != kOpen || !request.Str(path) || !request.U8(whiteBalance) ||
        !request.U8(highlights) || !request.U8(halfSize) || whiteBalance > 2 || highlights > 3)
        return 2;
    RawDevelopment raw;
    raw.whiteBalance = RawDevelopment::WhiteBalance(whiteBalance);
    raw.highlights = RawDevelopment::Highlights(highlights);
    raw.halfSize = halfSize != 0;
    try {
        PhotoReader reader;
        std::string error, notes;
        if (!reader.Open(path, error, raw)) {
            reply.U8(kError);
            reply.Str(error);
            return reply.Flush() ? 0 : 2;
        }
        reply.U8(kHeader);
        reply.U32(uint32_t(reader.Width()));
        reply.U32(uint32_t(reader.Height()));
        reply.U32(uint32_t(reader.Channels()));
        reply.U8(reader.Deep() ? 1 : 0);
        reply.U64(reader.DecoderBytes());
        uint8_t want16;
        // No go (the command found it too large, or stopped): nothing to read.
        if (!reply.Flush() || !request.U8(tag) || tag != kGo || !request.U8(want16)) return 0;
        float sent = -1.0f;
        Picture pic;
        const bool ok = reader.Read(want16 != 0, pic, notes, error, [&](float done) {
            // About two hundred reports a photo at most.
            if (std::isfinite(done) && done - sent >= 0.005f) {
                sent = done;
                uint32_t bits;
                std::memcpy(&bits, &done, 4);
                reply.U8(kProgress);
                reply.U32(bits);
                reply.Flush();
            }
            return false;  // the command stops a reader by ending it
        });
        if (!ok) {
            reply.U8(kError);
            reply.Str(error);
            return reply.Flush() ? 0 : 2;
        }
        reply.U8(kPicture);
        PutPicture(reply, pic);
        reply.Str(notes);
        return reply.Flush() ? 0 : 2;
    } catch (const std::bad_alloc&) {
        reply.U8(kNoMemory);
        return reply.Flush() ? 0 : 2;
    }
}

// --- the command's side -------------------------------------------------------

ReaderProcess::ReaderProcess() = default;
ReaderProcess::~ReaderProcess() { End(); }

std::string ReaderProcess::End() {
    if (socket_ >= 0) close(socket_);
    socket_ = -1;
    if (pid_ < 0) return std::string();
    // A reader that closed its end has ended (or is ending) of its own
    // accord; a kill now cannot change how. One that has not is stopped.
    int status = 0;
    if (status_ >= 0) {
        // The zygote's reader: the zygote ends it, and says how it ended.
        const char kill = 'K';
        SendAll(status_, &kill, 1);
        int32_t st = SIGKILL;  // as a stopped reader, if the zygote went away
        ReceiveAll(status_, &st, sizeof st);
        status = st;
        close(status_);
        status_ = -1;
    } else {
        kill(pid_, SIGKILL);
        while (waitpid(pid_, &status, 0) < 0 && errno == EINTR) {
        }
    }
    pid_ = -1;
    return HowItEnded(status);
}

namespace {

// Asks the zygote on `control` for a reader, giving it the reader's data
// socket, status socket and standard error; false (errno saying why) when
// the request could not be sent.
bool AskZygote(int control, const std::array<int, 3>& given) {
    static_assert(sizeof given == 3 * sizeof(int), "the descriptors travel as one array");
    char byte = 'R';
    iovec iov{&byte, 1};
    alignas(cmsghdr) char room[CMSG_SPACE(sizeof given)] = {};
    msghdr msg{};
    msg.msg_iov = &iov;
    msg.msg_iovlen = 1;
    msg.msg_control = room;
    msg.msg_controllen = sizeof room;
    cmsghdr* c = CMSG_FIRSTHDR(&msg);
    c->cmsg_level = SOL_SOCKET;
    c->cmsg_type = SCM_RIGHTS;
    c->cmsg_len = CMSG_LEN(sizeof given);
    std::memcpy(CMSG_DATA(c), given.data(), sizeof given);
    ssize_t sent;
    while ((sent = sendmsg(control, &msg, MSG_NOSIGNAL)) < 0 && errno == EINTR) {
    }
    return sent == 1;
}

// "no answer for 300 s": the patience in whole seconds, rounded up (a
// patience under one reads "1 s").
std::string NoAnswerFor() { return "no answer for " + std::to_string((readerPatienceMs.load() + 999) / 1000) + " s"; }

// The error for a reader that sent no answer, or a broken one.
std::string Unanswered(const WireIn& in, std::string ended) {
    if (in.stopped()) return "stopped";
    if (in.silent()) return "reading it hung the image decoder (" + NoAnswerFor() + "); the file is likely damaged";
    if (!ended.empty()) return ended;
    return in.damaged() && !in.ended() ? "the reading process sent a damaged picture"
                                       : "the reading process ended without an answer";
}

}  // namespace

bool ReaderProcess::Start(std::string& error) {
    const auto failed = [&](int code) {
        error = "could not start a process to read it (" + std::string(std::strerror(code)) + ")";
        return false;
    };
    std::unique_lock<std::mutex> lock(commandMutex);
    // A zygote started as a program that has died is started again, as is
    // one found dying as it was asked for a reader; twice at most.
    int restarts = 0;
    while (zygoteUsed) {
        if (ZygoteProgramEndedLocked(false)) {
            if (++restarts > 2) return failed(EAGAIN);
            RestartZygoteProgramLocked();
            continue;
        }
        // A copy of the zygote, forked for this photo.
        int data[2], status[2];
        if (!SocketPair(data)) return failed(errno);
        if (!SocketPair(status)) {
            const int code = errno;
            close(data[0]);
            close(data[1]);
            return failed(code);
        }
        // The command's standard error as the reader's: what the command
        // does with decoders' messages (console.h) it does with the reader's.
        const bool sent = AskZygote(zygoteControl, {data[1], status[1], STDERR_FILENO});
        const int code = errno;
        const pid_t zygote = zygotePid;
        lock.unlock();
        close(data[1]);
        close(status[1]);
        // The reader's process id, once forked; the zygote then sends how
        // it ended on the same socket (End).
        WireIn answer(status[0]);
        answer.SetStop([this] { return Stopped(); });
        answer.SetPatience(std::chrono::milliseconds(readerPatienceMs.load()));
        int32_t pid = -1;
        if (sent && answer.Exact(&pid, sizeof pid) && pid > 0) {
            pid_ = pid;
            socket_ = data[0];
            status_ = status[0];
            return true;
        }
        close(data[0]);
        close(status[0]);
        if (answer.stopped() || answer.silent()) {
            error = answer.stopped() ? "stopped" : "could not start a process to read it (" + NoAnswerFor() + ")";
            return false;
        }
        lock.lock();
        if (zygote != zygotePid) continue;  // another photo's start replaced it meanwhile
        if (ZygoteProgramEndedLocked(true) && ++restarts <= 2) {
            RestartZygoteProgramLocked();
            continue;
        }
        return failed(!sent ? code : EAGAIN);
    }
    std::vector<std::string> command = readerCommand;
    lock.unlock();
    if (command.empty()) {
        error = "no reading process is set";
        return false;
    }
    int ends[2];
    if (!SocketPair(ends)) {
        return failed(errno);
    }
    std::vector<char*> argv;
    for (std::string& a : command) argv.push_back(a.data());
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 0);
    posix_spawn_file_actions_adddup2(&actions, ends[1], 1);
    // The reader keeps the command's blocked stop signals: a Ctrl-C at the
    // terminal reaches the whole process group, and the command, not the
    // reader, decides what a stop ends.
    const int spawned = posix_spawn(&pid_, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    close(ends[1]);
    socket_ = ends[0];
    if (spawned != 0) {
        pid_ = -1;
        End();
        return failed(spawned);
    }
    return true;
}

bool ReaderProcess::Stopped() const { return StopRequested() || (stop_ && stop_()); }

bool ReaderProcess::LastWord(uint8_t tag, WireIn& in, std::string& error) {
    if (tag == kNoMemory) {
        End();
        throw std::bad_alloc();
    }
    if (tag != kError || !in.Str(error)) return false;
    End();
    return true;
}

std::string PathForReader(const std::string& path, pid_t self) {
    // The descriptor a name gives, when it names one of this process's own.
    const auto descriptor = [&]() -> std::string {
        if (path == "/dev/stdin") return "0";
        for (const char* prefix : {"/dev/fd/", "/proc/self/fd/"})
            if (path.rfind(prefix, 0) == 0) return path.substr(std::strlen(prefix));
        return {};
    }();
    const bool number = !descriptor.empty() && descriptor.size() <= 9 &&
                        descriptor.find_first_not_of("0123456789") == std::string::npos;
    return number ? "/proc/" + std::to_string(self) + "/fd/" + descriptor : path;
}

bool ReaderProcess::Open(const std::string& path, std::string& error, const RawDevelopment& raw) {
    if (!Start(error)) return false;
    WireOut request(socket_);
    request.U8(kOpen);
    request.Str(PathForReader(path, getpid()));
    request.U8(uint8_t(raw.whiteBalance));
    request.U8(uint8_t(raw.highlights));
    request.U8(raw.halfSize ? 1 : 0);
    request.Flush();  // a reader that failed to start shows below

    in_ = std::make_unique<WireIn>(socket_);
    WireIn& in = *in_;
    in.SetStop([this] { return Stopped(); });
    in.SetPatience(std::chrono::milliseconds(readerPatienceMs.load()));
    uint8_t tag = 0;
    if (in.U8(tag)) {
        if (LastWord(tag, in, error)) return false;
        uint32_t w, h, c;
        uint8_t deep;
        if (tag == kHeader && in.U32(w) && in.U32(h) && in.U32(c) && in.U8(deep) && in.U64(decoderBytes_) &&
            in.Check(w > 0 && h > 0 && w <= INT32_MAX && h <= INT32_MAX && c > 0 && c <= 1024)) {
            width_ = int(w);
            height_ = int(h);
            channels_ = int(c);
            deep_ = deep != 0;
            return true;
        }
        in.Check(false);
    }
    error = Unanswered(in, End());
    return false;
}

bool ReaderProcess::Read(bool want16, Picture& out, std::string& notes, std::string& error,
                         const Progress& progress) {
    if (pid_ < 0) {
        error = "the reading process ended without an answer";
        return false;
    }
    WireOut go(socket_);
    go.U8(kGo);
    go.U8(want16 ? 1 : 0);
    go.Flush();
    float done = 0.0f;
    WireIn& in = *in_;
    in.SetStop([&] { return progress && progress(done); });
    uint8_t tag = 0;
    while (in.U8(tag)) {
        if (tag == kProgress) {
            uint32_t bits;
            if (!in.U32(bits)) break;
            std::memcpy(&done, &bits, 4);
            if (progress && progress(done)) {
                End();
                error = "stopped";
                return false;
            }
            continue;
        }
        if (LastWord(tag, in, error)) return false;
        Picture pic;
        std::string said;
        if (tag == kPicture && GetPicture(in, pic, uint64_t(width_) * uint64_t(height_)) && in.Str(said)) {
            out = std::move(pic);
            AddNote(notes, said);
            End();
            return true;
        }
        in.Check(false);
        break;
    }
    error = Unanswered(in, End());
    return false;
}

}  // namespace lumarex_cli
