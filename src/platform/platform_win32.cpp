// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#include <windows.h>

#include <cstdlib>

namespace lx::platform {

namespace {
HMODULE OwnModule() {
    HMODULE module = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&OwnModule), &module);
    return module;
}
}  // namespace

std::string OwnModuleDirectory() {
    char path[MAX_PATH];
    const DWORD n = GetModuleFileNameA(OwnModule(), path, MAX_PATH);
    if (n == 0 || n == MAX_PATH) return {};
    std::string s(path, n);
    const auto slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string() : s.substr(0, slash + 1);
}

LibraryHandle LoadLibraryBesideSelf(const char* fileName) {
    // The module's own activation context (its side-by-side manifest) decides
    // which copy a plain LoadLibrary finds; make it current for the call.
    ACTCTXA ctx{};
    ctx.cbSize = sizeof ctx;
    ctx.dwFlags = ACTCTX_FLAG_HMODULE_VALID | ACTCTX_FLAG_RESOURCE_NAME_VALID;
    ctx.hModule = OwnModule();
    ctx.lpResourceName = MAKEINTRESOURCEA(2);  // ISOLATIONAWARE_MANIFEST_RESOURCE_ID
    HANDLE actCtx = CreateActCtxA(&ctx);
    ULONG_PTR cookie = 0;
    const bool activated = actCtx != INVALID_HANDLE_VALUE && ActivateActCtx(actCtx, &cookie);
    // Beside Lumarex first: a host loads its plug-ins from their own folder,
    // which is not on the search path (that starts at the editor's folder).
    HMODULE h = nullptr;
    const std::string dir = OwnModuleDirectory();
    if (!dir.empty()) h = LoadLibraryA((dir + fileName).c_str());
    if (h == nullptr) h = LoadLibraryA(fileName);
    if (activated) DeactivateActCtx(0, cookie);
    if (actCtx != INVALID_HANDLE_VALUE) ReleaseActCtx(actCtx);
    return h;
}

LibraryHandle LoadLibraryAt(const char* path) { return LoadLibraryA(path); }

void* FindSymbol(LibraryHandle library, const char* name) {
    return library != nullptr ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), name))
                              : nullptr;
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) FreeLibrary(static_cast<HMODULE>(library));
}

void ShowMessage(const char* text) {
    // The debugger channel first: a debugger, a host's log or a console test
    // sees the text even where no box can be shown.
    std::string line = text;
    line += '\n';
    OutputDebugStringA(line.c_str());
    // A box only where someone can click it: on a window station that is not
    // visible (a service, a build agent) MessageBox would wait for ever.
    // Without a display (Wine on a server) it returns at once.
    USEROBJECTFLAGS flags{};
    HWINSTA station = GetProcessWindowStation();
    if (station != nullptr &&
        GetUserObjectInformationA(station, UOI_FLAGS, &flags, sizeof flags, nullptr) &&
        (flags.dwFlags & WSF_VISIBLE) == 0)
        return;
    MessageBoxA(nullptr, text, "Lumarex", MB_OK);
}

}  // namespace lx::platform
