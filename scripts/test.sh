#!/usr/bin/env bash
# The one test command: installs what is missing, builds the native and both Windows trees, and
# runs every test (native, sanitizers, short fuzz runs, Windows tests and end-to-end under Wine +
# Xvfb). Exits non-zero when anything fails.
#
# The Windows tests run in one tier: the 32-bit tree (the product) wherever this machine runs
# 32-bit Windows programs, else the 64-bit tree, a second build of the same sources.
# KOE_WINE_TIER=32 or KOE_WINE_TIER=64 forces a tier; unset or "auto", a 32-bit program is tried.
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh

jobs=$(nproc)
failed=0
passed_suites=()
failed_suites=()

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

cleanup() { koe_wineserver_stop; koe_display_stop; }
trap cleanup EXIT

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

# Both Windows trees are always built, so that an error of either width shows on every machine.
built_32=0 built_64=0
step "build windows (32-bit)"
if build windows; then built_32=1; else record "windows, 32-bit (build)" 1; fi
step "build windows64 (64-bit)"
if build windows64; then built_64=1; else record "windows64, 64-bit (build)" 1; fi

tier=${KOE_WINE_TIER:-auto}
case $tier in
  32 | 64) why="forced by KOE_WINE_TIER=$tier" ;;
  auto)
    step "which Windows programs this machine runs"
    if [ $built_32 = 1 ] &&
       koe_probe_32 "$root/build/windows/wineprefix" "$root/build/windows/tools/koesend/koesend.exe" --help; then
      tier=32 why="a 32-bit Windows program ran here"
    else
      tier=64 why="no 32-bit Windows program runs here (Wine's 32-bit loader cannot execute)"
    fi ;;
  *) echo "KOE_WINE_TIER must be 32, 64 or auto, not '$tier'" >&2; exit 2 ;;
esac
echo "Windows tests: the $tier-bit tier ($why)"

if [ $tier = 32 ]; then preset=windows built=$built_32; else preset=windows64 built=$built_64; fi
name="windows tests and end-to-end, $tier-bit tier ($why)"
if [ "$built" = 1 ]; then
  export WINEPREFIX="$root/build/$preset/wineprefix" KOE_WINE_BITS=$tier
  if koe_prefix_init && koe_display_start; then
    koe_wineserver_start
    step "test $preset under Wine on $DISPLAY ($tier-bit tier)"
    ctest --preset "$preset"
    record "$name" $?
  else
    record "$name: Wine or the display did not start" 1
  fi
else
  record "$name: not built" 1
fi

# The 32-bit ZIP is what users install: its contents are checked in either tier.
if [ $tier = 64 ] && [ $built_32 = 1 ]; then
  step "test windows: the 32-bit ZIP package's contents (no Wine)"
  ctest --preset windows -L nowine
  record "windows, 32-bit package contents" $?
fi

echo
echo "=== summary"
for s in "${passed_suites[@]}"; do echo "ok      $s"; done
for s in "${failed_suites[@]}"; do echo "FAILED  $s"; done
echo "${#passed_suites[@]} passed, ${#failed_suites[@]} failed, in $((SECONDS / 60))m$((SECONDS % 60))s"
exit $failed
