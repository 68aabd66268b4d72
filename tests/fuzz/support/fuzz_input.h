// SPDX-License-Identifier: MIT
// A fuzzer's bytes read as typed fields (in order, little-endian, any bit
// pattern; 0 past the end), listed by the harness in `Visit(io, fields)`.
// The bytes after the last field are the harness's (pixels, file contents).
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <span>
#include <type_traits>

namespace lx::fuzz {

class Reader {
public:
    Reader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    template <class T>
        requires std::is_trivially_copyable_v<T>
    void operator()(T& value) {
        uint8_t bytes[sizeof(T)] = {};
        const size_t n = size_ - at_ < sizeof(T) ? size_ - at_ : sizeof(T);
        if (n > 0) std::memcpy(bytes, data_ + at_, n);
        at_ += n;
        std::memcpy(&value, bytes, sizeof(T));
    }

    // A harness's input record, its fields read by its Visit.
    template <class Fields>
    Fields Read() {
        Fields f;
        Visit(*this, f);
        return f;
    }

    // The bytes after the fields read so far.
    std::span<const uint8_t> Rest() const { return {data_ + at_, size_ - at_}; }

private:
    const uint8_t* data_;
    size_t size_;
    size_t at_ = 0;
};

// A broken promise of the library: reported, then the process aborts, which
// libFuzzer records as a crash with its input and the regression runner as a
// failed test.
[[noreturn]] inline void Fail(const char* what) {
    std::fprintf(stderr, "lumarex fuzz check failed: %s\n", what);
    std::fflush(stderr);
    std::abort();
}

inline void Check(bool holds, const char* what) {
    if (!holds) Fail(what);
}

}  // namespace lx::fuzz

// The fuzzer's entry point: reads the harness's fields `Input` and hands
// them, with the bytes after them, to the harness's lx::fuzz::Run.
#define LX_FUZZ_ENTRY(Input)                                                  \
    extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) { \
        lx::fuzz::Reader in(data, size);                                      \
        auto fields = in.Read<lx::fuzz::Input>();                             \
        lx::fuzz::Run(fields, in.Rest());                                     \
        return 0;                                                             \
    }
