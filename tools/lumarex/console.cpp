// SPDX-License-Identifier: MIT
#include "console.h"

#include <fcntl.h>
#include <unistd.h>

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

void WriteAll(int fd, const char* data, size_t n) {
    while (n > 0) {
        const ssize_t w = ::write(fd, data, n);
        if (w <= 0) return;
        data += w;
        n -= size_t(w);
    }
}

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
