#!/usr/bin/env bash
# The one test command: installs what is missing, builds the native and both Windows trees, and
# runs every test (native, sanitizers, short fuzz runs, Windows tests and end-to-end under Wine +
# Xvfb). Exits non-zero when anything fails.
#
# The Windows tests run in one tier: the 32-bit tree (the product) wherever this machine runs
# 32-bit Windows programs, else the 64-bit tree, a second build of the same sources.
# KOE_WINE_TIER=32 or KOE_WINE_TIER=64 forces a tier; unset or "auto", a 32-bit program is tried.
#
# The Windows tests mostly wait on Wine, so they run in the background while the other trees
# build and test at a lower priority.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh

jobs=$(nproc)
failed=0
passed_suites=()
failed_suites=()
logs="$root/build/test-logs"

step() { echo; echo "=== $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
record() {  # record NAME STATUS
  if [ "$2" -eq 0 ]; then passed_suites+=("$1"); else failed_suites+=("$1"); failed=1; fi
}
build() {  # build PRESET
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}

step "setup"
if [ "$(id -u)" = 0 ]; then
  bash scripts/setup.sh || { echo "setup failed" >&2; exit 1; }
else
  bash scripts/setup.sh || { echo "setup failed: run as root once" >&2; exit 1; }
fi
mkdir -p "$logs"

windows_pid=
cleanup() {
  if [ -n "$windows_pid" ]; then kill "$windows_pid" 2>/dev/null; wait "$windows_pid" 2>/dev/null; fi
}
trap cleanup EXIT

step "which Windows programs this machine runs"
koe_choose_tier "$root" || exit 2
tier=$KOE_TIER why=$KOE_TIER_WHY
echo "Windows tests: the $tier-bit tier ($why)"
if [ "$tier" = 32 ]; then tier_preset=windows other_preset=windows64; else tier_preset=windows64 other_preset=windows; fi
tier_name="windows tests and end-to-end, $tier-bit tier ($why)"

# Both Windows trees are always built, so that an error of either width shows on every machine;
# the tier's tree first, so that its tests can start.
step "build $tier_preset ($tier-bit)"
if build "$tier_preset"; then
  step "test $tier_preset under Wine, in the background ($tier-bit tier)"
  (
    trap 'exit 143' TERM
    trap 'koe_wineserver_stop; koe_display_stop' EXIT
    export WINEPREFIX="$root/build/$tier_preset/wineprefix" KOE_WINE_BITS=$tier
    koe_prefix_init || exit 1
    koe_display_start || exit 1
    koe_wineserver_start
    echo "Wine on $DISPLAY"
    ctest --preset "$tier_preset"
  ) >"$logs/$tier_preset.log" 2>&1 </dev/null &
  windows_pid=$!
  # What follows (and only that) runs at a lower priority than the Windows tests.
  renice -n 10 -p $$ >/dev/null
else
  record "$tier_name: not built" 1
fi

for preset in native native-asan; do
  step "build $preset"
  if build "$preset"; then
    step "test $preset"
    ctest --preset "$preset" -j "$jobs"
    record "$preset" $?
  else
    record "$preset (build)" 1
  fi
done

step "build $other_preset"
if build "$other_preset"; then
  record "$other_preset (build)" 0
  # The 32-bit ZIP is what users install: its contents are checked in either tier.
  if [ "$other_preset" = windows ]; then
    step "test windows: the 32-bit ZIP package's contents (no Wine)"
    ctest --preset windows -L nowine
    record "windows, 32-bit package contents" $?
  fi
else
  record "$other_preset (build)" 1
fi

if [ -n "$windows_pid" ]; then
  step "waiting for the Windows tests ($tier-bit tier)"
  wait "$windows_pid"
  status=$?
  windows_pid=
  cat "$logs/$tier_preset.log"
  record "$tier_name" $status
fi

echo
echo "=== summary"
for s in "${passed_suites[@]}"; do echo "ok      $s"; done
for s in "${failed_suites[@]}"; do echo "FAILED  $s"; done
echo "${#passed_suites[@]} passed, ${#failed_suites[@]} failed, in $((SECONDS / 60))m$((SECONDS % 60))s"
exit $failed
