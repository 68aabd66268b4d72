// SPDX-License-Identifier: MIT
#include "work_memory.h"

#include <cstdlib>
#include <limits>

namespace noiselib {
namespace {

FilterRecord* g_record = nullptr;

}  // namespace

void SetHostRecord(FilterRecord* record) { g_record = record; }
FilterRecord* HostRecord() { return g_record; }

WorkBlock WorkBlock::Allocate(int64_t bytes) {
    WorkBlock block;
    if (bytes < 0 || bytes > std::numeric_limits<int32_t>::max()) return block;
    const BufferProcs* procs = g_record != nullptr ? g_record->bufferProcs : nullptr;
    if (procs != nullptr && procs->allocateProc != nullptr && procs->lockProc != nullptr) {
        BufferID id = nullptr;
        if (procs->allocateProc(static_cast<int32_t>(bytes), &id) != 0) return block;
        void* address = procs->lockProc(id, 1);
        if (address == nullptr) {
            if (procs->freeProc != nullptr) procs->freeProc(id);
            return block;
        }
        block.data_ = address;
        block.id_ = id;
        block.procs_ = procs;
        return block;
    }
    // A record without a usable buffer suite counts as no record: the heap.
    // malloc(0) may return null; one byte keeps "empty" meaning "refused".
    block.data_ = std::malloc(bytes > 0 ? std::size_t(bytes) : 1);
    return block;
}

void WorkBlock::Reset() {
    if (data_ == nullptr) return;
    if (procs_ != nullptr) {
        if (procs_->unlockProc != nullptr) procs_->unlockProc(id_);
        if (procs_->freeProc != nullptr) procs_->freeProc(id_);
    } else {
        std::free(data_);
    }
    data_ = nullptr;
    id_ = nullptr;
    procs_ = nullptr;
}

}  // namespace noiselib
