#!/usr/bin/env bash
# Performance report: builds the native core benchmark (build/native) and Koemado, PtSvr.ocx and
# the Windows measuring programs (build/windows), runs them, and prints one markdown table with
# the figures, the goals beside them, and the machine they were measured on.
#
#   usage: scripts/bench-report.sh
#   environment: KOE_BENCH_JOBS        build jobs (default: nproc)
#                KOE_BENCH_NATIVE_TREE / KOE_BENCH_WINDOWS_TREE   other build trees
#                KOE_BENCH_NO_BUILD=1  measure what is already built
#                KOE_WINE_TIER=32|64   the Windows build measured (default: 32-bit where this machine
#                                      runs 32-bit programs, else the 64-bit build)
#
# The bundled voice is measured with the same Koemado: its first sound and its memory while it
# speaks (relay_bench voice, playing to a PulseAudio server of the script's own, scripts/audio.sh),
# and its real-time factor (voice_bench) beside Debian's own open_jtalk on the same pieces of text.
#
# The Windows figures come from relay_bench (tests/bench/windows) under Wine on a virtual
# display. It uses a Wine prefix of its own (<windows tree>/bench-prefix), so the 500-entry
# settings file it writes for the run never meets the tests' prefix; the file is deleted at the
# end, and the display and wineserver this script starts are stopped by PID.
# The raw output of every step is kept in <windows tree>/bench-report.log.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh
. scripts/audio.sh

jobs=${KOE_BENCH_JOBS:-$(nproc)}
native=$(realpath -m "${KOE_BENCH_NATIVE_TREE:-build/native}")
koe_choose_tier "$root"
tier=$KOE_TIER
echo "bench: the $tier-bit build ($KOE_TIER_WHY)" >&2
preset=windows
[ "$tier" = 64 ] && preset=windows64
export KOE_WINE_BITS=$tier
win=$(realpath -m "${KOE_BENCH_WINDOWS_TREE:-build/$preset}")

# --- build ---------------------------------------------------------------------------------
if [ "${KOE_BENCH_NO_BUILD:-0}" != 1 ]; then
  echo "bench: building (jobs $jobs) ..." >&2
  cmake --preset native -B "$native" >/dev/null
  cmake --build "$native" -j "$jobs" --target core_bench >/dev/null
  cmake --preset "$preset" -B "$win" >/dev/null
  cmake --build "$win" -j "$jobs" --target Koemado ptsvr bare_window relay_bench voice_bench >/dev/null
fi
core_bench="$native/tests/bench/core_bench"
koemado="$win/src/Koemado.exe"
ocx="$win/ptsvr/PtSvr.ocx"
bare="$win/tests/bench/windows/bare_window.exe"
relay="$win/tests/bench/windows/relay_bench.exe"
voice_bench="$win/tests/bench/windows/voice_bench.exe"
for f in "$core_bench" "$koemado" "$ocx" "$bare" "$relay" "$voice_bench"; do
  [ -f "$f" ] || { echo "bench: $f is missing" >&2; exit 1; }
done
log="$win/bench-report.log"
: >"$log"

# --- native: per-character cost of the core ----------------------------------------------------
echo "bench: core_bench ..." >&2
core_out=$("$core_bench" --benchmark_color=false)
printf '%s\n' "$core_out" >>"$log"
# Summary lines: "<name>  <ns> ns/char   plain scan <ns> ns   scan/indexed <x>x"
core_fig() { printf '%s\n' "$core_out" | awk -v n="$1" -v f="$2" '$1==n && $3=="ns/char" {print $f}'; }
char2=$(core_fig BM_Char_Defaults 2);         scan2=$(core_fig BM_Char_Defaults 6)
char500=$(core_fig BM_Char_500_NoEntry 2);    scan500=$(core_fig BM_Char_500_NoEntry 6)
char500l=$(core_fig BM_Char_500_LastEntry 2); scan500l=$(core_fig BM_Char_500_LastEntry 6)

# --- Windows, under Wine ---------------------------------------------------------------------
export WINEPREFIX="$win/bench-prefix"
koe_prefix_init
wrote_ini=0
cleanup() {
  if [ "$wrote_ini" = 1 ]; then koe_wine "$relay" delete-ini >/dev/null 2>&1 || true; fi
  koe_wineserver_stop
  koe_display_stop
  koe_audio_stop
}
trap cleanup EXIT
koe_audio_start  # the voice plays to a sink of the script's own, in real time
saved_display=${DISPLAY:-}
unset DISPLAY  # always a virtual display: windows popping up on a desktop would disturb the figures
koe_display_start
koe_wineserver_start
wpath() { koe_wine winepath.exe -w "$1" 2>/dev/null | tr -d '\r'; }

koe_wine regsvr32 /s "$(wpath "$ocx")"
export KOE_PTSVR_ENGINE=sim     # Wine has no voice; the simulated engine ...
export KOE_PTSVR_SIM_SPEED=0    # ... ends each utterance on the next turn of the message loop
wk=$(wpath "$koemado")
wb=$(wpath "$bare")
transcript="$win/bench-transcript.txt"
wt=$(wpath "$transcript")

declare -A R
run() {  # run MODE args...: relay_bench, its output to the log, its RESULT lines into R
  echo "bench: relay_bench $1 ..." >&2
  local out
  out=$(koe_wine "$relay" "$@" 2>&1 | tr -d '\r') || true
  printf '%s\n' "$out" >>"$log"
  while read -r _ name value; do R[$name]=$value; done < <(printf '%s\n' "$out" | grep '^RESULT ')
}
koe_wine "$relay" write-ini >>"$log" 2>&1
wrote_ini=1
run throughput --koemado "$wk" --bare "$wb" --chars 20000 --rounds 5
declare -A R10
for key in "${!R[@]}"; do R10[$key]=${R[$key]}; done
run throughput --koemado "$wk" --bare "$wb" --chars 20000 --rounds 5 --length 1000
long_ratio=${R[throughput_ratio]:-}; long_cps=${R[throughput_koemado_cps]:-}; long_bare=${R[throughput_bare_cps]:-}
for key in "${!R10[@]}"; do R[$key]=${R10[$key]}; done
run latency --koemado "$wk" --transcript "$wt" --utterances 200
# Start-up with the simulated engine, then with the engine users get (under Wine the bundled
# voice, which loads on its own thread): the voice must not make it slower.
run startup --koemado "$wk" --bare "$wb" --runs 10
sim_startup_ratio=${R[startup_ratio]:-}
KOE_PTSVR_ENGINE=auto run startup --koemado "$wk" --bare "$wb" --runs 10
run memory --koemado "$wk" --chars 100000
run idle --koemado "$wk" --seconds 10
KOE_PTSVR_ENGINE=bundled run voice --koemado "$wk" --transcript "$wt" --runs 5
echo "bench: voice_bench ..." >&2
pieces="$win/bench-pieces"
out=$(koe_wine "$voice_bench" --voice "$(wpath "$win/ptsvr/voice")" --pieces-out "$(wpath "$pieces")" 2>&1 | tr -d '\r') || true
printf '%s\n' "$out" >>"$log"
while read -r _ name value; do R[$name]=$value; done < <(printf '%s\n' "$out" | grep '^RESULT ')
koe_wine "$relay" delete-ini >/dev/null 2>&1 && wrote_ini=0

# Debian's open_jtalk on the same pieces, natively: one process a piece (it reads one line), the
# time a process takes to load and say nothing taken off each; the best of three.
echo "bench: open_jtalk ..." >&2
voice_dir=$(bash scripts/voice-fetch.sh --dir)
jtalk() { open_jtalk -x "$voice_dir/dic" -m "$voice_dir/nitech_jp_atr503_m001.htsvoice" -ow /dev/null; }
seconds() {  # seconds FILE: wall time of open_jtalk over each line of FILE, best of three
  local best= t0 t1 line
  for _ in 1 2 3; do
    t0=$(date +%s.%N)
    while IFS= read -r line; do printf '%s\n' "$line" | jtalk; done <"$1"
    t1=$(date +%s.%N)
    best=$(awk -v a="$t0" -v b="$t1" -v m="$best" 'BEGIN { d = b - a; print (m == "" || d < m) ? d : m }')
  done
  echo "$best"
}
printf '。\n' >"$pieces-none.txt"
load=$(seconds "$pieces-none.txt")
for n in 10 100 1000; do
  f="$pieces-$n.txt"
  [ -f "$f" ] && [ -n "${R[voice_sound_${n}_s]:-}" ] || continue
  R[native_rtf_$n]=$(awk -v t="$(seconds "$f")" -v l="$load" -v k="$(wc -l <"$f")" -v s="${R[voice_sound_${n}_s]}" \
    'BEGIN { printf "%.6g", (t - k * l) / s }')
done
rm -f "$pieces"-*.txt
rm -f "$transcript"
[ -z "$saved_display" ] || export DISPLAY="$saved_display"

# --- the table ---------------------------------------------------------------------------------
v() { echo "${R[$1]:-}"; }
fmt() { [ -n "$2" ] && printf "$1" "$2" || printf 'n/a'; }
judge() {  # judge EXPR (awk condition over x) VALUE
  [ -n "$2" ] || { printf 'n/a'; return; }
  awk -v x="$2" "BEGIN { exit !($1) }" && printf 'met' || printf '**missed**'
}
kib() { awk -v k="$1" 'BEGIN { printf "%.0f KiB", k }'; }
size() { awk -v b="$(stat -c %s "$1")" 'BEGIN { printf "%.0f KiB (%d bytes)", b / 1024, b }'; }
ratio() { awk -v a="$1" -v b="$2" -v d="${3:-1}" 'BEGIN { if (b > 0) printf "%.*f", d, a / b; else printf "n/a" }'; }

idle_api=$(v idle_cpu_api_ms); idle_linux=$(v idle_cpu_linux_ms); idle_sw=$(v idle_switches)
idle_text="$(fmt '%.1f ms' "$idle_api") (GetProcessTimes)"
[ -z "$idle_linux" ] || idle_text="$idle_text; $(fmt '%.0f ms' "$idle_linux") (Linux, 10 ms ticks), $(fmt '%.0f' "$idle_sw") context switches"
idle_judge=$(judge 'x <= 10' "${idle_linux:-$idle_api}")
[ -z "$idle_sw" ] || { [ "$idle_sw" = 0 ] || idle_judge="$idle_judge (CPU); **$idle_sw wake-ups**"; }

mem() {  # PrivateUsage where the system reports it (Wine reports 0), and Linux's RssAnon
  local p; p=$(v "memory_private_$1_kib")
  if [ -n "$p" ] && [ "$p" != 0 ]; then printf '%s (PrivateUsage)' "$(kib "$p")"; else printf 'PrivateUsage n/a (0 under Wine)'; fi
  [ -z "$(v "memory_rssanon_$1_kib")" ] || printf '; %s anonymous resident (Linux RssAnon of the Wine process)' "$(kib "$(v "memory_rssanon_$1_kib")")"
}
per_char="middle character $(fmt '%.0f µs' "$(v throughput_koemado_middle_us)") vs $(fmt '%.0f µs' "$(v throughput_bare_middle_us)"), first $(fmt '%.0f' "$(v throughput_koemado_first_us)") vs $(fmt '%.0f' "$(v throughput_bare_first_us)"), last $(fmt '%.0f' "$(v throughput_koemado_last_us)") vs $(fmt '%.0f' "$(v throughput_bare_last_us)")"
cpu_model=$(awk -F': ' '/^model name/ {print $2; exit}' /proc/cpuinfo)
cat <<EOF

## Koemado performance

| measure | figure | compared with | goal | |
|---|---|---|---|---|
| per character, 2 entries (defaults), native core | $(fmt '%.1f ns' "$char2") | plain scan $(fmt '%.1f ns' "$scan2") ($(ratio "$scan2" "$char2")× slower) | | |
| per character, 500 entries, no entry matches (worst case), native core | $(fmt '%.1f ns' "$char500") | plain scan $(fmt '%.1f ns' "$scan500") ($(ratio "$scan500" "$char500")× slower) | < 1 µs | $(judge 'x < 1000' "$char500") |
| per character, 500 entries, match at the 500th entry, native core | $(fmt '%.1f ns' "$char500l") | plain scan $(fmt '%.1f ns' "$scan500l") ($(ratio "$scan500l" "$char500l")× slower) | < 1 µs | $(judge 'x < 1000' "$char500l") |
| relay throughput, 500 entries, SendMessage, utterances of 10 | $(fmt '%.0f chars/s' "$(v throughput_koemado_cps)") | bare window $(fmt '%.0f chars/s' "$(v throughput_bare_cps)"); ratio $(fmt '%.2f' "$(v throughput_ratio)"). Per SendMessage, Koemado vs bare: $per_char | ≥ 0.9× bare | $(judge 'x >= 0.9' "$(v throughput_ratio)") |
| relay throughput, 500 entries, SendMessage, utterances of 1000 (the per-character cost alone) | $(fmt '%.0f chars/s' "$long_cps") | bare window $(fmt '%.0f chars/s' "$long_bare"); ratio $(fmt '%.2f' "$long_ratio") | ≥ 0.9× bare | $(judge 'x >= 0.9' "$long_ratio") |
| last character → speak call made (SendMessage returns) | median $(fmt '%.0f µs' "$(v latency_return_median_us)"), p95 $(fmt '%.0f µs' "$(v latency_return_p95_us)") | | | |
| last character → speak line in the control's transcript | median $(fmt '%.0f µs' "$(v latency_line_median_us)"), p95 $(fmt '%.0f µs' "$(v latency_line_p95_us)") | | | |
| start-up: CreateProcess → main window visible (median of 10; the control with the engine users get) | $(fmt '%.0f ms' "$(v startup_koemado_ms)") | bare window $(fmt '%.0f ms' "$(v startup_bare_ms)"); ratio $(fmt '%.2f' "$(v startup_ratio)"), with the simulated engine $(fmt '%.2f' "$sim_startup_ratio") | ≤ 1.5× bare; not above the simulated engine's | $(judge 'x <= 1.5' "$(v startup_ratio)") |
| CPU time while idle for 10 s (after one utterance) | $idle_text | | ~0 | $idle_judge |
| private memory after start | $(mem start) | | | |
| private memory after 100,000 characters | $(mem after) | | | |
| bundled voice: speak call → first sound handed to waveOut, 10 characters (median of 5) | $(fmt '%.0f ms' "$(v voice_first_sound_10_ms)") | | ≤ 150 ms | $(judge 'x <= 150' "$(v voice_first_sound_10_ms)") |
| bundled voice: the same, 100 characters | $(fmt '%.0f ms' "$(v voice_first_sound_100_ms)") | | ≤ 150 ms | $(judge 'x <= 150' "$(v voice_first_sound_100_ms)") |
| bundled voice: the same, 1000 characters | $(fmt '%.0f ms' "$(v voice_first_sound_1000_ms)") | | ≤ 300 ms | $(judge 'x <= 300' "$(v voice_first_sound_1000_ms)") |
$(for n in 10 100 1000; do
  ours=$(v voice_rtf_$n) native=$(v native_rtf_$n)
  printf '| bundled voice: real-time factor, %s characters (%s s of sound) | %s | Debian'"'"'s open_jtalk, natively: %s (%s×) | ≤ 1.3× open_jtalk | %s |\n' \
    "$n" "$(fmt '%.1f' "$(v voice_sound_${n}_s)")" "$(fmt '%.4f' "$ours")" "$(fmt '%.4f' "$native")" \
    "$(ratio "$ours" "$native" 2)" "$(judge 'x <= 1.3' "$(ratio "$ours" "$native" 2)")"
done)
| bundled voice: resident memory while speaking 1000 characters, above idle | $(fmt '%.0f KiB' "$(v voice_held_kib)") | | ≤ 64 MiB | $(judge 'x <= 65536' "$(v voice_held_kib)") |
| size of Koemado.exe (Release, static runtime) | $(size "$koemado") | | | |
| size of PtSvr.ocx | $(size "$ocx") | | | |

Measured $(date '+%Y-%m-%d %H:%M %Z') on $(nproc) CPUs, ${cpu_model:-unknown CPU}, $(koe_wine --version) (Koemado's $tier-bit build under Wine on Xvfb: the simulated speech engine ending each utterance at once for the relay's figures, the bundled voice playing to a PulseAudio null sink for the voice's; the native core from ${native#"$root"/}). Ratios compare figures measured in the same run. Raw output: ${log#"$root"/}.
EOF
