#!/usr/bin/env bash
# Runs Koemado with our speech control and a demo client: builds what is missing, prepares the
# Wine prefix, registers the control, starts Koemado (on your display, or on a virtual one when
# there is none, with a screenshot), speaks a Japanese sample through koesend and prints the
# control's transcript.   usage: scripts/run.sh ["text to speak"]
# Koemado's sound goes to a PulseAudio server of the script's own (scripts/audio.sh) while the
# sample is spoken; what it played is left in build/<tree>/koemado-demo.wav and played on this
# machine's own sound afterwards, where it has any.
# Koemado is a 32-bit program; where this machine cannot run 32-bit Windows programs the 64-bit
# build of the same sources runs instead. KOE_WINE_TIER=32|64 forces one.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
. scripts/audio.sh
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
  koe_audio_stop
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
recording=0
if koe_audio_start && koe_audio_record "$KOE_AUDIO_DIR/demo.raw"; then recording=1; fi
koe_wine "$build/src/Koemado.exe" &
koemado_pid=$!

echo "Koemado ($tier-bit) is starting on $DISPLAY ..."
for _ in $(seq 1 100); do
  if koe_wine "$build/tools/koesend/koesend.exe" --timeout 0 "" >/dev/null 2>&1; then break; fi
  sleep 0.2
done
echo "Speaking: $text"
koe_wine "$build/tools/koesend/koesend.exe" --timeout 30 "$text" && echo "koesend: spoken (exit 0)"
wav="$build/koemado-demo.wav"
rm -f "$wav"
if [ "$recording" = 1 ]; then
  koe_audio_save "$wav" || true
  koe_audio_stop
fi

if [ "$on_xvfb" = 1 ]; then
  shot="$build/koemado-demo.png"
  import -window root "$shot" && echo "Screenshot of the virtual display: $shot"
fi
echo
echo "--- the speech control's transcript ($transcript)"
cat "$transcript"
echo
if [ ! -f "$wav" ]; then
  echo "No recording of the speech (why is said above)."
elif [ "$(soxi -s "$wav")" = 0 ]; then
  echo "The speech made no sound (the control played nothing): $wav holds no samples."
elif koe_audio_play "$wav"; then
  echo "The speech, recorded in $wav, was played on this machine's sound."
else
  echo "The speech is recorded in $wav ($(soxi -d "$wav")); this machine has no sound to play it on."
fi
if [ "$on_xvfb" = 0 ]; then
  echo
  echo "Koemado keeps running on your display; close it with 終了. Its sound went to the demo's"
  echo "recording, which has ended: what it speaks from now on is not heard."
  koemado_pid=
fi
