#!/usr/bin/env bash
# Runs the fault matrix and the refused-input cases against the simulator and copies the tables
# they write (build/fault-matrix/, build/damaged-inputs/) into docs/fault-matrix.md.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset default >/dev/null
cmake --build --preset default -j "$(nproc)" --target reliability_e2e_tests veltr_e2e_tests >/dev/null
rm -rf build/fault-matrix build/damaged-inputs
ctest --preset default -j "$(nproc)" -R 'FaultMatrix|DamagedPackage|SideInput|BadPort'
{
  sed -n '1,/^<!-- table -->$/p' docs/fault-matrix.md
  cat build/fault-matrix/fault-matrix.md
  echo
  echo "## Inputs that are not what they claim to be"
  echo
  echo "Each ends in the message shown; the time is the whole run of veltr, the search included."
  echo "Image refusals come before the first page: the simulator's write log stays empty."
  echo
  cat build/damaged-inputs/damaged-inputs.md
} >docs/fault-matrix.md.new
mv docs/fault-matrix.md.new docs/fault-matrix.md
echo "docs/fault-matrix.md refreshed"
