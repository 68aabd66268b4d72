// SPDX-License-Identifier: MIT
// HostBuffers: every large block of working memory comes from the host's
// buffer suite, through the process-wide FilterRecord.
#pragma once

#include <cstddef>
#include <cstdint>
#include <utility>

#include "lumarex/host_sdk.h"
#include "platform/compiler.h"

namespace lx {

// One host buffer, locked for its whole life. Bytes 0..7 hold the host's
// buffer id, bytes 8..11 the requested data size, data starts at byte 12.
// Users keep the block address and work on Data().
struct HostBlock {
    static constexpr std::size_t kHeaderBytes = 12;

    BufferID Id() const;
    int32_t Size() const;
    uint8_t* Data() { return reinterpret_cast<uint8_t*>(this) + kHeaderBytes; }
    const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this) + kHeaderBytes; }
    template <class T> T* As() { return reinterpret_cast<T*>(Data()); }
    template <class T> const T* As() const { return reinterpret_cast<const T*>(Data()); }
};

// The process-wide host record (null until SetFilterRecord). Not locked:
// callers serialise their calls, as the host does.
void SetHostRecord(FilterRecord* record);
FilterRecord* HostRecord();

// Asks the host for `size` data bytes (size + 12 in all) and locks the block.
// Null when the host refuses, when no record or buffer suite is set, or when
// size is negative or too large to add the header to. The data is not cleared.
HostBlock* AllocateHostBlock(int32_t size);
// Same, for sizes computed in 64 bits: null when they do not fit the host's
// int32 size argument.
HostBlock* AllocateHostBlock64(int64_t size);
// Unlocks and frees the block through the current record; null is ignored.
void ReleaseHostBlock(HostBlock* block);

// Owns one host block and releases it on every path. Move-only.
class HostBuffer {
public:
    HostBuffer() = default;
    explicit HostBuffer(HostBlock* block) : block_(block) {}
    HostBuffer(HostBuffer&& other) noexcept : block_(std::exchange(other.block_, nullptr)) {}
    HostBuffer& operator=(HostBuffer&& other) noexcept {
        if (this != &other) {
            reset();
            block_ = std::exchange(other.block_, nullptr);
        }
        return *this;
    }
    HostBuffer(const HostBuffer&) = delete;
    HostBuffer& operator=(const HostBuffer&) = delete;
    ~HostBuffer() { reset(); }

    // Allocates `bytes` data bytes; the result is empty when the host refuses.
    static HostBuffer Allocate(int64_t bytes) { return HostBuffer(AllocateHostBlock64(bytes)); }

    explicit operator bool() const { return block_ != nullptr; }
    HostBlock* get() const { return block_; }
    template <class T> T* data() const { return block_ ? block_->As<T>() : nullptr; }
    // Gives the block up, e.g. to a record that outlives the call.
    HostBlock* release() { return std::exchange(block_, nullptr); }
    void reset() {
        ReleaseHostBlock(block_);
        block_ = nullptr;
    }

private:
    HostBlock* block_ = nullptr;
};

// Owns a host block holding `count` elements of T; sizes are given in
// elements, never in bytes. Move-only.
template <class T>
class HostArray {
public:
    HostArray() = default;

    // Room for `count` elements; empty when the host refuses or the size
    // leaves the host's range. The elements are not initialised.
    static HostArray Allocate(int64_t count) {
        HostArray a;
        if (count >= 0 && count <= INT64_MAX / int64_t{sizeof(T)}) {
            a.buffer_ = HostBuffer::Allocate(count * int64_t{sizeof(T)});
            if (a.buffer_) a.count_ = count;
        }
        return a;
    }

    explicit operator bool() const { return bool(buffer_); }
    T* data() const { return buffer_.data<T>(); }
    T& operator[](int64_t i) const { return data()[i]; }
    int64_t count() const { return count_; }
    HostBlock* block() const { return buffer_.get(); }
    // Gives the block up, e.g. to a record that outlives the call.
    HostBlock* release() {
        count_ = 0;
        return buffer_.release();
    }
    void reset() {
        buffer_.reset();
        count_ = 0;
    }

private:
    HostBuffer buffer_;
    int64_t count_ = 0;
};

}  // namespace lx
