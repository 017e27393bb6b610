#!/usr/bin/env bash
# The main job, end to end: builds veltr and the device simulator, makes a small sample firmware
# package, starts a simulated KL1A stage box on a pseudo-terminal (at real serial line speed) and
# upgrades its firmware with veltr, showing the progress.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/deps.sh
cmake --preset default >/dev/null
cmake --build --preset default --target veltr veltr-devsim >/dev/null
bin=build/bin

work=$(mktemp -d)
sim=""
cleanup() {
  [ -n "$sim" ] && kill "$sim" 2>/dev/null && wait "$sim" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A package for a KL1A with hardware 1.01 at version 2.11: logic image, processor image, build text
# and the package description.
mkdir -p "$work/package" "$work/device"
head -c 31146 /dev/urandom >"$work/package/pk1a1211.sop"
head -c 12000 /dev/urandom >"$work/package/uk1a1211.bin"
printf 'Demo build %s' "$(date +%y-%m-%d)" >"$work/package/Build.txt"
printf '[KL1A]\nVersion=211\n' >"$work/package/VeltrUpgrade.ini"

"$bin/veltr-devsim" --type KL1A --hw 101 --uploader 110 --serial B-07-1234 \
  --text1 "Demo stage box" --logic-version 209 --processor-version 209 \
  --state "$work/device" --wire-speed >"$work/sim.out" &
sim=$!
for _ in $(seq 50); do [ -s "$work/sim.out" ] && break; sleep 0.1; done
tty=$(head -n 1 "$work/sim.out")
echo "Simulated KL1A on $tty (19200 baud, paced like a real line)"
echo

# The package description is found in the package folder.
"$bin/veltr" upgrade --serial "COM1=$tty" --package "$work/package" --yes
