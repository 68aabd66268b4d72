// SPDX-License-Identifier: MIT
#include "host/host_buffers.h"

#include <cstring>
#include <limits>

namespace lx {
namespace {

FilterRecord* g_hostRecord = nullptr;

const BufferProcs* Procs() {
    return g_hostRecord != nullptr ? g_hostRecord->bufferProcs : nullptr;
}

}  // namespace

BufferID HostBlock::Id() const {
    BufferID id;
    std::memcpy(&id, this, sizeof id);
    return id;
}

int32_t HostBlock::Size() const {
    int32_t size;
    std::memcpy(&size, reinterpret_cast<const uint8_t*>(this) + 8, sizeof size);
    return size;
}

void SetHostRecord(FilterRecord* record) { g_hostRecord = record; }
FilterRecord* HostRecord() { return g_hostRecord; }

HostBlock* AllocateHostBlock(int32_t size) { return AllocateHostBlock64(size); }

HostBlock* AllocateHostBlock64(int64_t size) {
    static_assert(sizeof(BufferID) == 8, "the block header keeps an 8-byte buffer id");
    const BufferProcs* procs = Procs();
    if (procs == nullptr || procs->allocateProc == nullptr || procs->lockProc == nullptr) return nullptr;
    // The host takes an int32 size that includes the 12-byte header.
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max() - int64_t{HostBlock::kHeaderBytes};
    if (size < 0 || size > kMax) return nullptr;

    BufferID id = nullptr;
    if (procs->allocateProc(static_cast<int32_t>(size + HostBlock::kHeaderBytes), &id) != 0) return nullptr;
    void* address = procs->lockProc(id, 1);
    if (address == nullptr) {
        // A host that hands out an id but cannot lock it: give the id back.
        if (procs->freeProc != nullptr) procs->freeProc(id);
        return nullptr;
    }
    const int32_t size32 = static_cast<int32_t>(size);
    std::memcpy(address, &id, sizeof id);
    std::memcpy(static_cast<uint8_t*>(address) + 8, &size32, sizeof size32);
    return static_cast<HostBlock*>(address);
}

void ReleaseHostBlock(HostBlock* block) {
    if (block == nullptr) return;
    const BufferProcs* procs = Procs();
    if (procs == nullptr) return;  // no record to return it through: the host owns it
    const BufferID id = block->Id();
    if (procs->unlockProc != nullptr) procs->unlockProc(id);
    if (procs->freeProc != nullptr) procs->freeProc(id);
}

}  // namespace lx
