// SPDX-License-Identifier: MIT
// The host of the harnesses: the tests' counting host, refusing the
// allocation or the lock the input chooses and any block over a budget, as a
// host short of memory would. It is installed as the library's host record
// (and so the noise library's) on first use and stays installed.
#pragma once

#include <cstdint>

#include "lumarex/host_sdk.h"
#include "support/test_host.h"

namespace lx::fuzz {

// Which host call of the next export call fails: allocation number
// `allocation` and lock number `lock`, counted from 1 when armed; 0 never.
struct FailPlan {
    uint8_t allocation = 0;
    uint8_t lock = 0;
};

template <class IO>
void Visit(IO& io, FailPlan& f) {
    io(f.allocation), io(f.lock);
}

class FuzzHost {
public:
    // Blocks larger than this many bytes are refused: sizes from the whole
    // int32 range reach the library's size guards without a real 2 GB
    // allocation, and a call stays fast. It is above the largest block of
    // fixed size the library takes (the 16-bit local-detail histogram,
    // 652 801 counters).
    static constexpr int32_t kMaxBlockBytes = 4 * 1024 * 1024;

    static FuzzHost& Get();

    FilterRecord* record() { return host_.record(); }
    // Counts anew from the next call and fails as `plan` says.
    void Arm(FailPlan plan);
    // Blocks handed out and not yet returned.
    int64_t Live() const;
    // Fails the input unless exactly `expected` blocks are out.
    void ExpectLive(int64_t expected, const char* when) const;

private:
    FuzzHost();
    test::TestHost host_;
};

}  // namespace lx::fuzz
