// SPDX-License-Identifier: MIT
// The picture a reader process sends back (reader_process.h) on fuzzed
// bytes: the command takes it from a process whose memory a decoder may
// have damaged, so any bytes are refused or give a picture within the
// header's size, whose samples match its size, and which goes through the
// wire again unchanged. Never a crash, a hang or undefined behaviour.
#include <sys/mman.h>
#include <unistd.h>

#include "reader_process.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

using namespace lumarex_cli;

struct AnswerInput {
    uint8_t width = 0, height = 0;  // the header's size, which the picture may not pass
};

template <class IO>
void Visit(IO& io, AnswerInput& a) {
    io(a.width), io(a.height);
}

// A file in memory holding `bytes`, read from its start.
int MemoryFile(const void* bytes, size_t size) {
    const int fd = memfd_create("answer", MFD_CLOEXEC);
    Check(fd >= 0, "a memory file is made");
    const char* c = static_cast<const char*>(bytes);
    for (size_t done = 0; done < size;) {
        const ssize_t w = write(fd, c + done, size - done);
        Check(w > 0, "the memory file takes the bytes");
        done += size_t(w);
    }
    lseek(fd, 0, SEEK_SET);
    return fd;
}

void Run(const AnswerInput& in, std::span<const uint8_t> bytes) {
    const uint64_t most = uint64_t(in.width) * in.height;
    const int fd = MemoryFile(bytes.data(), bytes.size());
    Picture pic;
    const bool taken = ReceivePicture(fd, most, pic);
    close(fd);
    if (!taken) return;
    const uint64_t pixels = uint64_t(pic.width) * uint64_t(pic.height);
    Check(pic.width > 0 && pic.height > 0 && pixels <= most, "the picture is within the header's size");
    Check((pic.bits == 8 ? pic.rgb8.size() : pic.rgb16.size()) == pixels * 3, "the samples fill the picture");
    Check(pic.alpha.empty() || pic.alpha.size() == pixels, "alpha fills the picture");
    // Sent again and taken again, it is the same picture.
    const int again = memfd_create("again", MFD_CLOEXEC);
    Check(again >= 0 && SendPicture(again, pic), "the picture is sent again");
    lseek(again, 0, SEEK_SET);
    Picture back;
    Check(ReceivePicture(again, most, back), "the picture sent again is taken");
    close(again);
    Check(back.width == pic.width && back.height == pic.height && back.bits == pic.bits &&
              back.rgb8 == pic.rgb8 && back.rgb16 == pic.rgb16 && back.alpha == pic.alpha && back.xmp == pic.xmp &&
              back.xmpExtension == pic.xmpExtension &&
              back.spec.extra_attribs.size() == pic.spec.extra_attribs.size(),
          "the picture comes back the same");
}

}  // namespace
}  // namespace lx::fuzz

LX_FUZZ_ENTRY(AnswerInput)
