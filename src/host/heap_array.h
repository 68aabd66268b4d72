// SPDX-License-Identifier: MIT
// HeapArray: working memory that does not come from the host. The one-shot
// correction and the per-call tables of the fast kernels take it from the
// process heap, so that they run without a host record.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <type_traits>

#include "platform/large_block.h"

namespace lx {

// Owns `count` elements of T from the process heap (blocks of 2 MB and more
// asked to be backed by large pages, platform/large_block.h) and frees them
// on every path; sizes are given in elements, as for HostArray. Move-only.
template <class T>
class HeapArray {
    static_assert(std::is_trivially_destructible_v<T>, "the block is freed without destructors");

public:
    HeapArray() = default;

    // Room for `count` elements, default-initialised: numbers are left
    // unset (a plane is written before it is read), structs get their
    // member initialisers. Empty when the heap refuses or the size does not
    // fit in memory.
    static HeapArray Allocate(int64_t count) {
        HeapArray a;
        if (count < 0 || uint64_t(count) > SIZE_MAX / sizeof(T)) return a;
        a.data_.reset(static_cast<T*>(platform::AllocateLargeBlock(size_t(count) * sizeof(T))));
        if (!a.data_) return a;
        std::uninitialized_default_construct_n(a.data_.get(), size_t(count));
        a.count_ = count;
        return a;
    }

    explicit operator bool() const { return data_ != nullptr; }
    T* data() const { return data_.get(); }
    T& operator[](int64_t i) const { return data_.get()[i]; }
    T* operator->() const { return data_.get(); }
    int64_t count() const { return count_; }

private:
    struct Free {
        void operator()(T* p) const { platform::FreeLargeBlock(p); }
    };
    std::unique_ptr<T, Free> data_;
    int64_t count_ = 0;
};

}  // namespace lx
