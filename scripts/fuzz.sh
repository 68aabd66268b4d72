#!/usr/bin/env bash
# Builds the fuzz harnesses with clang (build folder build-fuzz) and runs each
# for a fixed time on top of its checked-in corpus and regression inputs.
#
#   scripts/fuzz.sh [-t SECONDS] [-b BUILD] [-n] [-s SEED] [HARNESS...]    (default: 8 s, all)
#
# -n runs a fixed number of inputs per harness (the table below, about 8 s
# each on two idle cores) instead of a time, from the checked-in inputs only,
# so that with -s a run follows the same course every time (up to coverage
# that varies with allocation addresses): the test command uses it.
# The checked-in folders are only read: new inputs go to BUILD/fuzz-corpus/NAME
# (BUILD/fuzz-corpus-fixed/NAME, emptied first, with -n).
# A finding stops its harness and leaves the input in BUILD/fuzz-findings/;
# the script then fails. Extra libFuzzer flags: LUMAREX_FUZZ_FLAGS="-jobs=2 ...".
# See docs/dev/fuzzing.md.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=8
build=build-fuzz
fixed=0
seed=()
while getopts "t:b:ns:" opt; do
  case $opt in
    t) seconds=$OPTARG ;;
    b) build=$OPTARG ;;
    n) fixed=1 ;;
    s) seed=(-seed="$OPTARG") ;;
    *) exit 2 ;;
  esac
done
# Inputs per harness with -n: the analysing harnesses run a few hundred
# inputs a second at most, the small exports hundreds of thousands.
declare -A fixed_runs=([blob]=20000 [analysis]=400 [apply]=400 [oneshot]=3000 [detect_noise]=50000
                       [image_file]=600 [preview_request]=50000 [colour_profile]=50000
                       [reader_answer]=50000 [xmp_text]=50000)
shift $((OPTIND - 1))
harnesses=("$@")
((${#harnesses[@]})) || harnesses=(blob analysis apply oneshot detect_noise image_file preview_request colour_profile
                                 reader_answer xmp_text)

# One vector target besides the portable one (every kernel is compared with
# its plain twin on every target by the test suite), and line tables rather
# than full debug information: reports still name file and line.
CC=clang CXX=clang++ cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DLUMAREX_FUZZ=ON \
  -DCMAKE_C_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O2 -gline-tables-only -DNDEBUG" \
  -DLUMAREX_SIMD_DISABLED_TARGETS="HWY_SSSE3|HWY_SSE4|HWY_AVX3|HWY_AVX3_DL" >/dev/null
cmake --build "$build" -j"$(nproc)" --target lumarex_fuzzers

# Runs one harness; its one-line result goes to $build/fuzz-NAME.result and
# the exit status says whether it found something.
run_harness() {
  local name=$1 work budget findings log inputs result
  work="$build/fuzz-corpus/$name"
  budget=(-max_total_time="$seconds")
  if ((fixed)); then
    work="$build/fuzz-corpus-fixed/$name"
    rm -rf "$work"
    # The time is only a guard against a machine far slower than expected.
    budget=(-runs="${fixed_runs[$name]}" -max_total_time=120)
  fi
  findings="$build/fuzz-findings"
  log="$build/fuzz-$name.log"
  result="$build/fuzz-$name.result"
  mkdir -p "$work" "$findings"
  inputs=("$work" "tests/fuzz/corpus/$name")
  [ -d "tests/fuzz/regressions/$name" ] && inputs+=("tests/fuzz/regressions/$name")
  # The image library's known leaks (tests/sanitizers/lsan.supp) are matched
  # by its name, which the fast unwinder does not reach from an allocation
  # in libstdc++ (built without frame pointers): the file harness unwinds
  # fully.
  local asan=""
  [ "$name" = image_file ] && asan="fast_unwind_on_malloc=0"
  # shellcheck disable=SC2086
  if LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp" ASAN_OPTIONS="$asan" \
     "$build/tests/fuzz/lumarex_fuzz_$name" "${budget[@]}" "${seed[@]}" -timeout=10 -rss_limit_mb=2048 \
       -print_final_stats=1 -dict=tests/fuzz/limits.dict -artifact_prefix="$findings/$name-" \
       ${LUMAREX_FUZZ_FLAGS:-} "${inputs[@]}" \
       >"$log" 2>&1; then
    # "#12345  DONE   cov: 209 ft: 435 corp: 65/1943b ..." -> runs, coverage, features, corpus
    summary=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 |
              sed -E 's/^#([0-9]+)[[:space:]]+DONE[[:space:]]+cov: ([0-9]+) ft: ([0-9]+) corp: ([0-9]+).*/\1 runs, cov \2, ft \3, corpus \4/' || true)
    echo "fuzz $name: ${summary:-no summary line, see $log}" >"$result"
  else
    { echo "fuzz $name: FINDING (log: $log, input in $findings/)"
      grep -E 'ERROR|SUMMARY|check failed|runtime error|Test unit written' "$log" | head -20; } >"$result"
    return 1
  fi
}

# The harnesses as many at a time as there are cores (each is one process
# on one core, so a fixed run's course does not change); the results in
# the order of the list.
for name in "${harnesses[@]}"; do
  [[ -v "fixed_runs[$name]" ]] || { echo "fuzz.sh: no harness called $name" >&2; exit 2; }
  rm -f "$build/fuzz-$name.result"
done
jobs=$(nproc)
status=0
running=0
for name in "${harnesses[@]}"; do
  if ((running >= jobs)); then
    wait -n || status=1
    running=$((running - 1))
  fi
  run_harness "$name" &
  running=$((running + 1))
done
while ((running > 0)); do
  wait -n || status=1
  running=$((running - 1))
done
for name in "${harnesses[@]}"; do cat "$build/fuzz-$name.result"; done
exit $status
