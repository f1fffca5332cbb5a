#!/usr/bin/env bash
# Runs CTest in a Windows build tree with its Wine prefix, a display and a kept-alive wineserver,
# and stops what it started.  usage: scripts/wine-ctest.sh BUILD_DIR [ctest args...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd); shift
. "$here/wine-env.sh"
export WINEPREFIX="$build/wineprefix"
KOE_WINE_BITS=$(sed -n 's/^KOE_WINE_BITS:[A-Z]*=//p' "$build/CMakeCache.txt")
export KOE_WINE_BITS=${KOE_WINE_BITS:-32}
koe_prefix_init || exit 1
trap 'koe_wineserver_stop; koe_display_stop' EXIT
koe_display_start
koe_wineserver_start
ctest --test-dir "$build" --output-on-failure "$@"
