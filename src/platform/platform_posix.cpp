// SPDX-License-Identifier: MIT
#include "platform/platform.h"

#include <dlfcn.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>

namespace lx::platform {

std::string OwnModuleDirectory() {
    Dl_info info{};
    // Any address inside this library names the library's file.
    if (dladdr(reinterpret_cast<void*>(&OwnModuleDirectory), &info) == 0 || info.dli_fname == nullptr) return {};
    std::string path = info.dli_fname;
    const auto slash = path.rfind('/');
    return slash == std::string::npos ? std::string() : path.substr(0, slash + 1);
}

LibraryHandle LoadLibraryBesideSelf(const char* fileName) {
    const std::string dir = OwnModuleDirectory();
    if (!dir.empty()) {
        if (LibraryHandle h = LoadLibraryAt((dir + fileName).c_str())) return h;
    }
    return dlopen(fileName, RTLD_NOW | RTLD_LOCAL);
}

LibraryHandle LoadLibraryAt(const char* path) { return dlopen(path, RTLD_NOW | RTLD_LOCAL); }

void* FindSymbol(LibraryHandle library, const char* name) {
    return library != nullptr ? dlsym(library, name) : nullptr;
}

void CloseLibrary(LibraryHandle library) {
    if (library != nullptr) dlclose(library);
}

void ShowMessage(const char* text) {
    std::fprintf(stderr, "%s\n", text);
    std::fflush(stderr);
}

}  // namespace lx::platform
