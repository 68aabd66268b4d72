// SPDX-License-Identifier: MIT
#include "support/test_host.h"

#include "host/host_buffers.h"
#include "lumarex/heap_host.h"
#include "lumarex/lumarex.h"

namespace lx::test {
namespace {

// Buffer procedures receive no context, so the counters are process-wide;
// only one TestHost is active at a time.
struct Counters {
    int64_t allocations = 0;
    int64_t live = 0;
    int64_t locks = 0;
    int64_t lastRequest = -1;
    int64_t failAt = 0;
    int64_t failLockAt = 0;  // lock number k hands back no address
    int64_t maxBlockBytes = -1;  // larger requests are refused; -1: no limit
} g;

OSErr CountingAllocate(int32_t size, BufferID* id) {
    ++g.allocations;
    g.lastRequest = size;
    if (g.failAt > 0 && g.allocations == g.failAt) return -108;
    if (g.maxBlockBytes >= 0 && (size < 0 || size > g.maxBlockBytes)) return -108;
    const OSErr err = LxHeapHostProcs()->allocateProc(size, id);
    if (err == 0) ++g.live;
    return err;
}
auto CountingLock(BufferID id, Boolean moveHigh) {
    ++g.locks;
    // A lock the host cannot give: no address, whatever the SDK's pointer type.
    if (g.failLockAt > 0 && g.locks == g.failLockAt) return decltype(LxHeapHostProcs()->lockProc(id, moveHigh)){};
    return LxHeapHostProcs()->lockProc(id, moveHigh);
}
void CountingUnlock(BufferID id) { LxHeapHostProcs()->unlockProc(id); }
void CountingFree(BufferID id) {
    --g.live;
    LxHeapHostProcs()->freeProc(id);
}

}  // namespace

TestHost::TestHost() {
    procs_ = *LxHeapHostProcs();
    procs_.allocateProc = CountingAllocate;
    procs_.lockProc = CountingLock;
    procs_.unlockProc = CountingUnlock;
    procs_.freeProc = CountingFree;
    record_.bufferProcs = &procs_;
    Reset();
    previous_ = HostRecord();
    SetFilterRecord(&record_);
}

TestHost::~TestHost() { SetFilterRecord(previous_); }

void TestHost::Fail(int64_t allocation, int64_t lock) {
    g.allocations = 0;
    g.locks = 0;
    g.failAt = allocation;
    g.failLockAt = lock;
}

void TestHost::SetMaxBlockBytes(int64_t bytes) { g.maxBlockBytes = bytes; }

void TestHost::Reset() {
    const int64_t live = g.live;
    g = Counters{};
    g.live = live;  // blocks still out stay counted
}

int64_t TestHost::allocations() const { return g.allocations; }
int64_t TestHost::live() const { return g.live; }
int64_t TestHost::locks() const { return g.locks; }
int64_t TestHost::lastRequest() const { return g.lastRequest; }

}  // namespace lx::test
