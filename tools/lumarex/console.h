// SPDX-License-Identifier: MIT
// Where the command's own messages go, and what happens to the decoders'.
// Image decoders may print to the process' standard error themselves (libpng
// prints "libpng error: ..." before it gives up on a file); the command's
// promise is one clear line per failed file, which already carries the
// decoder's reason through OpenImageIO's error text. So once the messages
// are routed, file descriptor 2 is a pipe read by a small thread that drops
// the decoders' own lines and passes everything else on unchanged, and the
// command writes its messages to the real standard error directly.
#pragma once

#include <cstddef>
#include <cstdio>

namespace lumarex_cli {

// Starts the routing. Call once, before any image file is opened.
void RouteDecoderMessages();

// The real standard error, for the command's own messages: a stream and its
// descriptor. Before RouteDecoderMessages they are stderr and 2.
std::FILE* UserErr();
int UserErrorFd();

// Whether the real standard error is a terminal (for the progress line).
bool UserErrIsTerminal();

// Writes [p, p + left) to `fd`, through short writes and interrupts; stops
// at the first error. Unless `mayBlock`, only what `fd` takes at once: a
// stop that cannot wait must not wait on a pipe nobody reads. (Pieces of at
// most PIPE_BUF bytes: a pipe that polls writable takes such a piece whole.)
void WriteAll(int fd, const char* p, std::size_t left, bool mayBlock = true);

// Whether a line printed by a decoder is one of its own messages that the
// one line per file replaces ("libpng error: ...", "libpng warning: ...").
bool IsDecoderLine(const char* line, std::size_t length);

}  // namespace lumarex_cli
