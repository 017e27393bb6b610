#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, when any is missing.
set -euo pipefail
packages=(cmake ninja-build g++ pkg-config libgtest-dev libgmock-dev libbenchmark-dev
          nlohmann-json3-dev libcli11-dev libudev-dev iproute2
          qt6-base-dev fonts-dejavu-core umockdev libumockdev-dev
          dpkg-dev file lintian man-db clang)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  if [ "$(id -u)" -ne 0 ]; then
    echo "These packages are missing and installing them needs root: ${missing[*]}" >&2
    exit 1
  fi
  # The package tool's own words are kept: on a failure they are shown, not just an exit status.
  log=$(mktemp)
  trap 'rm -f "$log"' EXIT
  if ! { apt-get update -qq && DEBIAN_FRONTEND=noninteractive \
      apt-get install -y -qq --no-install-recommends "${missing[@]}"; } >"$log" 2>&1; then
    echo "Installing the packages failed; the package tool said:" >&2
    cat "$log" >&2
    exit 1
  fi
fi
