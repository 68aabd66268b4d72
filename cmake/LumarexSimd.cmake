# SPDX-License-Identifier: MIT
# The SIMD kernels: Highway with dynamic dispatch, one binary for SSE4, AVX2
# and AVX-512. LUMAREX_PLAIN builds only the plain kernels, which give the
# same bytes; so does a build without Highway (the Windows cross-build:
# Debian carries no MinGW Highway).
option(LUMAREX_PLAIN "Build only the plain (non-SIMD) kernels" OFF)
set(LUMAREX_SIMD OFF)
if(NOT LUMAREX_PLAIN AND NOT WIN32)
  find_package(hwy CONFIG QUIET)
  if(TARGET hwy::hwy)
    set(LUMAREX_SIMD ON)
  else()
    message(STATUS "Highway not found: building the plain kernels only")
  endif()
endif()

# Highway targets left out of the dispatch table. SSSE3 has no instruction the
# kernels need that SSE4 lacks, and the few processors with SSSE3 but without
# SSE4 run the portable target instead: one compile fewer per SIMD file. The
# fuzzing build narrows the list further (scripts/fuzz.sh): it only has to
# exercise one vector target.
set(LUMAREX_SIMD_DISABLED_TARGETS "HWY_SSSE3" CACHE STRING
  "Highway targets not compiled, as a HWY_DISABLED_TARGETS expression; empty: every target")
