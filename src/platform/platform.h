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

}  // namespace lx::platform
