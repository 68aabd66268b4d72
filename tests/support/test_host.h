// SPDX-License-Identifier: MIT
// A host for tests and fuzz harnesses: the heap host wrapped so that it
// counts allocations and live blocks, can fail the k-th allocation or lock
// and refuse blocks over a size, and installs itself as the library's host
// record for its lifetime. Only test_host.cpp is needed for the host itself
// (no test framework); ForEachAllocationFailure is in allocation_failures.cpp.
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

    // Fails allocation number k (1-based, counted from the last Reset);
    // 0 never fails. `failAfter` also fails every allocation after the k-th.
    void FailAt(int64_t k, bool failAfter = false);
    // Fails lock number k (1-based): the host hands out a buffer it cannot
    // lock. 0 never fails.
    void FailLockAt(int64_t k);
    // Counts anew and fails allocation number `allocation` and lock number
    // `lock` (either 0: none).
    void Fail(int64_t allocation, int64_t lock);
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

// Runs `run` once to count its allocations n, then for every k in 1..n runs
// it again with allocation k failing, and again with lock k failing, and
// calls `check(k, result)` after each failing run. Every run must leave no
// live block; the test fails otherwise.
// `run` returns whatever the operation reports (e.g. its success flag).
void ForEachAllocationFailure(TestHost& host, const std::function<int64_t()>& run,
                              const std::function<void(int64_t k, int64_t result)>& check);

}  // namespace lx::test
