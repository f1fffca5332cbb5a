#!/usr/bin/env bash
# Runs Koemado with our speech control and a demo client: builds what is missing, prepares the
# Wine prefix, registers the control, starts Koemado (on your display, or on a virtual one when
# there is none, with a screenshot), speaks a Japanese sample through koesend and prints the
# control's transcript.   usage: scripts/run.sh ["text to speak"]
# Koemado is a 32-bit program; where this machine cannot run 32-bit Windows programs the 64-bit
# build of the same sources runs instead. KOE_WINE_TIER=32|64 forces one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
text=${1:-こんにちは。声窓がお話しします。}
targets=(Koemado ptsvr koesend)

bash scripts/setup.sh
koe_choose_tier "$root"
tier=$KOE_TIER preset=windows
[ "$tier" = 64 ] && preset=windows64
if [ "$tier" = 64 ] && [ "${KOE_WINE_TIER:-auto}" = auto ]; then
  echo "This machine cannot run 32-bit Windows programs: running the 64-bit build of Koemado and its control instead."
fi
cmake --preset "$preset" >/dev/null
cmake --build --preset "$preset" -j "$(nproc)" --target "${targets[@]}"

build="$root/build/$preset"
export WINEPREFIX="$build/wineprefix" KOE_WINE_BITS=$tier
koe_prefix_init
on_xvfb=0
[ -n "${DISPLAY:-}" ] || on_xvfb=1
koemado_pid=
cleanup() {
  if [ "$on_xvfb" = 1 ] && [ -n "$koemado_pid" ]; then
    kill "$koemado_pid" 2>/dev/null || true
    wait "$koemado_pid" 2>/dev/null || true
    koe_wine reg delete 'HKCU\Software\Wine\Explorer' /v Desktop /f >/dev/null 2>&1 || true
  fi
  koe_wineserver_stop
  koe_display_stop
}
trap cleanup EXIT
koe_display_start
if [ "$on_xvfb" = 1 ]; then
  # No window manager on the virtual display: a Wine desktop window draws the window frames.
  koe_wine reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
  koe_wine reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f >/dev/null 2>&1
  wineserver -w
fi
# A kept-alive wineserver only on the virtual display: on yours, Koemado outlives this script.
[ "$on_xvfb" = 0 ] || koe_wineserver_start

winpath() { koe_wine winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }
koe_wine regsvr32 /s "$(winpath "$build/ptsvr/PtSvr.ocx")"

transcript="$build/demo-transcript.txt"
rm -f "$transcript"
export KOE_PTSVR_TRANSCRIPT="$(winpath "$transcript")"
koe_wine "$build/src/Koemado.exe" &
koemado_pid=$!

echo "Koemado ($tier-bit) is starting on $DISPLAY ..."
for _ in $(seq 1 100); do
  if koe_wine "$build/tools/koesend/koesend.exe" --timeout 0 "" >/dev/null 2>&1; then break; fi
  sleep 0.2
done
echo "Speaking: $text"
koe_wine "$build/tools/koesend/koesend.exe" --timeout 30 "$text" && echo "koesend: spoken (exit 0)"

if [ "$on_xvfb" = 1 ]; then
  shot="$build/koemado-demo.png"
  import -window root "$shot" && echo "Screenshot of the virtual display: $shot"
fi
echo
echo "--- the speech control's transcript ($transcript)"
cat "$transcript"
if [ "$on_xvfb" = 0 ]; then
  echo
  echo "Koemado keeps running on your display; close it with 終了."
  koemado_pid=
fi
