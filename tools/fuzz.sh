#!/usr/bin/env bash
# Builds the pure text code natively with AddressSanitizer and UndefinedBehaviorSanitizer and
# runs every libFuzzer target of tests/fuzz for the given time.
# Usage: tools/fuzz.sh [seconds-per-target]   (default 300)
#
# Each target first replays its committed seeds (tests/fuzz/corpus/<target>/), then fuzzes a
# copy of them for the given time, so the committed corpus never changes by itself. A finding
# (crash, sanitizer report, broken check, time-out) is kept under <build>/findings/<target>/ and
# makes the exit code non-zero. The build directory is build/native-fuzz, or MVU_FUZZ_BUILD_DIR.
# Needs no network once the packages are installed (tools/install-deps.sh has them).
set -euo pipefail
cd "$(dirname "$0")/.."
root="$PWD"

seconds="${1:-300}"
if ! [[ "$seconds" =~ ^[0-9]+$ ]] || [ "$seconds" -lt 1 ]; then
  echo "usage: tools/fuzz.sh [seconds-per-target]" >&2
  exit 2
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

rm -rf "$build/findings" "$build/work"
status=0
summary=()
while read -r target; do
  [ -n "$target" ] || continue
  seeds="tests/fuzz/corpus/$target"
  findings="$build/findings/$target"
  corpus="$build/work/$target"
  mkdir -p "$findings" "$corpus"
  log="$build/work/$target.log"
  dict=()
  [ -f "tests/fuzz/dict/$target.dict" ] && dict=(-dict="$root/tests/fuzz/dict/$target.dict")
  common=(-artifact_prefix="$findings/" -timeout=10 -rss_limit_mb=2048 -max_len="$(max_len_for "$target")")

  echo "=== $target: replaying $(find "$seeds" -type f | wc -l) seeds"
  if ! "$build/$target" "${common[@]}" "$seeds"/* >"$build/work/$target.replay.log" 2>&1; then
    tail -n 40 "$build/work/$target.replay.log" >&2
    echo "=== $target: FINDING while replaying the seeds" >&2
    summary+=("$target: seed replay failed")
    status=1
    continue
  fi

  cp "$seeds"/* "$corpus"/
  echo "=== $target: fuzzing for $seconds s"
  rc=0
  "$build/$target" "${common[@]}" "${dict[@]}" -max_total_time="$seconds" -print_final_stats=1 \
    "$corpus" >"$log" 2>&1 || rc=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)"
  [ -n "$execs" ] || execs="$(grep -o '#[0-9]*' "$log" | tail -n 1 | tr -d '#')"
  units="$(find "$corpus" -type f | wc -l)"
  found="$(find "$findings" -type f | wc -l)"
  if [ "$rc" -ne 0 ] || [ "$found" -gt 0 ]; then
    tail -n 60 "$log" >&2
    echo "=== $target: FINDING (exit $rc), inputs kept in $findings" >&2
    summary+=("$target: ${execs:-?} executions, FINDING: $(ls "$findings" | tr '\n' ' ')")
    status=1
  else
    summary+=("$target: ${execs:-?} executions, corpus $units inputs, no finding")
  fi
done <"$build/fuzz-targets.txt"

echo
echo "fuzz summary ($seconds s per target):"
for line in "${summary[@]}"; do
  echo "  $line"
done
exit "$status"
