// SPDX-License-Identifier: MIT
// Binding a noise library by path for the duration of a test, with the
// binding's messages recorded instead of shown.
#pragma once

#include <string>
#include <vector>

#include "noise/noise_binding.h"
#include "noise/noise_library.h"

namespace lx::test {

class ScopedNoiseBinding {
public:
    explicit ScopedNoiseBinding(const char* path) {
        Messages().clear();
        noise::BindNoiseLibraryAt(path, &Record);
    }
    ~ScopedNoiseBinding() { noise::UnbindNoiseLibrary(); }
    ScopedNoiseBinding(const ScopedNoiseBinding&) = delete;
    ScopedNoiseBinding& operator=(const ScopedNoiseBinding&) = delete;

    static std::vector<std::string>& Messages() {
        static std::vector<std::string> messages;
        return messages;
    }

private:
    static void Record(const char* text) { Messages().emplace_back(text); }
};

}  // namespace lx::test
