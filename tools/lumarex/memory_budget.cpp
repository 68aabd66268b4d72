// SPDX-License-Identifier: MIT
#include "memory_budget.h"

#include <unistd.h>

#include <algorithm>
#include <cstdio>

namespace lumarex_cli {

uint64_t MachineMemoryBytes() {
    const long pages = ::sysconf(_SC_PHYS_PAGES), size = ::sysconf(_SC_PAGESIZE);
    return pages > 0 && size > 0 ? uint64_t(pages) * uint64_t(size) : 0;
}

double DefaultMaxMemoryGB() {
    const uint64_t machine = MachineMemoryBytes();
    return machine == 0 ? 4.0 : double(machine) / 2.0 / 1e9;
}

uint64_t EstimatedBytes(Work work, int64_t pixels, int channels, int workBits, uint64_t decoderBytes) {
    const uint64_t n = uint64_t(pixels), ch = uint64_t(channels);
    const uint64_t rgb = 3 * (workBits > 8 ? 2 : 1);  // bytes of one pixel of the picture
    // The peak is the largest of three phases, in bytes per pixel.
    // Reading: the file's samples at 16 bits, split into RGB at 16 bits,
    // then the picture at the working depth (the decoder's own peak, where
    // larger, is taken below).
    const uint64_t read = ch * 2 + 6 + rgb;
    // Correcting: the picture, a copy for --compare, and either the copy for
    // the retry of a measured lift and the one-pass correction's three float
    // planes, or the blob, the guard's byte a pixel and the base map (one
    // float) with, while the analysis runs, its detail plane (one float; the
    // picture's samples are let go meanwhile).
    const uint64_t correct = work == Work::kOnePass ? 3 * rgb + 12 : 3 * rgb + 1 + 8;
    // Writing: the picture and its before copy, the file's samples at 16
    // bits and the encoder's converted copy of them.
    const uint64_t write = 2 * rgb + ch * 4;
    const uint64_t perPixel = std::max({read, correct, write});
    // Measured peaks above the program's own 130 MB (its libraries), 24-
    // megapixel photos: a 16-bit TIFF through `correct` 17 bytes a pixel, 23
    // with --compare (estimate 27); an 8-bit JPEG through `auto` 12, 15 with
    // --compare (estimate 18). Add 64 MB for decoders, tables and threads.
    return std::max(n * perPixel, decoderBytes) + (uint64_t(64) << 20);
}

std::string GigabytesText(uint64_t bytes) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%.1f GB", double(bytes) / 1e9);
    return buf;
}

void MemoryBudget::Release(uint64_t bytes) {
    {
        std::lock_guard<std::mutex> lock(mutex_);
        used_ -= bytes;
    }
    freed_.notify_all();
}

}  // namespace lumarex_cli
