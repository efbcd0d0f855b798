#!/bin/bash
# Builds the fuzz targets (clang, libFuzzer, address and undefined-behaviour
# sanitizers) and runs each one for a bounded time, starting from the seed
# inputs in fuzz/corpus/<target>/; then, for the same time, whole seeded
# programming runs against a simulated unit with spoiled replies (hostrun).
#
#   scripts/fuzz.sh [SECONDS]     seconds per target (default 30, or $FUZZ_SECONDS)
#   FUZZ_TARGETS="hex identity"   run only these targets
#   FUZZ_BUILD_DIR=dir            build tree (default build-fuzz)
#   FUZZ_FIRST_SEED=N             first seed of the host runs (default 1)
#
# The inputs a run finds worth keeping go to <build>/fuzz-corpus/<target>/
# (the committed seeds are never changed); an input that breaks a property
# or trips a sanitizer is saved under <build>/fuzz-findings/. Ends with
# status 1 when any target has a finding.
set -euo pipefail
cd "$(dirname "$0")/.."

SECONDS_EACH="${1:-${FUZZ_SECONDS:-30}}"
BUILD="${FUZZ_BUILD_DIR:-build-fuzz}"
TARGETS="${FUZZ_TARGETS:-hex identity record settings hostrun}"
JOBS="${JOBS:-2}"
[ "$JOBS" -gt 2 ] && JOBS=2

CC=clang CXX=clang++ cmake -S . -B "$BUILD" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMORVEX_FUZZ=ON \
  -DMORVEX_BUILD_APP=OFF -DMORVEX_BUILD_TESTS=OFF -DMORVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" -j"$JOBS" --target morvex_fuzzers

# Record inputs may be as long as the record itself; the others are short texts.
max_len() {
  case "$1" in
    record) echo 131120 ;;
    *) echo 4096 ;;
  esac
}

export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
failed=0
summary=""
for target in $TARGETS; do
  if [ "$target" = hostrun ]; then
    log="$BUILD/fuzz-hostrun.log"
    status=0
    "$BUILD/fuzz/fuzz_hostrun" --first-seed "${FUZZ_FIRST_SEED:-1}" --runs 1000000 --seconds "$SECONDS_EACH" \
      >"$log" 2>&1 || status=$?
    cat "$log"
    runs=$(sed -n 's/^runs: \([0-9]*\).*/\1/p' "$log")
    found=$(sed -n 's/.*findings: \([0-9]*\).*/\1/p' "$log")
    [ "$status" -ne 0 ] && failed=1 && echo "== fuzz_hostrun: FAILED (status $status)"
    line=$(printf '%-16s %12s runs        %3s findings  %s s' "fuzz_hostrun" "${runs:-?}" "${found:-?}" "$SECONDS_EACH")
    echo "$line"
    summary="$summary$line
"
    continue
  fi
  corpus="$BUILD/fuzz-corpus/$target"
  findings="$BUILD/fuzz-findings"
  log="$BUILD/fuzz-$target.log"
  mkdir -p "$corpus" "$findings"
  stamp="$BUILD/fuzz-$target.started"
  touch "$stamp"
  status=0
  "$BUILD/fuzz/fuzz_$target" -max_total_time="$SECONDS_EACH" -timeout=10 -max_len="$(max_len "$target")" \
    -print_final_stats=1 -artifact_prefix="$findings/$target-" "$corpus" "fuzz/corpus/$target" \
    >"$log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
  found=$(find "$findings" -name "$target-*" -type f -newer "$stamp" | wc -l)
  if [ "$status" -ne 0 ]; then
    failed=1
    echo "== fuzz_$target: FAILED (status $status); the log follows"
    tail -n 40 "$log"
  fi
  line=$(printf '%-16s %12s executions  %3s findings  %s s' "fuzz_$target" "${runs:-?}" "$found" "$SECONDS_EACH")
  echo "$line"
  summary="$summary$line
"
done
printf '\nFuzz summary:\n%s' "$summary"
exit "$failed"
