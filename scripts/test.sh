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
build() {  # build PRESET [target...]
  local preset=$1
  shift
  cmake --preset "$preset" >/dev/null && cmake --build --preset "$preset" -j "$jobs" ${1:+--target "$@"}
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

tier=${KOE_WINE_TIER:-auto}
case $tier in
  32 | 64) why="forced by KOE_WINE_TIER=$tier" ;;
  auto)
    step "which Windows programs this machine runs"
    if ! build windows koesend >/dev/null; then
      tier=64 why="the 32-bit probe program did not build"
    elif koe_probe_32 "$root/build/windows/wineprefix" "$root/build/windows/tools/koesend/koesend.exe" --help; then
      tier=32 why="a 32-bit Windows program ran here"
    else
      tier=64 why="no 32-bit Windows program runs here"
    fi ;;
  *) echo "KOE_WINE_TIER must be 32, 64 or auto, not '$tier'" >&2; exit 2 ;;
esac
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
else
  record "$tier_name: not built" 1
fi

for preset in native native-asan; do
  step "build $preset"
  if nice -n 10 cmake --preset "$preset" >/dev/null && nice -n 10 cmake --build --preset "$preset" -j "$jobs"; then
    step "test $preset"
    nice -n 10 ctest --preset "$preset" -j "$jobs"
    record "$preset" $?
  else
    record "$preset (build)" 1
  fi
done

step "build $other_preset"
if nice -n 10 cmake --preset "$other_preset" >/dev/null && nice -n 10 cmake --build --preset "$other_preset" -j "$jobs"; then
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
