#!/usr/bin/env bash
# Plants each bug of mutants.txt in turn in a copy of the sources, rebuilds
# incrementally, runs the suite and prints which tests failed; a bug no test
# notices shows as "missed". Usage: tests/mutation/run.sh SRC BUILD [CTEST ARGS]
# SRC is a throwaway copy (git archive HEAD | tar -x -C SRC) configured into
# BUILD; each file is restored before the next bug.
set -uo pipefail
src=$(realpath "$1") build=$(realpath "$2"); shift 2
list=$(dirname "$(realpath "$0")")/mutants.txt
i=0
grep -v '^#' "$list" | while IFS='|' read -r file edit; do
  i=$((i + 1)) file=$(echo $file) edit=${edit# }
  cp "$src/$file" /tmp/lx-mutant.orig
  perl -i -pe "if (!\$done && ($edit)) { \$done = 1 }" "$src/$file"
  if cmp -s "$src/$file" /tmp/lx-mutant.orig; then echo "$i $file: NOT APPLIED"; continue; fi
  start=$SECONDS
  if ! nice cmake --build "$build" -j2 >/tmp/lx-mutant.build 2>&1; then
    result="build failed"
  else
    rm -f "$build/Testing/Temporary/LastTestsFailed.log"
    nice ctest --test-dir "$build" -j2 --timeout 120 "$@" >/tmp/lx-mutant.ctest 2>&1
    result=$(cut -d: -f2 "$build/Testing/Temporary/LastTestsFailed.log" 2>/dev/null | tr '\n' ' ')
  fi
  cp /tmp/lx-mutant.orig "$src/$file"
  echo "$i $file ($((SECONDS - start)) s): ${result:-missed}"
done
nice cmake --build "$build" -j2 >/dev/null 2>&1
