// SPDX-License-Identifier: MIT
// The preview page's files (serve/), built into the binary by the build
// (serve/embed_assets.cmake writes them into a C++ source), so that `lumarex
// serve` needs no files of its own at run time and no network.
#pragma once

#include <cstddef>
#include <span>

namespace lumarex_cli {

struct PreviewAsset {
    const char* path;          // "/preview.js"; the page itself is "/"
    const char* contentType;   // "text/javascript; charset=utf-8"
    const unsigned char* data;
    std::size_t size;
};

std::span<const PreviewAsset> PreviewAssets();

}  // namespace lumarex_cli
