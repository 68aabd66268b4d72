// SPDX-License-Identifier: MIT
// Heap-backed buffer suite. A buffer id is the address of the heap block
// itself, so lock is free and moveHigh has nothing to do.
#include "lumarex/heap_host.h"

#include <atomic>
#include <cstdlib>
#include <type_traits>

#include "platform/large_block.h"

namespace {

// Hosts' headers differ in how they spell the lock result (void* or char*);
// the procedures below take the record's own types.
using LockResult = std::invoke_result_t<LockBufferProc, BufferID, Boolean>;

std::atomic<int64_t> g_live{0};

OSErr HeapAllocate(int32_t size, BufferID* id) {
    if (size < 0 || id == nullptr) return -1;
    // A block of at least one byte (malloc(0) may return null) keeps ids
    // unique; blocks of megabytes are the library's planes, asked to be
    // backed by large pages.
    void* p = lx::platform::AllocateLargeBlock(static_cast<std::size_t>(size));
    if (p == nullptr) return -108;  // the classic "not enough memory" code
    g_live.fetch_add(1, std::memory_order_relaxed);
    *id = static_cast<BufferID>(p);
    return 0;
}

LockResult HeapLock(BufferID id, Boolean /*moveHigh*/) { return reinterpret_cast<LockResult>(id); }
void HeapUnlock(BufferID /*id*/) {}

void HeapFree(BufferID id) {
    if (id == nullptr) return;
    lx::platform::FreeLargeBlock(id);
    g_live.fetch_sub(1, std::memory_order_relaxed);
}

int32_t HeapSpace() { return 0x7fffffff; }

BufferProcs g_procs = {2, 5, HeapAllocate, HeapLock, HeapUnlock, HeapFree, HeapSpace};

// A host's record as the host lays it out; only the buffer suite is filled,
// everything before it stays zero.
constexpr FilterRecord MakeRecord() {
    FilterRecord record{};
    record.bufferProcs = &g_procs;
    return record;
}
constinit FilterRecord g_record = MakeRecord();  // ready before any static initialiser asks

}  // namespace

extern "C" FilterRecord* LxHeapHostRecord(void) { return &g_record; }
extern "C" BufferProcs* LxHeapHostProcs(void) { return &g_procs; }
extern "C" int64_t LxHeapHostLiveBlocks(void) { return g_live.load(std::memory_order_relaxed); }
