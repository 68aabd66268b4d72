// SPDX-License-Identifier: MIT
// Module start on Windows: DllMain binds the noise library when the process
// attaches, and lets the load succeed whatever the outcome.
#ifdef _WIN32

#include <windows.h>

#include "noise/noise_binding.h"

BOOL WINAPI DllMain(HINSTANCE /*instance*/, DWORD reason, LPVOID /*reserved*/) {
    if (reason == DLL_PROCESS_ATTACH) lx::noise::BindNoiseLibrary();
    return TRUE;
}

#endif  // _WIN32
