#!/usr/bin/env bash
# The one test command: installs what is missing, builds the native and Windows trees, and runs
# every test (native, sanitizers, short fuzz runs, Windows tests and end-to-end under Wine + Xvfb).
# Exits non-zero when anything fails.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh

jobs=$(nproc)
failed=0
passed_suites=()
failed_suites=()

step() { echo; echo "=== $*"; }
record() {  # record NAME STATUS
  if [ "$2" -eq 0 ]; then passed_suites+=("$1"); else failed_suites+=("$1"); failed=1; fi
}

step "setup"
if [ "$(id -u)" = 0 ]; then
  bash scripts/setup.sh || { echo "setup failed" >&2; exit 1; }
else
  bash scripts/setup.sh || { echo "setup failed: run as root once" >&2; exit 1; }
fi

cleanup() { koe_wineserver_stop; koe_display_stop; }
trap cleanup EXIT

for preset in native native-asan; do
  step "build $preset"
  if cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs"; then
    step "test $preset"
    ctest --preset "$preset" -j "$jobs"
    record "$preset" $?
  else
    record "$preset (build)" 1
  fi
done

step "build windows"
if cmake --preset windows >/dev/null && cmake --build --preset windows -j "$jobs"; then
  export WINEPREFIX="$root/build/windows/wineprefix"
  koe_prefix_init
  koe_display_start || { record "display" 1; }
  koe_wineserver_start
  step "test windows (Wine on $DISPLAY)"
  ctest --preset windows
  record windows $?
else
  record "windows (build)" 1
fi

echo
echo "=== summary"
for s in "${passed_suites[@]}"; do echo "ok      $s"; done
for s in "${failed_suites[@]}"; do echo "FAILED  $s"; done
echo "${#passed_suites[@]} passed, ${#failed_suites[@]} failed"
exit $failed
