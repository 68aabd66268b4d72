// SPDX-License-Identifier: MIT
#include "noise/noise_binding.h"

#include "noise/noise_library.h"

namespace lx::noise {
namespace {

// The library whose entry points are in Entries(); kept loaded for the life
// of the process unless a test rebinds or unbinds.
platform::LibraryHandle g_library = nullptr;

template <class Fn>
Fn Lookup(platform::LibraryHandle library, const char* name, const char* missingText, MessageSink show) {
    void* address = platform::FindSymbol(library, name);
    if (address == nullptr) show(missingText);
    return reinterpret_cast<Fn>(address);
}

}  // namespace

const char* NoiseLibraryFileName() {
#if defined(_WIN32)
    return "NoiseLib17.dll";
#else
    return "libNoiseLib17.so";
#endif
}

void BindLoadedLibrary(platform::LibraryHandle library, MessageSink show) noexcept {
    EntryPoints found;
    if (library == nullptr) {
        show("Unable to load NoiseLib17.dll.");
    } else {
        // Looked up in this order, each miss reported on its own.
        found.setFilterRecord = Lookup<NoiseSetFilterRecordFn>(
            library, "NoiseSetFilterRecord", "GetProcAddress failed for NoiseSetFilterRecord.", show);
        found.fillParams = Lookup<FillNoiseParamsFromPresetFn>(
            library, "FillNoiseParamsFromPreset", "GetProcAddress failed for FillNoiseParamsFromPreset.", show);
        found.removeNoise = Lookup<RemoveNoiseBufPresetFn>(
            library, "RemoveNoiseBufPreset", "GetProcAddress failed for RemoveNoiseBufPreset.", show);
    }
    Entries() = found;
    // Every load counts a reference, also a repeated load of the same file,
    // so the earlier handle is always given back.
    platform::LibraryHandle previous = g_library;
    g_library = library;
    platform::CloseLibrary(previous);
}

void BindNoiseLibrary() noexcept {
    platform::LibraryHandle library = nullptr;
    try {
        library = platform::LoadLibraryBesideSelf(NoiseLibraryFileName());
    } catch (...) {
        // Only the path string can throw (out of memory): report the library
        // as not loaded, as module start must not fail.
        library = nullptr;
    }
    BindLoadedLibrary(library, platform::ShowMessage);
}

void BindNoiseLibraryAt(const char* path, MessageSink show) noexcept {
    BindLoadedLibrary(path != nullptr ? platform::LoadLibraryAt(path) : nullptr, show);
}

void UnbindNoiseLibrary() noexcept {
    Entries() = EntryPoints{};
    platform::CloseLibrary(g_library);
    g_library = nullptr;
}

}  // namespace lx::noise
