#!/usr/bin/env bash
# The suite as a technician gets it, checked from outside the build tree.
#   package_test.sh install-tree BUILD_DIR SCRATCH VERSION "GUI_PROGRAMS"
#   package_test.sh deb          BUILD_DIR SCRATCH VERSION "GUI_PROGRAMS"
# install-tree: `cmake --install` into a scratch prefix. deb: cpack makes the .deb, `dpkg -x`
# unpacks it into a scratch root, lintian judges it (errors fail, warnings are listed).
# Both then run every program from where it was put, and an upgrade of a simulated device with
# the installed veltr working from a package folder (no description beside the program).
# GUI_PROGRAMS: the desktop programs this tree builds; each must be there and answer --version.
set -uo pipefail

mode=$1
build=$2
scratch=$3
version=$4
gui_programs=$5

failures=0
fail() {
  echo "FAILED: $*"
  failures=$((failures + 1))
}
step() { echo "--- $*"; }

rm -rf "$scratch"
mkdir -p "$scratch"
sim=""
cleanup() {
  if [ -n "$sim" ]; then
    kill "$sim" 2>/dev/null
    wait "$sim" 2>/dev/null
  fi
}
trap cleanup EXIT

case $mode in
  install-tree)
    step "cmake --install into $scratch/prefix"
    if ! cmake --install "$build" --prefix "$scratch/prefix" >"$scratch/install.log" 2>&1; then
      cat "$scratch/install.log"
      echo "FAILED: cmake --install"
      exit 1
    fi
    root=$scratch/prefix
    ;;
  deb)
    step "cpack -G DEB"
    if ! cpack -G DEB --config "$build/CPackConfig.cmake" -B "$scratch/out" \
        >"$scratch/cpack.log" 2>&1; then
      cat "$scratch/cpack.log"
      echo "FAILED: cpack"
      exit 1
    fi
    deb=$(ls "$scratch"/out/*.deb 2>/dev/null | head -n 1)
    if [ -z "$deb" ]; then
      cat "$scratch/cpack.log"
      echo "FAILED: cpack made no .deb"
      exit 1
    fi
    echo "made $(basename "$deb")"
    step "package fields"
    dpkg-deb -f "$deb" Package Version Architecture Section Maintainer Depends
    depends=$(dpkg-deb -f "$deb" Depends)
    # Found by dpkg-shlibdeps from what the programs link, never written by hand.
    for library in libc6 libstdc++6 libudev1; do
      grep -q "\b$library\b" <<<"$depends" || fail "Depends lacks $library: $depends"
    done
    for program in $gui_programs; do
      grep -q "libqt6widgets6" <<<"$depends" || fail "$program is packaged but Depends lacks Qt"
      break
    done
    [ "$(dpkg-deb -f "$deb" Version)" = "$version" ] || fail "package version is not $version"
    step "dpkg -x into $scratch/root"
    dpkg -x "$deb" "$scratch/root" || { echo "FAILED: dpkg -x"; exit 1; }
    root=$scratch/root/usr
    ;;
  *)
    echo "unknown mode $mode"
    exit 2
    ;;
esac

step "files in place"
expect_file() { [ -f "$1" ] && echo "  ${1#"$scratch"/}" || fail "missing ${1#"$scratch"/}"; }
expect_file "$root/bin/veltr"
expect_file "$root/bin/veltr-devsim"
expect_file "$root/lib/udev/rules.d/70-veltrano-usb.rules"
expect_file "$root/share/man/man1/veltr.1.gz"
expect_file "$root/share/man/man1/veltr-devsim.1.gz"
if [ "$mode" = deb ]; then
  expect_file "$root/share/doc/veltrano-upgrade/copyright"
  expect_file "$root/share/doc/veltrano-upgrade/changelog.gz"
fi
# Desktop entries and icons come with the desktop programs; listed when there.
for entry in "$root"/share/applications/*.desktop "$root"/share/icons/hicolor/*/apps/*; do
  [ -f "$entry" ] && echo "  ${entry#"$scratch"/}"
done

step "manual pages"
for page in veltr veltr-devsim; do
  warnings=$(MANWIDTH=80 man --warnings -l "$root/share/man/man1/$page.1.gz" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "man -l $page.1.gz warns: $warnings"
  MANWIDTH=80 man -l "$root/share/man/man1/$page.1.gz" 2>/dev/null | grep -q "EXIT STATUS" ||
    fail "$page.1 has no EXIT STATUS section"
done

step "--version of every program"
check_version() {
  local program=$1 expected=$2 output
  output=$(QT_QPA_PLATFORM=offscreen timeout 30 "$root/bin/$program" --version 2>&1)
  echo "  $program --version: $output"
  grep -qF "$expected" <<<"$output" || fail "$program --version does not say $expected"
}
check_version veltr "veltr $version"
check_version veltr-devsim "veltr-devsim $version"
for program in VeltrUpgrade SerialUpdaterA SerialUpdaterB SerialUpdaterC; do
  if grep -qw "$program" <<<"$gui_programs"; then
    if [ -x "$root/bin/$program" ]; then
      check_version "$program" "$version"
    else
      fail "$program is built but not installed"
    fi
  else
    echo "  $program: not built in this tree, not checked"
  fi
done

step "first run: the installed veltr upgrades a simulated device from a package folder"
package=$scratch/package
mkdir -p "$package" "$scratch/device"
head -c 31146 /dev/urandom >"$package/pk1a1211.sop"
head -c 12000 /dev/urandom >"$package/uk1a1211.bin"
printf 'Packaged build' >"$package/Build.txt"
printf '[KL1A]\nVersion=211\n' >"$package/VeltrUpgrade.ini"
"$root/bin/veltr-devsim" --type KL1A --hw 101 --logic-version 209 --processor-version 209 \
  --state "$scratch/device" >"$scratch/sim.out" 2>"$scratch/sim.err" &
sim=$!
for _ in $(seq 100); do
  [ -s "$scratch/sim.out" ] && break
  sleep 0.1
done
tty=$(head -n 1 "$scratch/sim.out")
if [ -z "$tty" ]; then
  fail "the installed veltr-devsim gave no tty: $(cat "$scratch/sim.err")"
else
  # From the working folder of the test, with nothing beside the installed program.
  (cd "$scratch" && timeout 120 "$root/bin/veltr" upgrade --no-autoselect --port COM1 \
    --serial "COM1=$tty" --package "$package" --yes) >"$scratch/veltr.out" 2>&1
  status=$?
  grep -v "Uploading" "$scratch/veltr.out" | sed 's/^/  /'
  [ $status -eq 0 ] || fail "veltr upgrade exited with $status"
  grep -qx "Package description: $package/VeltrUpgrade.ini" "$scratch/veltr.out" ||
    fail "veltr did not take the description from the package folder"
fi
cleanup
sim=""

if [ "$mode" = deb ]; then
  step "lintian"
  lintian --tag-display-limit 0 --display-info "$deb" >"$scratch/lintian.out" 2>&1
  if [ -s "$scratch/lintian.out" ]; then
    sed 's/^/  /' "$scratch/lintian.out"
  else
    echo "  (nothing to report)"
  fi
  grep -q "^E: " "$scratch/lintian.out" && fail "lintian reports errors"
  grep -q "^W: " "$scratch/lintian.out" && echo "  (warnings listed above; they do not fail)"
fi

if [ $failures -ne 0 ]; then
  echo "$failures check(s) failed"
  exit 1
fi
echo "all checks passed"
