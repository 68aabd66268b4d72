// SPDX-License-Identifier: MIT
// Room for a picture's samples on large pages. A 24-megapixel picture is 72
// or 144 MB; in 4 KB pages that is 18 000 to 36 000 page faults the first
// time it is written, which in a virtual machine costs more than the pass
// itself. Where the system offers transparent huge pages on request
// (Linux, MADV_HUGEPAGE), the storage is asked to be backed by 2 MB pages.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#if !defined(_WIN32)
#include <sys/mman.h>
#endif

namespace lumarex_cli {

// Resizes an empty `v` to `count` value-initialised elements, its storage
// advised onto large pages before the first write. Advice only: where it is
// refused the room works with small pages. Small vectors are only resized.
template <class T>
void ResizeOnLargePages(std::vector<T>& v, size_t count) {
    v.reserve(count);
#if !defined(_WIN32) && defined(MADV_HUGEPAGE)
    constexpr uintptr_t kLargePage = uintptr_t{2} << 20, kPage = 4096;
    const uintptr_t begin = (reinterpret_cast<uintptr_t>(v.data()) + kPage - 1) & ~(kPage - 1);
    const uintptr_t end = (reinterpret_cast<uintptr_t>(v.data()) + count * sizeof(T)) & ~(kPage - 1);
    if (end > begin && end - begin >= 2 * kLargePage)
        madvise(reinterpret_cast<void*>(begin), end - begin, MADV_HUGEPAGE);
#endif
    v.resize(count);
}

}  // namespace lumarex_cli
