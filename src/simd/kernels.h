// SPDX-License-Identifier: MIT
// Which kernels run: the plain ones, written for exactness and read as the
// reference, or the SIMD ones (Highway, dynamic dispatch), which give the
// same bytes faster. Every fast kernel has a plain twin and a test that
// compares the two bit for bit on every target the machine supports.
#pragma once

namespace lx::simd {

// True when this build has SIMD kernels (Highway, not LUMAREX_PLAIN) and
// they are not switched off for a comparison.
bool FastKernels();

// For tests and benchmarks only, never called by the library itself: runs
// the plain kernels everywhere (false) or the fast ones again (true). Set it
// before any work starts; it is not meant to change under a running call.
void UseFastKernelsForTest(bool fast);

}  // namespace lx::simd
