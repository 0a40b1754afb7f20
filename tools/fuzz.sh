#!/usr/bin/env bash
# Builds the pure text code natively with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every libFuzzer target of tests/fuzz, two at a time (one per core).
# Usage: tools/fuzz.sh [seconds-per-target]
#
# Without an argument each target runs until it has executed 10 million inputs (the project's
# aim per target; MVU_FUZZ_RUNS sets another count), capped at an hour; with one, each target
# runs for that many seconds. Either way the executions per target are printed, and a default
# run that ends below its count (the cap reached) fails.
#
# Each target first replays its committed seeds (tests/fuzz/corpus/<target>/), then fuzzes a
# copy of them, so the committed corpus never changes by itself. A finding (crash, sanitizer
# report, broken check, time-out) is kept under <build>/findings/<target>/ and makes the exit
# code non-zero. The build directory is build/native-fuzz, or MVU_FUZZ_BUILD_DIR.
# Needs no network once the packages are installed (tools/install-deps.sh has them).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

seconds="${1:-}"
runs="${MVU_FUZZ_RUNS:-10000000}"
if [ -n "$seconds" ]; then
  if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
    echo "usage: tools/fuzz.sh [seconds-per-target]" >&2
    exit 2
  fi
  budget=(-max_total_time="$seconds")
  goal="$seconds s per target"
else
  if ! [[ "$runs" =~ ^[0-9]+$ ]] || [ "$runs" -lt 1 ]; then
    echo "fuzz: MVU_FUZZ_RUNS must be a positive count" >&2
    exit 2
  fi
  budget=(-runs="$runs" -max_total_time=3600)
  goal="$runs executions per target"
fi
build="$(realpath -m "${MVU_FUZZ_BUILD_DIR:-build/native-fuzz}")"

# clang, its sanitizer and fuzzer runtimes and llvm come with the project's other packages.
tools/install-deps.sh

mkdir -p "$build"
cmake -S tests/fuzz -B "$build" -G Ninja -DCMAKE_CXX_COMPILER=clang++ >"$build/configure.log" 2>&1 || {
  cat "$build/configure.log" >&2
  exit 1
}
cmake --build "$build" -j2

export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:strict_string_checks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
# Symbolised stacks in the reports.
if command -v llvm-symbolizer >/dev/null; then
  export ASAN_SYMBOLIZER_PATH="$(command -v llvm-symbolizer)"
fi

# The version answer may be as long as the program accepts; the others stay small.
max_len_for() {
  case "$1" in
    fuzz_version_answer) echo 102399 ;;
    *) echo 4096 ;;
  esac
}

# Fuzzes one target; its verdict goes to <work>/<target>.verdict as "ok|fail: summary line".
fuzz_target() {
  local target="$1"
  local seeds="tests/fuzz/corpus/$target"
  local findings="$build/findings/$target"
  local corpus="$build/work/$target"
  local log="$build/work/$target.log"
  local verdict="$build/work/$target.verdict"
  mkdir -p "$findings" "$corpus"
  local dict=()
  [ -f "tests/fuzz/dict/$target.dict" ] && dict=(-dict="$root/tests/fuzz/dict/$target.dict")
  local common=(-artifact_prefix="$findings/" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len_for "$target")")

  echo "=== $target: replaying $(find "$seeds" -type f | wc -l) seeds"
  if ! "$build/$target" "${common[@]}" "$seeds"/* >"$build/work/$target.replay.log" 2>&1; then
    tail -n 40 "$build/work/$target.replay.log" >&2
    echo "=== $target: FINDING while replaying the seeds" >&2
    echo "fail: $target: seed replay failed" >"$verdict"
    return
  fi

  cp "$seeds"/* "$corpus"/
  echo "=== $target: fuzzing ($goal)"
  local rc=0
  "$build/$target" "${common[@]}" "${dict[@]}" "${budget[@]}" -print_final_stats=1 \
    "$corpus" >"$log" 2>&1 || rc=$?
  local execs
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  [ -n "$execs" ] || execs="$(grep -o '#[0-9]*' "$log" | tail -n 1 | tr -d '#')"
  local units found
  units="$(find "$corpus" -type f | wc -l)"
  found="$(find "$findings" -type f | wc -l)"
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    tail -n 60 "$log" >&2
    echo "=== $target: FINDING (exit $rc), inputs kept in $findings" >&2
    echo "fail: $target: ${execs:-?} executions, FINDING: $(ls "$findings" | tr '\n' ' ')" >"$verdict"
  elif [ -z "$seconds" ] && [ "${execs:-0}" -lt "$runs" ]; then
    echo "fail: $target: ${execs:-?} executions, below $runs within the hour" >"$verdict"
  else
    echo "ok: $target: ${execs:-?} executions, corpus $units inputs, no finding" >"$verdict"
  fi
}

rm -rf "$build/findings" "$build/work"
mkdir -p "$build/work"
mapfile -t targets < <(grep -v '^$' "$build/fuzz-targets.txt")
running=0
for target in "${targets[@]}"; do
  if [ "$running" -ge 2 ]; then
    wait -n || true
    running=$((running - 1))
  fi
  fuzz_target "$target" &
  running=$((running + 1))
done
wait

echo
echo "fuzz summary ($goal):"
status=0
for target in "${targets[@]}"; do
  line="$(cat "$build/work/$target.verdict" 2>/dev/null || echo "fail: $target: no verdict")"
  echo "  ${line#*: }"
  [ "${line%%:*}" = ok ] || status=1
done
exit "$status"
