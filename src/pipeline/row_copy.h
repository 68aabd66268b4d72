// SPDX-License-Identifier: MIT
// Copying pixels between two views of the same size and sample type, for
// the apply pipelines' row buffers.
#pragma once

#include <cstdint>

#include "image/image_view.h"

namespace lx {

// How the SIMD copy writes `to`. kStreaming is for a destination larger
// than the caches that nothing reads back soon (a whole image): the rows'
// aligned whole cache lines are written past the caches, which saves
// fetching each destination line before it is overwritten. The same bytes
// either way; after the last streaming copy, FenceStreamingStores() must run
// before the destination is handed on.
enum class Stores { kCached, kStreaming };

// The destination size from which the whole-image pipelines stream: beyond
// the last-level cache of most desktop processors.
inline constexpr int64_t kStreamingStoreBytes = int64_t{32} << 20;

// Copies every pixel of `from` to the same position of `to` (to.width x
// to.height pixels), row by row, each pixel's channels 1, 2, 3 in that order.
// Runs the SIMD twin (row_copy_twins.h, interleaving three-sample pixels)
// when the build has it, `from` is planar and the pixels of `to` share no
// samples; the same bytes. Instantiated for uint8_t and uint16_t.
template <class T>
void CopyPixels(const ImageView<const T>& from, const ImageView<T>& to, Stores stores = Stores::kCached);

// Orders the streaming stores made so far before any later store (a no-op
// where there are none to order).
void FenceStreamingStores();

}  // namespace lx
