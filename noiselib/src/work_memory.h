// SPDX-License-Identifier: MIT
// Working memory of the noise library: from the host's buffer suite when a
// filter record was handed over with NoiseSetFilterRecord, else from the heap.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "lumarex/host_sdk.h"

namespace noiselib {

// The record kept by NoiseSetFilterRecord (null: use the heap).
void SetHostRecord(FilterRecord* record);
FilterRecord* HostRecord();

// One block of working memory, released on destruction. Host blocks are
// allocated, locked for the block's whole life, then unlocked and freed
// through the suite they came from. Move-only.
class WorkBlock {
public:
    WorkBlock() = default;
    WorkBlock(WorkBlock&& other) noexcept
        : data_(std::exchange(other.data_, nullptr)), id_(std::exchange(other.id_, nullptr)),
          procs_(std::exchange(other.procs_, nullptr)) {}
    WorkBlock& operator=(WorkBlock&& other) noexcept {
        if (this != &other) {
            Reset();
            data_ = std::exchange(other.data_, nullptr);
            id_ = std::exchange(other.id_, nullptr);
            procs_ = std::exchange(other.procs_, nullptr);
        }
        return *this;
    }
    WorkBlock(const WorkBlock&) = delete;
    WorkBlock& operator=(const WorkBlock&) = delete;
    ~WorkBlock() { Reset(); }

    // `bytes` of uncleared memory; empty when the source refuses, when bytes
    // is negative, or when it does not fit the host's int32 size argument
    // (the heap is held to the same limit so both sources behave alike).
    static WorkBlock Allocate(int64_t bytes);

    explicit operator bool() const { return data_ != nullptr; }
    void* data() const { return data_; }
    void Reset();

private:
    void* data_ = nullptr;
    BufferID id_ = nullptr;               // host buffer id; null for heap blocks
    const BufferProcs* procs_ = nullptr;  // suite the block came from; null for heap blocks
};

// Hands out 64-byte aligned pieces of one block, in order.
class Carver {
public:
    Carver(void* base, std::size_t bytes) : base_(static_cast<unsigned char*>(base)), bytes_(bytes) {}
    // Rounds `bytes` up to the alignment; for sizing a block before carving.
    static constexpr int64_t Aligned(int64_t bytes) { return (bytes + 63) / 64 * 64; }
    template <class T> T* Take(int64_t count) {
        const int64_t bytes = Aligned(count * int64_t(sizeof(T)));
        if (bytes < 0 || used_ + std::size_t(bytes) > bytes_) return nullptr;
        T* p = reinterpret_cast<T*>(base_ + used_);
        used_ += std::size_t(bytes);
        return p;
    }

private:
    unsigned char* base_;
    std::size_t bytes_;
    std::size_t used_ = 0;
};

}  // namespace noiselib
