#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer and runs every test (the fuzz corpora and
# regression inputs included); then the optimised build's checks: golden
# checksums, the maths checks, the Windows build run under Wine against the
# Linux build, the installed library.
#
# LUMAREX_FULL_CHECKS=1 ./scripts/test.sh adds what takes minutes more: the
# maths checks on every argument instead of a regular sample and its hard
# cases, and each fuzzer, built with clang, for a fixed number of new inputs.
# Run it when the maths, a fast path, the file reading or a fuzz harness
# changes (docs/dev/testing.md).
set -euo pipefail
cd "$(dirname "$0")/.."
# Each step's name and the time taken so far, to see where the time goes.
stage() { printf '\n== %s (at %d min %02d s)\n' "$1" $((SECONDS / 60)) $((SECONDS % 60)); }
stage "setup"
./scripts/setup.sh
stage "sanitizer build and suite"
build=${LUMAREX_TEST_BUILD_DIR:-build-test}
# Line tables only (-g1): the sanitizers' reports keep their files and lines,
# and the build takes a quarter less time than with full debug information.
# The tests and the command at -O0, the library at -O2. The SIMD kernels are
# compared with their plain twins on every target this processor runs; on
# one without AVX-512 the AVX-512 targets could not run, so this build does
# not compile them (the optimised build below compiles every target).
disabled="HWY_SSSE3"
grep -qw avx512f /proc/cpuinfo || disabled="HWY_SSSE3|HWY_AVX3|HWY_AVX3_DL"
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMAREX_SANITIZE=ON -DLUMAREX_BUILD_BENCH=OFF \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -g1 -DNDEBUG" \
  -DLUMAREX_TOOLS_TESTS_OPT=-O0 -DLUMAREX_SIMD_DISABLED_TARGETS="$disabled" >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure

# Windows: lumarex.dll, NoiseLib17.dll and the DLL client, cross-built; export
# and import tables checked.
stage "Windows build"
export LUMAREX_WINDOWS_BUILD_DIR=${LUMAREX_WINDOWS_BUILD_DIR:-build-windows}
./scripts/check-windows-build.sh

# The optimised build: the golden checksums hold there as well, the maths
# functions round correctly on the arguments the library can pass them (a
# sample and the hard cases; every one in the full mode), the
# library builds against other SDK headers, and the Windows build prints the
# same checksums under Wine as the Linux build; the preview page works in a
# headless Chromium; the GIMP plug-in gives the command's pixels in a
# headless GIMP.
stage "optimised build"
release=${LUMAREX_RELEASE_TEST_BUILD_DIR:-build-release-test}
cmake -S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DLUMAREX_BUILD_BENCH=OFF -DLUMAREX_BUILD_TOOLS=ON \
  -DLUMAREX_BROWSER_TESTS=ON -DLUMAREX_WINDOWS_BUILD_DIR="$(realpath "$LUMAREX_WINDOWS_BUILD_DIR")" >/dev/null
cmake --build "$release" -j"$(nproc)" --target lumarex_golden_tests lumarex_math_exhaustive lumarex_dll_client \
  lumarex_sample_to_ppm lumarex_consumer lumarex_heap_host noiselib17 lumarex_cli lumarex_manpage lumarex_python lumarex_gimp
ctest --test-dir "$release" -j"$(nproc)" --output-on-failure -R '^(Golden\.|math\.|windows\.|host\.|preview\.|python\.|gimp\.)'

# The optimised build installed into a temporary prefix and used from there
# through its CMake package and its pkg-config file.
stage "install"
./scripts/check-install.sh "$release" "$release/tests/windows/backlit_room.ppm"

# The library's suite once more with the plain kernels only: same bytes, same
# checksums, the same export table. It links with link-time optimisation,
# which fails on a type defined twice with different members (LUMAREX_ODR_CHECK). The command, the preview and the Python
# module sit on the library's exports and are tested with it above; the
# fuzz replays and the Windows and maths checks have run above too. None of
# them is built here.
stage "plain build and suite"
plain=${LUMAREX_PLAIN_TEST_BUILD_DIR:-build-plain-test}
cmake -S . -B "$plain" -DCMAKE_BUILD_TYPE=Release -DLUMAREX_PLAIN=ON -DLUMAREX_BUILD_BENCH=OFF \
  -DLUMAREX_BUILD_TOOLS=OFF -DLUMAREX_TOOLS_TESTS_OPT=-O0 -DLUMAREX_ODR_CHECK=ON >/dev/null
cmake --build "$plain" -j"$(nproc)" --target lumarex_tests lumarex_golden_tests lumarex lumarex_fp_check noiselib17 \
  noiselib17_incomplete
ctest --test-dir "$plain" -j"$(nproc)" --output-on-failure -E '^(math\.|windows\.|host\.real|fuzz\.)'

# Full mode: every fuzz harness for a fixed number of inputs from a fixed
# seed on top of its corpus and regression inputs, built with clang (the
# build is most of its six minutes).
builds=("$build" "$release" "$LUMAREX_WINDOWS_BUILD_DIR")
if [ "${LUMAREX_FULL_CHECKS:-}" = 1 ]; then
  stage "fuzzers"
  fuzz=${LUMAREX_FUZZ_BUILD_DIR:-build-fuzz}
  ./scripts/fuzz.sh -b "$fuzz" -n -s 1
  builds+=("$fuzz")
fi

# Everything these builds used comes from the packages setup installs, so
# the same commands work on a fresh machine.
stage "packages"
./scripts/check-setup-packages.sh "${builds[@]}"
# The demo installs less: a build configured as scripts/demo.sh does uses
# only what `setup.sh --demo` installs, headers included (read from the
# same targets of the sanitizer build, which built them all).
demo=${LUMAREX_DEMO_CHECK_BUILD_DIR:-build-demo-check}
cmake -S . -B "$demo" -DCMAKE_BUILD_TYPE=Release -DLUMAREX_BUILD_TESTS=OFF -DLUMAREX_BUILD_BENCH=OFF \
  -DLUMAREX_PYTHON=OFF -DLUMAREX_MANPAGE=OFF -DLUMAREX_GIMP=OFF >/dev/null
./scripts/check-setup-packages.sh --demo "$demo" --headers-from "$build"
stage "done"
