#!/usr/bin/env bash
# The relay on a system whose code page is not Shift-JIS: Koemado and koesend run with the
# locale C.UTF-8, which gives koesend code page 1252 (Koemado gets 932 all the same: its manifest
# asks for it). koesend finds Koemado, sends the reader's characters in Shift-JIS, reads a pipe
# as UTF-8 (a line that is not, as Shift-JIS) and its arguments as Unicode; it posts a text longer
# than a message queue holds, and refuses a wait that is no number of seconds.
# usage: other_code_page.sh WINEPREFIX BITS KOEMADO.EXE KOESEND.EXE PTSVR.OCX
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
export WINEPREFIX=$1 KOE_WINE_BITS=$2
koemado=$3 koesend=$4 ocx=$5
. "$here/../../scripts/wine-env.sh"
koe_wine_env
koe_prefix_init || exit 1
wpath() { koe_wine winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }

transcript=$(mktemp)
koemado_pid=
cleanup() {
  if [ -n "$koemado_pid" ]; then
    koe_wine taskkill.exe /im Koemado.exe >/dev/null 2>&1
    wait "$koemado_pid" 2>/dev/null
  fi
  rm -f "$transcript"
}
trap cleanup EXIT

koe_wine regsvr32 /s "$(wpath "$ocx")" || { echo "the control did not register"; exit 1; }
export KOE_PTSVR_TRANSCRIPT=$(wpath "$transcript") KOE_PTSVR_SIM_SPEED=0 KOE_PTSVR_ENGINE=sim
export LC_ALL=C.UTF-8 LANG=C.UTF-8
koe_wine "$koemado" >/dev/null 2>&1 &
koemado_pid=$!
for _ in $(seq 1 100); do
  koe_wine "$koesend" --timeout 0 "" >/dev/null 2>&1 && break
  sleep 0.2
done

status=0
printf 'パイプから読みます\n' | koe_wine "$koesend" --timeout 20 || { echo "koesend (pipe) failed: $?"; status=1; }
# What cmd.exe's echo writes into a pipe on a Japanese system: Shift-JIS.
printf 'シフトＪＩＳの行\n' | iconv -f UTF-8 -t CP932 | koe_wine "$koesend" --timeout 20 ||
  { echo "koesend (Shift-JIS pipe) failed: $?"; status=1; }
koe_wine "$koesend" --timeout 20 "引数の漢字" || { echo "koesend (argument) failed: $?"; status=1; }
# More characters posted than a message queue holds (10,000) at once.
long=$(printf '長%.0s' $(seq 1 12000))
koe_wine "$koesend" --post --timeout 60 "$long" || { echo "koesend (12,000 characters posted) failed: $?"; status=1; }
for bad in nan inf 5000000 -1 2x; do
  koe_wine "$koesend" --timeout "$bad" "x" >/dev/null 2>&1
  rc=$?
  [ $rc = 1 ] || { echo "koesend --timeout $bad: exit $rc, not 1 (usage)"; status=1; }
done
for want in "speak パイプから読みます" "speak シフトＪＩＳの行" "speak 引数の漢字" "speak $long"; do
  if ! grep -qxF "$want" "$transcript"; then echo "transcript lacks '$want'"; status=1; fi
done
if [ $status != 0 ]; then echo "--- transcript"; cut -c1-200 "$transcript"; fi
exit $status
