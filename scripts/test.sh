#!/usr/bin/env bash
# Installs what is needed, builds everything with AddressSanitizer and
# UndefinedBehaviorSanitizer, and runs every test.
set -euo pipefail
cd "$(dirname "$0")/.."
./scripts/setup.sh
build=${LUMAREX_TEST_BUILD_DIR:-build-test}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMAREX_SANITIZE=ON -DLUMAREX_BUILD_BENCH=OFF >/dev/null
cmake --build "$build" -j"$(nproc)"
ctest --test-dir "$build" -j"$(nproc)" --output-on-failure

# The golden checksums must hold in the optimised build as well.
release=${LUMAREX_RELEASE_TEST_BUILD_DIR:-build-release-test}
cmake -S . -B "$release" -DCMAKE_BUILD_TYPE=Release -DLUMAREX_BUILD_BENCH=OFF -DLUMAREX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$release" -j"$(nproc)" --target lumarex_tests
ctest --test-dir "$release" -j"$(nproc)" --output-on-failure -R '^Golden\.'

# The whole suite once more with the plain kernels only: same bytes, same checksums.
plain=${LUMAREX_PLAIN_TEST_BUILD_DIR:-build-plain-test}
cmake -S . -B "$plain" -DCMAKE_BUILD_TYPE=Release -DLUMAREX_PLAIN=ON -DLUMAREX_BUILD_BENCH=OFF >/dev/null
cmake --build "$plain" -j"$(nproc)"
ctest --test-dir "$plain" -j"$(nproc)" --output-on-failure

# Windows stays buildable.
./scripts/check-windows-build.sh
