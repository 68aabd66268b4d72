// SPDX-License-Identifier: MIT
// A host for tests and fuzz harnesses: the heap host, counting allocations
// and live blocks, failing the k-th allocation or lock and refusing blocks
// over a size, installed as the library's host record for its lifetime.
// test_host.cpp needs no test framework; ForEachAllocationFailure does.
#pragma once

#include <cstdint>
#include <functional>

#include "lumarex/host_sdk.h"

namespace lx::test {

class TestHost {
public:
    // Installs this host (through the library's SetFilterRecord) and resets
    // its counters; the destructor restores the previous record.
    TestHost();
    ~TestHost();
    TestHost(const TestHost&) = delete;
    TestHost& operator=(const TestHost&) = delete;

    FilterRecord* record() { return &record_; }

    // Counts anew and fails allocation number `allocation` and lock number
    // `lock` (1-based; 0: none). A failed lock hands out a buffer it cannot lock.
    void Fail(int64_t allocation, int64_t lock);
    void FailAt(int64_t k) { Fail(k, 0); }
    void FailLockAt(int64_t k) { Fail(0, k); }
    // Refuses every request larger than `bytes` (and any negative size), as
    // a host short of memory would; -1 lifts the limit. Reset lifts it too.
    void SetMaxBlockBytes(int64_t bytes);
    void Reset();  // counters to 0, no failure, no size limit

    int64_t allocations() const;  // allocation requests since Reset
    int64_t live() const;         // blocks handed out and not yet freed
    int64_t locks() const;        // lockProc calls since Reset
    int64_t lastRequest() const;  // size argument of the latest allocateProc

private:
    BufferProcs procs_{};
    FilterRecord record_{};
    FilterRecord* previous_ = nullptr;
};

// Runs `run` once to count its allocations n, then for every k in 1..n with
// allocation k failing and with lock k failing, calling `check(k, result)`
// with what `run` returned each time. Every run must leave no live block.
void ForEachAllocationFailure(TestHost& host, const std::function<int64_t()>& run,
                              const std::function<void(int64_t k, int64_t result)>& check);

}  // namespace lx::test
