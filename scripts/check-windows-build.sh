#!/usr/bin/env bash
# Keeps Windows buildable: cross-compiles lumarex.dll, NoiseLib17.dll and the
# DLL test client with MinGW-w64, checks that lumarex.dll exports exactly the
# interface's names and that both DLLs import nothing but Windows' own DLLs
# (an editor ships no MinGW runtime).
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LUMAREX_WINDOWS_BUILD_DIR:-build-windows}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLUMAREX_BUILD_TESTS=ON -DLUMAREX_BUILD_BENCH=OFF -DLUMAREX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lumarex noiselib17 lumarex_dll_client noiselib17_incomplete
exports() {
  x86_64-w64-mingw32-objdump -p "$1" | sed -n '/\[Ordinal\/Name Pointer\] Table/,/^$/p' \
    | sed -n 's/^\s*\[ *[0-9]*\] //p' | sort
}
if ! diff <(exports "$build/lumarex.dll") <(sort src/api/exported_symbols.txt); then
  echo "windows: lumarex.dll exports differ from src/api/exported_symbols.txt" >&2
  exit 1
fi
# Windows' own DLLs: the kernel, the user interface (the module-start message
# box), the C runtime (msvcrt, or the UCRT through its api-ms-win-crt sets).
system_dll='^(kernel32|user32|msvcrt|ucrtbase|api-ms-win-crt-[a-z0-9-]+)\.dll$'
for dll in "$build/lumarex.dll" "$build/NoiseLib17.dll"; do
  imports=$(x86_64-w64-mingw32-objdump -p "$dll" | sed -n 's/^\s*DLL Name: //p' | tr 'A-Z' 'a-z' | sort -u)
  foreign=$(grep -Ev "$system_dll" <<<"$imports" || true)
  if [ -n "$foreign" ]; then
    echo "windows: $(basename "$dll") imports DLLs that Windows does not ship:" $foreign >&2
    exit 1
  fi
  echo "windows: $(basename "$dll") imports only" $imports
done
echo "windows: lumarex.dll and NoiseLib17.dll build; the export table holds exactly the 13 names"
