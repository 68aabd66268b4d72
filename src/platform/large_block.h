// SPDX-License-Identifier: MIT
// Blocks of working memory for planes of many megabytes that are written
// once and read a few times: the library's own working planes and the heap
// host's blocks. Where the system offers large pages (Linux: transparent
// huge pages) the block is asked to be backed by them: a fresh 96 MB plane
// then costs 48 page faults instead of 24 576, which in a virtual machine is
// the difference between about 10 ms and 300 ms before the first byte is
// useful (CalcImageBlobParam on a 24-megapixel photo took a third of its
// time with the heap host's blocks so backed). Inline, so that the heap
// host, which lives outside the library, shares it without an export.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdlib>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace lx::platform {

// Null when the heap is exhausted; release with FreeLargeBlock.
inline void* AllocateLargeBlock(std::size_t bytes) {
#if defined(_WIN32)
    // Large pages on Windows need a privilege that programs do not normally
    // hold; the heap's own blocks serve.
    return std::malloc(bytes > 0 ? bytes : 1);
#else
    // Large pages are 2 MB; a block smaller than one gains nothing from them.
    constexpr std::size_t kLargePage = std::size_t{2} << 20;
    if (bytes < kLargePage) return std::malloc(bytes > 0 ? bytes : 1);
    if (bytes > SIZE_MAX - kLargePage) return nullptr;
    const std::size_t rounded = (bytes + kLargePage - 1) / kLargePage * kLargePage;
    void* block = std::aligned_alloc(kLargePage, rounded);
#if defined(MADV_HUGEPAGE)
    // Advice only: where it is refused the block works with small pages.
    if (block != nullptr) madvise(block, rounded, MADV_HUGEPAGE);
#endif
    return block;
#endif
}

inline void FreeLargeBlock(void* block) { std::free(block); }

}  // namespace lx::platform
