#!/usr/bin/env bash
# Builds everything and runs all tests: the normal build, the address and undefined behaviour
# sanitizer build (leak checking on), then the thread sanitizer build of the engine, the
# end-to-end tests and the desktop program's job tests (window and whole flows, offscreen), and
# last a short run of every fuzz target on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
# Most tests spend their time waiting on a simulated device's line pacing and time-outs, not on
# the processor: twice as many at once as there are cores keeps the machine busy.
test_jobs=$((2 * jobs))
start=$SECONDS
phase() { echo "=== $* (at $((SECONDS - start)) s)"; }
for preset in default asan tsan; do
  phase "build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  phase "test: $preset"
  ctest --preset "$preset" -j "$test_jobs"
done
phase "fuzz: each target ${VELTR_FUZZ_SECONDS:-5} s on its corpus"
scripts/fuzz.sh "${VELTR_FUZZ_SECONDS:-5}"
phase "all done"
