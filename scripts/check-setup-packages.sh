#!/usr/bin/env bash
# Checks that scripts/setup.sh installs everything the builds use, so that
# the README's commands work on a fresh Debian machine and not only on one
# that happens to have more installed:
#   - every file a configured build read (CMake package files), every file
#     those package files import (libraries, programs), every compiler,
#     library and program the configure found, every system header a built
#     build's compiler read, and every program the scripts run must exist,
#   - and belong to a package of setup's list, to one of their dependencies,
#     or to Debian's essential set.
#   check-setup-packages.sh BUILD_DIR...
#   check-setup-packages.sh --demo BUILD_DIR [--headers-from BUILT_DIR]
#       a build configured (not built) as demo.sh does, against setup
#       --demo's list; the headers its targets read are taken from the same
#       targets of BUILT_DIR, a build of the same sources that was built
set -euo pipefail
cd "$(dirname "$0")/.."
demo=0
headersFrom=""
[ "${1:-}" = --demo ] && demo=1 && shift
if ((demo)) && [ "${2:-}" = --headers-from ]; then
  headersFrom=$3
  set -- "$1"
fi

# setup's lists, as written between "NAME=(" and ")".
list() { sed -n "/^$1=(/,/^)/p" scripts/setup.sh | sed '1d;$d' | tr -s ' \t' '\n' | sed '/^$/d'; }
wanted=$(list demo_packages)
((demo)) || wanted="$wanted $(list test_packages)"

# What setup's packages bring: their dependency closure over the installed
# packages (alternatives count when installed; virtual packages through the
# installed packages that provide them), plus what a fresh machine has
# besides: Debian's essential set, apt and git.
declare -A allowed
while read -r p; do allowed[$p]=1; done < <(
  dpkg-query -W -f='${Package}\t${Essential}\t${Depends}, ${Pre-Depends}\t${Provides}\n' |
  awk -F'\t' -v wanted="$wanted apt git" '
    function bare(s) { gsub(/\([^)]*\)|\[[^]]*\]| /, "", s); sub(/:.*/, "", s); return s }
    {
      deps[$1] = $3
      if ($2 == "yes") queue[++n] = $1
      np = split($4, prov, ",")
      for (i = 1; i <= np; ++i) { v = bare(prov[i]); if (v != "") providers[v] = providers[v] " " $1 }
    }
    END {
      nw = split(wanted, w, /[ \n]+/)
      for (i = 1; i <= nw; ++i) if (w[i] != "") queue[++n] = w[i]
      while (n > 0) {
        p = queue[n--]
        if (p in seen) continue
        seen[p] = 1
        print p
        if (!(p in deps)) {
          m = split(providers[p], pp, " ")
          for (i = 1; i <= m; ++i) queue[++n] = pp[i]
          continue
        }
        m = split(deps[p], alts, /[,|]/)
        for (i = 1; i <= m; ++i) { d = bare(alts[i]); if (d != "") queue[++n] = d }
      }
    }')

# The files.
files=()
for build in "$@"; do
  [ -f "$build/CMakeCache.txt" ] || { echo "check-setup-packages: $build is not a configured build" >&2; exit 2; }
  while read -r f; do files+=("$f"); done < <(
    # CMake files the configure read, outside the project.
    sed -n 's/^ *"\(\/[^"]*\)"$/\1/p' "$build/CMakeFiles/Makefile.cmake" | grep -v "^$PWD/" || true
    # What the package files among them import.
    sed -n 's/^ *"\(\/[^"]*\)"$/\1/p' "$build/CMakeFiles/Makefile.cmake" | grep -E '/usr/(lib|share)/.*/cmake/' \
      | xargs -r sed -n 's/.*IMPORTED_LOCATION[A-Z_]* "\([^"]*\)".*/\1/p' | sed 's|\${_IMPORT_PREFIX}|/usr|' || true
    # Compilers, libraries and programs the configure found.
    grep -E '^[A-Za-z0-9_]+:FILEPATH=/' "$build/CMakeCache.txt" | cut -d= -f2- | grep -v "^$PWD/" || true
  )
done
# The system headers the compilers read, from the dependency files of the
# objects under the given folders.
headers() {
  find "$@" -name '*.o.d' -print0 2>/dev/null | xargs -0 -r cat | tr ' \\' '\n\n' | grep '^/usr/' | sort -u || true
}
if [ -n "$headersFrom" ]; then
  # The demo build's targets, as folders of the built build.
  from=$(realpath "$headersFrom")
  demoDir=$(realpath "$1")
  targets=()
  while read -r t; do
    [ -d "$from${t#"$demoDir"}" ] && targets+=("$from${t#"$demoDir"}")
  done <"$1/CMakeFiles/TargetDirectories.txt"
  ((${#targets[@]})) || { echo "check-setup-packages: $headersFrom has none of $1's targets" >&2; exit 2; }
  while read -r f; do files+=("$f"); done < <(headers "${targets[@]}")
else
  while read -r f; do files+=("$f"); done < <(headers "$@")
fi
# The Python packages a build with the Python module imports in its tests.
for build in "$@"; do
  grep -q '^LUMAREX_PYTHON:BOOL=ON' "$build/CMakeCache.txt" || continue
  while read -r f; do files+=("$f"); done < <(/usr/bin/python3 -c '
import dask, distributed, numpy, OpenImageIO, pybind11, pytest
for m in (dask, distributed, numpy, OpenImageIO, pybind11, pytest): print(m.__file__)')
  break
done
# Those the GIMP plug-in's tests import.
for build in "$@"; do
  grep -q '^LUMAREX_GIMP:BOOL=ON' "$build/CMakeCache.txt" || continue
  while read -r f; do files+=("$f"); done < <(/usr/bin/python3 -c '
import numpy, OpenImageIO
for m in (numpy, OpenImageIO): print(m.__file__)')
  break
done
programs=(cmake c++ cc pkg-config)
((demo)) || programs+=(ctest nm git x86_64-w64-mingw32-g++-posix x86_64-w64-mingw32-objdump
                       /usr/lib/wine/wine64 /usr/lib/wine/wineserver diff timeout realpath)
for prog in "${programs[@]}"; do
  if path=$(command -v "$prog"); then files+=("$path"); else files+=("/usr/bin/$prog"); fi
done

# Owners, asked of dpkg in one go; a path may be recorded with or without
# /usr (merged /usr) and before or after its links are resolved.
declare -A seen owners
candidates() { printf '%s\n' "$1" "$(realpath "$1")" | sed 'p; s|^/usr||' | sort -u; }
for f in "${files[@]}"; do [ -e "$f" ] && candidates "$f"; done | sort -u >"${TMPDIR:-/tmp}/lx-paths.$$"
while IFS= read -r line; do
  owners[${line#*: }]=${line%%: *}
done < <(xargs -r -d '\n' dpkg-query -S <"${TMPDIR:-/tmp}/lx-paths.$$" 2>/dev/null | grep -v '^diversion')
rm -f "${TMPDIR:-/tmp}/lx-paths.$$"

failed=0
for f in "${files[@]}"; do
  [[ -n ${seen[$f]:-} ]] && continue
  seen[$f]=1
  if [ ! -e "$f" ]; then
    echo "check-setup-packages: $f is used by the build but not installed" >&2
    failed=1
    continue
  fi
  owner=""
  while read -r c; do [ -n "${owners[$c]:-}" ] && owner=${owners[$c]} && break; done < <(candidates "$f")
  if [ -z "$owner" ]; then
    echo "check-setup-packages: $f belongs to no Debian package" >&2
    failed=1
    continue
  fi
  found=0
  for o in ${owner//,/ }; do [[ -n ${allowed[${o%%:*}]:-} ]] && found=1; done
  if ((!found)); then
    echo "check-setup-packages: $f comes from $owner, which scripts/setup.sh does not install" >&2
    failed=1
  fi
done
((failed)) && exit 1
echo "check-setup-packages: the ${#seen[@]} files and programs the builds use all come from setup's packages"
