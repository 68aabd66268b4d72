// SPDX-License-Identifier: MIT
// Which twin of every stage runs: the plain one, written for exactness and
// read as the reference, or the fast one, which gives the same bytes faster.
// The fast twins are the SIMD kernels (Highway, dynamic dispatch) and the
// faster algorithms beside them: the analysis's shared walks and the
// cheap-first maths of the table builders. Every fast twin has a test that
// compares it with its plain twin bit for bit, on every target the machine
// supports (docs/dev/adding-a-stage.md).
#pragma once

namespace lx::simd {

// True when every stage runs its plain twin, the reference: in a build
// without SIMD (LUMAREX_PLAIN or no Highway) and while a test or benchmark
// asks for it. False: the fast twins run.
bool ReferenceKernels();

// For tests and benchmarks only, never called by the library itself: runs
// the reference twins everywhere (true) or the fast ones again (false; a
// build without SIMD keeps the reference). Set it before any work starts; it
// is not meant to change under a running call.
void UseReferenceKernelsForTest(bool reference);

}  // namespace lx::simd
