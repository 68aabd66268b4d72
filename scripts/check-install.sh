#!/usr/bin/env bash
# Installs a configured build into a temporary prefix and uses it as the
# people who build on Lumarex do: the library has its SONAME and the noise
# library beside it, the command runs from the prefix and has its manual
# page, and two tiny programs, one found through the CMake package and one
# through pkg-config, correct the sample photo alike.
#   check-install.sh BUILD_DIR PHOTO.ppm
set -euo pipefail
# The arguments are taken from where the script is called.
build=$(realpath "$1")
photo=$(realpath "$2")
cd "$(dirname "$0")/.."
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix

cmake --install "$build" --prefix "$prefix" >/dev/null
fail() { echo "install: $*" >&2; exit 1; }

version=$(sed -n 's/^project(Lumarex VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
major=${version%%.*}
lib=$prefix/lib
[ -d "$lib" ] || lib=$(dirname "$(find "$prefix" -name "liblumarex.so.$version" | head -n 1)")
for f in "$lib/liblumarex.so.$version" "$lib/liblumarex.so" "$lib/libNoiseLib17.so" \
         "$lib/liblumarex_heap_host.a" "$lib/pkgconfig/lumarex.pc" \
         "$lib/cmake/Lumarex/LumarexConfig.cmake" "$lib/cmake/Lumarex/LumarexConfigVersion.cmake" \
         "$prefix/include/lumarex/lumarex.h" "$prefix/include/lumarex/host_sdk.h" \
         "$prefix/include/lumarex/heap_host.h" "$prefix/bin/lumarex" "$prefix/share/man/man1/lumarex.1"; do
  [ -e "$f" ] || fail "missing ${f#"$prefix"/}"
done
soname=$(objdump -p "$lib/liblumarex.so.$version" | awk '$1 == "SONAME" {print $2}')
[ "$soname" = "liblumarex.so.$major" ] || fail "SONAME is '$soname', not liblumarex.so.$major"
grep -q '^\.TH LUMAREX "\?1' "$prefix/share/man/man1/lumarex.1" || fail "the manual page has no .TH header"
grep -q 'black\\-clip' "$prefix/share/man/man1/lumarex.1" || fail "the manual page lacks the commands' options"
# The command finds its library in the prefix, not in the build tree.
out=$(env -u LD_LIBRARY_PATH "$prefix/bin/lumarex" --version) || fail "the installed command does not run"
grep -q "$version" <<<"$out" || fail "lumarex --version says '$out'"

# The CMake consumer, with the version the package must accept.
cmake -S tests/install -B "$work/cmake-consumer" -DCMAKE_PREFIX_PATH="$prefix" -DCMAKE_BUILD_TYPE=Release \
  -DCMAKE_BUILD_RPATH="$lib" >/dev/null
cmake --build "$work/cmake-consumer" >/dev/null
"$work/cmake-consumer/lumarex_consumer" "$photo" "$work/cmake.ppm" >"$work/cmake.txt" ||
  { cat "$work/cmake.txt"; fail "the CMake consumer failed"; }

# The pkg-config consumer: one compiler line.
flags=$(PKG_CONFIG_PATH="$lib/pkgconfig" pkg-config --cflags --libs lumarex)
# shellcheck disable=SC2086
cc -std=c11 -O2 -o "$work/pc-consumer" tests/install/consumer.c $flags -Wl,-rpath,"$lib"
"$work/pc-consumer" "$photo" "$work/pkg-config.ppm" >"$work/pkg-config.txt" ||
  { cat "$work/pkg-config.txt"; fail "the pkg-config consumer failed"; }

diff -u "$work/cmake.txt" "$work/pkg-config.txt" || fail "the two consumers report differently"
cmp "$work/cmake.ppm" "$work/pkg-config.ppm" || fail "the two consumers wrote different photos"
! cmp -s "$photo" "$work/cmake.ppm" || fail "the consumers left the photo as it was"
grep -qx "noise library: found" "$work/cmake.txt" || fail "the noise library was not found beside the library"
# And the photo is corrected exactly as by the library in the build tree.
if [ -x "$build/tests/windows/lumarex_consumer" ]; then
  "$build/tests/windows/lumarex_consumer" "$photo" "$work/tree.ppm" >/dev/null
  cmp "$work/tree.ppm" "$work/cmake.ppm" || fail "the installed library corrects differently from the build tree"
fi
# The Python module, when the build has it: imported from the prefix with
# Debian's interpreter, it and its reader program find the installed library
# and the noise library beside it.
if grep -q '^LUMAREX_PYTHON:BOOL=ON' "$build/CMakeCache.txt"; then
  site=$(sed -n 's/^LUMAREX_PYTHON_INSTALL_DIR:STRING=//p' "$build/CMakeCache.txt")
  [ -f "$prefix/$site/lumarex/__init__.py" ] || fail "missing $site/lumarex"
  [ -x "$prefix/$site/lumarex/lumarex-reader" ] || fail "missing $site/lumarex/lumarex-reader"
  env -u LD_LIBRARY_PATH PYTHONPATH="$prefix/$site" /usr/bin/python3 -c '
import sys, lumarex
assert lumarex.__file__.startswith(sys.argv[1]), lumarex.__file__
photo = lumarex.read_photo(sys.argv[2])  # by the installed lumarex-reader, or an error
assert lumarex.detect_noise(photo), "no noise library beside the installed library"
assert (lumarex.auto(photo) != photo).any()' "$prefix" "$photo" || fail "the installed Python module does not work"
fi
echo "install: library $soname, noise library, headers, command, manual page, CMake package, pkg-config file${site:+, Python module};"
echo "install: the CMake and pkg-config consumers correct the sample photo alike ($(sed -n 's/^corrected //p' "$work/cmake.txt"))"
