#!/usr/bin/env bash
# Keeps Windows buildable: cross-compiles lumarex.dll, NoiseLib17.dll and the
# DLL test client with MinGW-w64, checks that lumarex.dll exports exactly the
# interface's names and that both DLLs import nothing but Windows' own DLLs
# (an editor ships no MinGW runtime); packs the SDK folder (zip) and checks
# its contents and its import library.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${LUMAREX_WINDOWS_BUILD_DIR:-build-windows}
cmake -S . -B "$build" -DCMAKE_TOOLCHAIN_FILE=cmake/mingw-w64.cmake -DCMAKE_BUILD_TYPE=Release \
  -DLUMAREX_BUILD_TESTS=ON -DLUMAREX_BUILD_BENCH=OFF -DLUMAREX_BUILD_TOOLS=OFF >/dev/null
cmake --build "$build" -j"$(nproc)" --target lumarex noiselib17 lumarex_dll_client noiselib17_incomplete \
  lumarex_sdk lumarex_sdk_consumer
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

# The SDK zip: exactly these files, the DLLs those just checked, and an import
# library that resolves every name of the header onto the DLL's export.
version=$(sed -n 's/^project(Lumarex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
sdk=lumarex-$version-win64
zip="$build/$sdk.zip"
expected="$sdk/NoiseLib17.dll
$sdk/README-windows.txt
$sdk/include/lumarex/host_sdk.h
$sdk/include/lumarex/lumarex.h
$sdk/lumarex.def
$sdk/lumarex.dll
$sdk/lumarex.lib"
listing=$(cd "$build" && cmake -E tar tf "$sdk.zip" | grep -v '/$' | LC_ALL=C sort)
if [ "$listing" != "$expected" ]; then
  echo "windows: $sdk.zip holds" $listing "instead of" $expected >&2
  exit 1
fi
unpacked=$(mktemp -d)
trap 'rm -rf "$unpacked"' EXIT
(zip=$(realpath "$zip") && cd "$unpacked" && cmake -E tar xf "$zip")
cmp "$unpacked/$sdk/lumarex.dll" "$build/lumarex.dll"
cmp "$unpacked/$sdk/NoiseLib17.dll" "$build/NoiseLib17.dll"
cmp "$unpacked/$sdk/include/lumarex/lumarex.h" include/lumarex/lumarex.h
# Each name the header declares is imported as __imp_NAME and reaches the DLL
# under its export name (with or without the underscore).
declared=$(sed -n 's/^LX_API [^(]*[ *]\([A-Za-z0-9]*\)(.*/\1/p' include/lumarex/lumarex.h | sort)
imported=$(x86_64-w64-mingw32-nm "$unpacked/$sdk/lumarex.lib" | sed -n 's/.* I __imp_\(.*\)/\1/p' | sort -u)
if [ "$declared" != "$imported" ] || [ "$(wc -l <<<"$declared")" -ne 13 ]; then
  echo "windows: lumarex.lib imports" $imported "but the header declares" $declared >&2
  exit 1
fi
mapped=$(x86_64-w64-mingw32-objdump -p "$build/lumarex_sdk_consumer.exe" |
  sed -n '/DLL Name: lumarex.dll/,/DLL Name:/p' | awk 'NF == 3 && $2 ~ /^[0-9]+$/ {print $3}' | sort)
if ! grep -qx _SetFilterRecord <<<"$mapped" || ! grep -qx GetLibraryVersion <<<"$mapped"; then
  echo "windows: a program linked with lumarex.lib imports" $mapped "from lumarex.dll" >&2
  exit 1
fi
echo "windows: $sdk.zip holds the DLLs, the headers, lumarex.def, an import library for all 13 names and README-windows.txt"
