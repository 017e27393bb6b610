#!/usr/bin/env bash
# Runs every fuzz target for SECONDS each (default 60) on its seed corpus in fuzz/corpus/<target>,
# one after the other, and prints the executions and findings per target. New inputs the fuzzer
# finds go to build-fuzz/corpus/<target> (the seeds in the repository stay as they are); crashes,
# leaks and time-outs to build-fuzz/findings/<target>/. Exits 1 when any target found something.
#   scripts/fuzz.sh [SECONDS]
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${1:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "$(nproc)" >/dev/null
targets=$(sed -n '/^set(VELTR_FUZZ_TARGETS/,/)/p' fuzz/CMakeLists.txt | grep -o '[a-z_]*_fuzz')
found=0
printf '%-24s %12s %10s %9s\n' target executions exec/s findings
for target in $targets; do
  work=build-fuzz/corpus/$target
  findings=build-fuzz/findings/$target
  rm -rf "$findings"
  mkdir -p "$work" "$findings"
  log=build-fuzz/findings/$target.log
  # A crash ends the run with a non-zero status; the count of files in findings tells.
  build-fuzz/fuzz/"$target" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 \
    -max_len=8192 -print_final_stats=1 -artifact_prefix="$findings/" \
    "$work" "fuzz/corpus/$target" >"$log" 2>&1 || true
  runs=$(grep -o 'stat::number_of_executed_units: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  rate=$(grep -o 'stat::average_exec_per_sec: *[0-9]*' "$log" | grep -o '[0-9]*$' || echo 0)
  count=$(find "$findings" -type f | wc -l)
  printf '%-24s %12s %10s %9s\n' "$target" "${runs:-0}" "${rate:-0}" "$count"
  if [ "$count" -ne 0 ]; then
    found=1
    find "$findings" -type f | sed 's/^/    /'
    grep -m3 -E 'ERROR|SUMMARY' "$log" | sed 's/^/    /' || true
  fi
done
exit $found
