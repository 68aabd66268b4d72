// SPDX-License-Identifier: MIT
// Size limits checked from a file's header before anything is allocated for
// its pixels: a pixel count (--max-megapixels) and a memory budget
// (--max-memory) that the photos being corrected at the same time share.
#pragma once

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <string>

namespace lumarex_cli {

// The largest photo read by default: 200 megapixels (a 16-bit 200 MP photo
// takes about 6 GB through `lumarex correct`). Larger files are refused
// unless --max-megapixels allows them.
inline constexpr double kDefaultMaxMegapixels = 200.0;

// The machine's physical memory in bytes; 0 when the system does not say.
uint64_t MachineMemoryBytes();

// The default memory budget: half of the machine's memory.
double DefaultMaxMemoryGB();

// What one photo costs at its peak, from its header: the largest of reading
// (the decoded file and the picture), correcting (the picture, its copies and
// the library's working planes) and writing. `channels` is the file's,
// `workBits` the depth it is corrected at (8 or 16), `decoderBytes` what
// reading holds at its peak as the file's decoder goes about it, where that
// is more than the reading phase counts (PhotoReader::DecoderBytes).
enum class Work { kOnePass, kAnalyseAndApply, kAnalyseOnly };
uint64_t EstimatedBytes(Work work, int64_t pixels, int channels, int workBits, uint64_t decoderBytes = 0);

// "1.5 GB" style.
std::string GigabytesText(uint64_t bytes);

// Memory shared by concurrent jobs: a job takes its estimate before it reads
// a file and gives it back when done; a job waits while the others hold too
// much. A job larger than the whole budget is refused at once.
class MemoryBudget {
public:
    explicit MemoryBudget(uint64_t bytes) : total_(bytes) {}
    uint64_t Total() const { return total_; }

    // Waits until `bytes` fit beside what others hold, or returns false at
    // once when they can never fit, or when `stop()` turns true while waiting.
    template <class StopFn>
    bool Acquire(uint64_t bytes, StopFn stop);
    void Release(uint64_t bytes);

private:
    uint64_t total_;
    uint64_t used_ = 0;
    std::mutex mutex_;
    std::condition_variable freed_;
};

template <class StopFn>
bool MemoryBudget::Acquire(uint64_t bytes, StopFn stop) {
    if (bytes > total_) return false;
    std::unique_lock<std::mutex> lock(mutex_);
    while (used_ + bytes > total_) {
        if (stop()) return false;
        freed_.wait_for(lock, std::chrono::milliseconds(100));
    }
    used_ += bytes;
    return true;
}

}  // namespace lumarex_cli
