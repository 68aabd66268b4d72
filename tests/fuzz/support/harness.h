// SPDX-License-Identifier: MIT
// What the harnesses of the library's exports share: the host blocks a blob
// and a record hold, a progress callback that checks how it is called, and
// the choice of noise library.
#pragma once

#include <cstdint>
#include <vector>

#include "lumarex/lumarex.h"

namespace lx::fuzz {

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
