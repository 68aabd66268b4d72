// SPDX-License-Identifier: MIT
// What the harnesses of the library's exports share: the failing host, the
// host blocks a blob and a record hold, a progress callback that checks how
// it is called, and the choice of noise library.
#pragma once

#include <cstdint>
#include <vector>

#include "lumarex/lumarex.h"
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

// The harnesses' host, installed as the library's (and so the noise
// library's) host record on first use: the tests' counting host, refusing the
// allocation or the lock the input chooses and any block over 4 MB (above the
// library's largest fixed block, the 16-bit local-detail histogram), so that
// sizes from the whole int32 range reach the size guards without a real 2 GB
// allocation.
test::TestHost& Host();
// Counts anew from the next call and fails as `plan` says.
inline void Arm(FailPlan plan) { Host().Fail(plan.allocation, plan.lock); }
// Fails the input unless exactly `expected` host blocks are out.
void ExpectLive(int64_t expected, const char* when);

// Host blocks that outlive a call: a blob's pixels and a record's base map.
int64_t BlocksHeld(const ImageBlob* blob, const ImageParam* param);
// The bytes of a blob's pixel block; none when it has no block.
std::vector<uint8_t> BlobBytes(const ImageBlob& blob);

// A progress callback that checks it is called with steps 1..6 of 6 in
// order, and asks to stop at one step. `choice` 0 gives no callback (null);
// k > 0 stops at step k (never, for k > 6).
class ProgressProbe {
public:
    explicit ProgressProbe(uint8_t choice) : on_(choice != 0), stopAt_(choice) {}
    ProgressCallback callback() const { return on_ ? &Report : nullptr; }
    void* context() { return this; }
    // A call that was asked to stop fails; a call that succeeded with a
    // callback reported all six steps.
    void ExpectConsistent(bool succeeded) const;

private:
    static int32_t Report(int32_t step, int32_t total, void* context);
    bool on_;
    int32_t stopAt_;
    int32_t last_ = 0;
    bool stopped_ = false;
};

// The noise library the next calls see, by `choice` modulo 3: 0 none (the
// library missing), 1 a stand-in that accepts every call and changes
// nothing, 2 our NoiseLib17, built beside the harness and bound by path.
void UseNoiseLibrary(uint8_t choice);

}  // namespace lx::fuzz
