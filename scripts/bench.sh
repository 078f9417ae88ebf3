#!/usr/bin/env bash
# Builds the bench preset, runs the benchmarks and writes build/bench/report.md (ratios to the
# floors, heap held) from their JSON output.
#   bench.sh             3 repetitions of each benchmark, medians reported (about a minute)
#   bench.sh --quick     one short run of each, to check that the suite works (CI)
#   bench.sh callgrind   instruction counts of a snapshot and of GetQZBiosData, by function, in
#                        build/bench/callgrind-*.txt (stable between runs, unlike times)
set -euo pipefail
cd "$(dirname "$0")/.."

mode=${1:-full}
case "$mode" in
full) run_args=(--benchmark_repetitions=3 --benchmark_report_aggregates_only=true) ;;
--quick) run_args=(--benchmark_min_time=0.01) ;;
callgrind) ;;
*)
  echo "usage: bench.sh [--quick|callgrind]" >&2
  exit 2
  ;;
esac

bash scripts/bootstrap.sh
cmake --preset bench >/dev/null
cmake --build --preset bench
out=build/bench/results
mkdir -p "$out"

if [ "$mode" = callgrind ]; then
  # Instructions of `function`, per call: the total callgrind collected inside it, over the
  # number of calls made to it (summed from the "calls=" lines that follow each call site).
  per_call() { # callgrind file, function
    awk -v fn="$2" '
      index($0, fn) && match($0, /^c?fn=\([0-9]+\)/) { id = substr($0, RSTART, RLENGTH); sub(/^c/, "", id); sub(/^fn=/, "", id) }
      id != "" && $0 ~ "^cfn=" && index($0, id) == 5 { getline; split($1, c, "="); calls += c[2] }
      /^totals:|^summary:/ { total = $2 }
      END { if (calls > 0) printf "%d instructions per call (%d calls)\n", total / calls, calls }
    ' "$1"
  }
  profile() { # name, function to count, benchmark filter
    valgrind -q --tool=callgrind --toggle-collect="$2*" --callgrind-out-file="$out/$1.callgrind" \
      build/bench/bench/qzbios_bench_library --benchmark_filter="$3" \
      --benchmark_min_time=0 >/dev/null
    {
      echo "${2%(}: $(per_call "$out/$1.callgrind" "$2")"
      callgrind_annotate "$out/$1.callgrind" | sed -n 1,40p
      callgrind_annotate --inclusive=yes "$out/$1.callgrind" | sed -n 1,60p
    } >"build/bench/callgrind-$1.txt"
    echo "build/bench/callgrind-$1.txt: $(head -1 "build/bench/callgrind-$1.txt")"
  }
  profile snapshot 'qz::shared::qzbios::QZBios::QZBios()' 'BM_Snapshot/31$'
  for k in 1 100 10000; do
    profile "records-$k" 'qz::shared::qzbios::QZBios::GetQZBiosData(' "BM_GetQZBiosData/$k/"
  done
  exit 0
fi

# glibc returns the memory of a large freed block to the kernel and faults it in again on the next
# run, which would make the 10,000-record figures (4 MB of records) a measure of page faults. Fixed
# thresholds keep the heap's pages between iterations, for the library and the floors alike.
export GLIBC_TUNABLES=glibc.malloc.mmap_threshold=67108864:glibc.malloc.trim_threshold=134217728
for suite in library sources memory; do
  args=("${run_args[@]}")
  # The memory figures are counts of one run; repeating them tells nothing.
  [ "$suite" = memory ] && args=()
  "build/bench/bench/qzbios_bench_$suite" "${args[@]}" \
    --benchmark_out="$out/$suite.json" --benchmark_out_format=json
done
python3 scripts/bench-report.py "$out" >build/bench/report.md
cat build/bench/report.md
