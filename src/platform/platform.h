// SPDX-License-Identifier: MIT
// The operating-system seam: loading a shared library, finding a symbol in it,
// telling the user something at module start, and large blocks of working
// memory. Everything platform-specific in the library goes through here.
#pragma once

#include <cstddef>
#include <string>

namespace lx::platform {

// Opaque handle of a loaded library; null when loading failed.
using LibraryHandle = void*;

// The directory that holds the Lumarex library itself (with a trailing
// separator), or an empty string when it cannot be told.
std::string OwnModuleDirectory();

// Loads `fileName` (e.g. "libNoiseLib17.so" or "NoiseLib17.dll") from the
// directory of the Lumarex library first, then through the platform's normal
// search path.
LibraryHandle LoadLibraryBesideSelf(const char* fileName);

// Loads exactly `path`; for tests.
LibraryHandle LoadLibraryAt(const char* path);

void* FindSymbol(LibraryHandle library, const char* name);

void CloseLibrary(LibraryHandle library);

// A message for the user at module start: a modal box with an OK button on
// Windows (and the same line on the debugger channel; no box on a window
// station nobody sees), one line on standard error elsewhere.
void ShowMessage(const char* text);

// A block of working memory from the process heap, for planes of many
// megabytes that are written once and read a few times. Where the system
// offers large pages (Linux: transparent huge pages) the block is asked to be
// backed by them: a fresh 96 MB plane then costs 48 page faults instead of
// 24 576, which in a virtual machine is the difference between about 10 ms
// and 300 ms before the first byte is useful. Null when the heap is
// exhausted; release with FreeLargeBlock.
void* AllocateLargeBlock(std::size_t bytes);
void FreeLargeBlock(void* block);

}  // namespace lx::platform
