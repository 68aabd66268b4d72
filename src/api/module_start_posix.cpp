// SPDX-License-Identifier: MIT
// Module start on ELF platforms: a constructor that runs when the shared
// library is loaded, before dlopen returns. It binds the noise library and
// does nothing else.
#ifndef _WIN32

#include "noise/noise_binding.h"

namespace {

__attribute__((constructor)) void LumarexModuleStart() { lx::noise::BindNoiseLibrary(); }

}  // namespace

#endif  // _WIN32
