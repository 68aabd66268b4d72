// SPDX-License-Identifier: MIT
// A host for tests: the heap host wrapped so that it counts allocations and
// live blocks, can fail the k-th allocation, and installs itself as the
// library's host record for its lifetime.
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
    void Reset();  // counters to 0, no failure

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
