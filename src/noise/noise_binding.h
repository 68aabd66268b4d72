// SPDX-License-Identifier: MIT
// Binding the noise-removal library: load it by name, look its three entry
// points up, report each missing piece with a fixed message, never fail.
#pragma once

#include "platform/platform.h"

namespace lx::noise {

// Where the messages of the binding go: platform::ShowMessage at module
// start (a message box on Windows, one line on standard error elsewhere);
// tests pass a recorder.
using MessageSink = void (*)(const char* text);

// File name of the noise library on this platform: "NoiseLib17.dll" on
// Windows, "libNoiseLib17.so" elsewhere.
const char* NoiseLibraryFileName();

// Module start: loads the noise library from the directory that holds
// Lumarex, then through the platform's search path, and binds it. Never
// throws and never fails; missing pieces leave null entry points and one
// message each.
void BindNoiseLibrary() noexcept;

// Binds the library at exactly `path` (for tests and tools), reporting
// through `show`. Same messages and outcomes as BindNoiseLibrary.
void BindNoiseLibraryAt(const char* path, MessageSink show) noexcept;

// Binds an already-loaded library (null: loading failed), taking ownership of
// the handle. Order of look-ups and messages:
//
//   library null        -> "Unable to load NoiseLib17.dll."   (all entries null)
//   no NoiseSetFilterRecord       -> "GetProcAddress failed for NoiseSetFilterRecord."
//   no FillNoiseParamsFromPreset  -> "GetProcAddress failed for FillNoiseParamsFromPreset."
//   no RemoveNoiseBufPreset       -> "GetProcAddress failed for RemoveNoiseBufPreset."
//
// The texts name the Windows file on every platform, as hosts document them.
// A library bound earlier is released after its entry points are replaced.
void BindLoadedLibrary(platform::LibraryHandle library, MessageSink show) noexcept;

// Clears the entry points and releases the bound library (for tests).
void UnbindNoiseLibrary() noexcept;

}  // namespace lx::noise
