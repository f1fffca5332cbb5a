#!/usr/bin/env bash
# Runs CTest in a Windows build tree with its Wine prefix, a display and a kept-alive wineserver,
# and stops what it started.  usage: scripts/wine-ctest.sh BUILD_DIR [ctest args...]
# KOE_WINE=10 runs them under Debian 13's Wine 10.0 (scripts/wine10.sh, as root), in the tree's
# prefix for it; unset or 8, under this machine's Wine (Debian 12's 8.0).
# Every run has the tests' own PulseAudio server as its audio, recorded for the whole run into the
# file named by KOE_AUDIO_CAPTURE (scripts/audio.sh).
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd); shift
if [ "${KOE_WINE:-8}" = 10 ] && [ -z "${KOE_WINE_ROOT:-}" ]; then
  exec bash "$here/wine10.sh" run "$build" bash "$0" "$build" "$@"
fi
. "$here/wine-env.sh"
. "$here/audio.sh"
export WINEPREFIX="$build/wineprefix"
KOE_WINE_BITS=$(sed -n 's/^KOE_WINE_BITS:[A-Z]*=//p' "$build/CMakeCache.txt")
export KOE_WINE_BITS=${KOE_WINE_BITS:-32}
koe_prefix_init || exit 1
trap 'koe_wineserver_stop; koe_display_stop; koe_audio_stop' EXIT
koe_audio_start || exit 1
koe_audio_record "$KOE_AUDIO_DIR/capture.raw" || exit 1
koe_display_start
koe_wineserver_start
echo "$(koe_wine --version) on $DISPLAY; its sound recorded in $KOE_AUDIO_CAPTURE"
ctest --test-dir "$build" --output-on-failure "$@"
