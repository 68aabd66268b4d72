#!/usr/bin/env bash
# Plants each bug of mutants.txt in turn in a throwaway copy of the sources
# (git archive HEAD | tar -x -C SRC, configured into BUILD: Release, tools
# on), rebuilds, runs the tests that can see it (a library bug: unit, golden,
# command and fuzz-replay tests; a command or preview bug: the command's and
# the Python ones; a module bug: the Python ones; never the maths or Windows
# checks) and prints those that failed ("missed": none). Each file is
# restored before the next bug. Usage: tests/mutation/run.sh SRC BUILD
set -uo pipefail
src=$(realpath "$1") build=$(realpath "$2")
list=${MUTANTS:-$(dirname "$(realpath "$0")")/mutants.txt}
log=$(mktemp -d)
gtest() {  # binary [shard]: failed test names, or the binary's name if it died
  local out=$log/$(basename "$1")${2:-}
  [ -n "${2:-}" ] && export GTEST_TOTAL_SHARDS=2 GTEST_SHARD_INDEX=$2
  timeout 900 nice "$build/$1" --gtest_brief=1 >"$out" 2>&1 ||
    grep -q '^\[  FAILED  \] [A-Za-z]' "$out" || echo "[  FAILED  ] $(basename "$1")(died)" >>"$out"
}
tests() {  # ctest names matching a pattern
  rm -f "$build/Testing/Temporary/LastTestsFailed.log"
  nice ctest --test-dir "$build" -j2 --timeout 300 -R "$1" >/dev/null 2>&1
  sed 's/^[0-9]*:/[  FAILED  ] /' "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null >"$log/ctest"
}
i=0
grep -v '^#' "$list" | while IFS='|' read -r file edit; do
  i=$((i + 1)) file=$(echo $file) edit=${edit# }
  cp "$src/$file" "$log/orig"
  perl -i -pe "if (!\$done && ($edit)) { \$done = 1 }" "$src/$file"
  if cmp -s "$src/$file" "$log/orig"; then echo "$i $file: NOT APPLIED"; continue; fi
  start=$SECONDS
  rm -f "$log"/lumarex* "$log/ctest"
  if ! nice cmake --build "$build" -j2 >"$log/build" 2>&1; then
    result="(build failed)"
  else
    case $file in
      src/*) gtest tests/lumarex_tests & gtest tests/tools/lumarex_cli_tests 0 & gtest tests/tools/lumarex_cli_tests 1 &
             wait; gtest tests/lumarex_golden_tests; tests '^(fuzz|abi|noise|cubegen)\.' ;;
      tools/*) gtest tests/tools/lumarex_cli_tests 0 & gtest tests/tools/lumarex_cli_tests 1 & wait; tests '^python\.' ;;
      *) tests '^python\.' ;;
    esac
    result=$(cat "$log"/lumarex* "$log/ctest" 2>/dev/null | grep -oE '^\[  FAILED  \] [A-Za-z][^ ,]*' | cut -c14- | sort -u | tr '\n' ' ')
  fi
  cp "$log/orig" "$src/$file"
  echo "$i $file ($((SECONDS - start)) s): ${result:-missed}"
done
nice cmake --build "$build" -j2 >/dev/null 2>&1
