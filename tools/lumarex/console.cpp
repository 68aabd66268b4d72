// SPDX-License-Identifier: MIT
#include "console.h"

#include <fcntl.h>
#include <poll.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstring>
#include <string>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/common_interface_defs.h>
#endif

namespace lumarex_cli {
namespace {

std::FILE* g_userErr = nullptr;
int g_userFd = STDERR_FILENO;

// Reads what the process writes to descriptor 2 and passes on all but the
// decoders' own lines, line by line.
void Forward(int from, int to) {
    std::string pending;
    char buf[4096];
    for (;;) {
        const ssize_t n = ::read(from, buf, sizeof buf);
        if (n <= 0) return;
        pending.append(buf, size_t(n));
        size_t start = 0;
        for (size_t nl; (nl = pending.find('\n', start)) != std::string::npos; start = nl + 1)
            if (!IsDecoderLine(pending.data() + start, nl - start)) WriteAll(to, pending.data() + start, nl + 1 - start);
        pending.erase(0, start);
    }
}

}  // namespace

void WriteAll(int fd, const char* p, size_t left, bool mayBlock) {
    while (left > 0) {
        if (!mayBlock) {
            pollfd out{fd, POLLOUT, 0};
            if (::poll(&out, 1, 0) != 1 || (out.revents & POLLOUT) == 0) return;
        }
        const ssize_t n = ::write(fd, p, mayBlock ? left : std::min<size_t>(left, PIPE_BUF));
        if (n > 0) p += n, left -= size_t(n);
        else if (n < 0 && errno == EINTR) continue;
        else break;
    }
}

bool IsDecoderLine(const char* line, std::size_t length) {
    static const char* const kPrefixes[] = {"libpng error: ", "libpng warning: "};
    for (const char* p : kPrefixes)
        if (length >= std::strlen(p) && std::strncmp(line, p, std::strlen(p)) == 0) return true;
    return false;
}

void RouteDecoderMessages() {
    if (g_userErr != nullptr) return;
    std::fflush(stderr);
    const int real = ::fcntl(STDERR_FILENO, F_DUPFD_CLOEXEC, 3);
    int p[2];
    if (real < 0 || ::pipe2(p, O_CLOEXEC) != 0) {
        if (real >= 0) ::close(real);
        return;  // messages then stay as they are
    }
    std::FILE* user = ::fdopen(real, "w");
    if (user == nullptr || ::dup2(p[1], STDERR_FILENO) < 0) {
        if (user) std::fclose(user);
        ::close(p[0]);
        ::close(p[1]);
        return;
    }
    ::close(p[1]);
    std::setvbuf(user, nullptr, _IOLBF, 0);
    g_userErr = user;
    g_userFd = real;
#if defined(__SANITIZE_ADDRESS__)
    // A sanitizer's report must not wait in the pipe while the process dies.
    __sanitizer_set_report_fd(reinterpret_cast<void*>(static_cast<intptr_t>(real)));
#endif
    std::thread(Forward, p[0], real).detach();
}

std::FILE* UserErr() { return g_userErr != nullptr ? g_userErr : stderr; }

int UserErrorFd() { return g_userFd; }

bool UserErrIsTerminal() { return ::isatty(g_userFd) == 1; }

}  // namespace lumarex_cli
