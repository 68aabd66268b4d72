#!/usr/bin/env bash
# Keeps Windows buildable: cross-compiles lumarex.dll and NoiseLib17.dll with
# MinGW-w64 and checks that the DLL exports exactly the interface's names.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LUMAREX_WINDOWS_BUILD_DIR:-build-windows}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLUMAREX_BUILD_TESTS=OFF -DLUMAREX_BUILD_BENCH=OFF -DLUMAREX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lumarex noiselib17
exports() {
  x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
    | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort
}
if ! diff <(exports "$build/lumarex.dll") <(sort src/api/exported_symbols.txt); then
  echo "windows: lumarex.dll exports differ from src/api/exported_symbols.txt" >&2
  exit 1
fi
test -f "$build/NoiseLib17.dll"
echo "windows: lumarex.dll and NoiseLib17.dll build; the export table holds exactly the 13 names"
