// SPDX-License-Identifier: MIT
#include "support/fuzz_host.h"

#include <cstdio>

#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"
#include "support/fuzz_input.h"

namespace lx::fuzz {
namespace {

// Buffer procedures receive no context: the counters are process-wide.
struct Counters {
    int64_t allocations = 0;
    int64_t locks = 0;
    int64_t live = 0;
    FailPlan plan;
} g;

int16_t Allocate(int32_t size, BufferID* id) {
    ++g.allocations;
    if (g.allocations == g.plan.allocation) return -108;  // memFullErr
    if (size < 0 || size > FuzzHost::kMaxBlockBytes) return -108;
    const int16_t err = LxHeapHostProcs()->allocateProc(size, id);
    if (err == 0) ++g.live;
    return err;
}
void* Lock(BufferID id, uint8_t moveHigh) {
    ++g.locks;
    if (g.locks == g.plan.lock) return nullptr;
    return LxHeapHostProcs()->lockProc(id, moveHigh);
}
void Unlock(BufferID id) { LxHeapHostProcs()->unlockProc(id); }
void Free(BufferID id) {
    --g.live;
    LxHeapHostProcs()->freeProc(id);
}

}  // namespace

FuzzHost::FuzzHost() {
    procs_ = *LxHeapHostProcs();
    procs_.allocateProc = Allocate;
    procs_.lockProc = Lock;
    procs_.unlockProc = Unlock;
    procs_.freeProc = Free;
    record_.bufferProcs = &procs_;
    SetFilterRecord(&record_);
}

FuzzHost& FuzzHost::Get() {
    static FuzzHost host;
    return host;
}

void FuzzHost::Arm(FailPlan plan) {
    g.allocations = 0;
    g.locks = 0;
    g.plan = plan;
}

int64_t FuzzHost::Live() const { return g.live; }

void FuzzHost::ExpectLive(int64_t expected, const char* when) const {
    if (g.live == expected) return;
    std::fprintf(stderr, "%lld host blocks out %s, expected %lld\n", static_cast<long long>(g.live), when,
                 static_cast<long long>(expected));
    Fail("every host block is returned when a call finishes");
}

}  // namespace lx::fuzz
