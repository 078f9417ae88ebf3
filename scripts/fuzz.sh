#!/usr/bin/env bash
# Runs every fuzz target for a bounded time (60 seconds each unless told otherwise) and fails on the
# first crash, leak, hang or broken invariant. Needs the asan build (cmake --preset asan and
# cmake --build --preset asan). Each target starts from its seed corpus in fuzz/corpus and keeps
# what it finds in build/asan/fuzz-corpus, so later runs go on from there; a failing input is
# written to build/asan/fuzz-artifacts.
#
#   scripts/fuzz.sh [seconds-per-target]
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=${1:-60}
case "$seconds" in
  '' | *[!0-9]*)
    echo "fuzz.sh: the time per target must be a whole number of seconds, not '$seconds'" >&2
    exit 2
    ;;
esac

build=build/asan
artifacts=$build/fuzz-artifacts/
mkdir -p "$artifacts"
status=0
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  target=$build/fuzz/qzbios_${name//-/_}_fuzzer
  if [ ! -x "$target" ]; then
    echo "fuzz.sh: $target is not built (cmake --build --preset asan)" >&2
    exit 2
  fi
  work=$build/fuzz-corpus/$name
  mkdir -p "$work"
  log=$build/fuzz-$name.log
  if "$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$artifacts" "$work" "$corpus" >"$log" 2>&1; then
    runs=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | awk '{print $2}')
    echo "fuzz: $name: ${runs:-?} executions in ${seconds} s, corpus of $(find "$work" -type f | wc -l) inputs"
  else
    echo "fuzz: $name FAILED; the input is in $artifacts, the log in $log:" >&2
    grep -E 'invariant broken|ERROR|SUMMARY' "$log" | head -n 5 >&2 || tail -n 20 "$log" >&2
    status=1
  fi
done
exit $status
