#!/usr/bin/env bash
# Builds everything and runs all tests: the normal build, the address and undefined behaviour
# sanitizer build (leak checking on), then the thread sanitizer build of the engine and
# end-to-end tests, and last a short run of every fuzz target on its seed corpus.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
jobs=$(nproc)
for preset in default asan tsan; do
  echo "=== build: $preset"
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$jobs"
  echo "=== test: $preset"
  ctest --preset "$preset" -j "$jobs"
done
echo "=== fuzz: each target ${VELTR_FUZZ_SECONDS:-5} s on its corpus"
scripts/fuzz.sh "${VELTR_FUZZ_SECONDS:-5}"
