#!/usr/bin/env bash
# Builds everything and runs all tests: the normal build, the address and undefined behaviour
# sanitizer build, then the thread sanitizer build of the engine and end-to-end tests.
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
