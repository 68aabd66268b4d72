// SPDX-License-Identifier: MIT
#include "simd/kernels.h"

namespace lx::simd {
namespace {

#if defined(LUMAREX_SIMD)
bool g_fast = true;
#else
bool g_fast = false;
#endif

}  // namespace

bool FastKernels() { return g_fast; }

void UseFastKernelsForTest(bool fast) {
#if defined(LUMAREX_SIMD)
    g_fast = fast;
#else
    (void)fast;  // a plain build has nothing else to run
#endif
}

}  // namespace lx::simd
