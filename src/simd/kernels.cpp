// SPDX-License-Identifier: MIT
#include "simd/kernels.h"

namespace lx::simd {
namespace {

#if defined(LUMAREX_SIMD)
bool g_reference = false;
#else
bool g_reference = true;
#endif

}  // namespace

bool ReferenceKernels() { return g_reference; }

void UseReferenceKernelsForTest(bool reference) {
#if defined(LUMAREX_SIMD)
    g_reference = reference;
#else
    (void)reference;  // a plain build has nothing else to run
#endif
}

}  // namespace lx::simd
