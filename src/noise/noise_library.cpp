// SPDX-License-Identifier: MIT
#include "noise/noise_library.h"

namespace lx::noise {

EntryPoints& Entries() {
    static EntryPoints entries;
    return entries;
}

}  // namespace lx::noise
