#!/usr/bin/env bash
# Runs CTest in a Windows build tree with its Wine prefix, a display and a kept-alive wineserver,
# and stops what it started.  usage: scripts/wine-ctest.sh BUILD_DIR [ctest args...]
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "$1" && pwd); shift
. "$here/wine-env.sh"
export WINEPREFIX="$build/wineprefix"
koe_prefix_init
trap 'koe_wineserver_stop; koe_display_stop' EXIT
koe_display_start
koe_wineserver_start
ctest --test-dir "$build" --output-on-failure "$@"
