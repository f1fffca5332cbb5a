#!/usr/bin/env bash
# The one test command: installs what is missing, builds the native and both Windows trees, and
# runs every test (native, sanitizers, short fuzz runs, Windows tests and end-to-end under Wine +
# Xvfb). Exits non-zero when anything fails.
#
# The Windows tests run in one tier: the 32-bit tree (the product) wherever this machine runs
# 32-bit Windows programs, else the 64-bit tree, a second build of the same sources.
# KOE_WINE_TIER=32 or KOE_WINE_TIER=64 forces a tier; unset or "auto", a 32-bit program is tried.
# They run twice, under this machine's Wine 8.0 and under Debian 13's Wine 10.0 (scripts/wine10.sh,
# whose root is made in the background during the builds, once per machine).
#
# The Windows tests mostly wait on Wine, so they run in the background while the other trees
# build and test at a lower priority. The summary gives, per suite, how many tests ran, passed,
# failed and were skipped and how long it took, and ends with the line "N passed, M failed, S
# skipped" counting tests (a build that fails, or a suite that could not start, counts as one
# failed test). A skipped case passes nothing: one that is not listed in expected_skips below, with
# its reason, counts as failed too.
#
#   bash scripts/test.sh --summarize JUNIT...   only the summary of JUnit files CTest wrote
set -uo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"
. scripts/wine-env.sh

jobs=$(nproc)
logs="$root/build/test-logs"
summary=() passed=0 failed=0 skipped=0 skip_notes=()

# The GoogleTest cases that may be skipped, each with the reason it cannot run where it is
# skipped. Any other skip fails the run: a test whose environment is missing must fail and say so.
expected_skips=(
  "Registration.RemovingOneWidthLeavesTheProgIdsToTheOther|a 32-bit Windows (the 32-bit tier's prefix) has one registry view; the 64-bit tier runs it"
  "KoemadoIni.ReadOnlyFileMakesSaveFail|Wine run as root writes read-only files; the cases of a file held without sharing test the refused save"
)

step() { echo; echo "=== $* (at $((SECONDS / 60))m$((SECONDS % 60))s)"; }
build() {  # build PRESET
  cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j "$jobs"
}
# CTest keeps every test's whole output in its JUnit file, so that the cases of each GoogleTest
# program can be counted from it.
junit_args() { echo --output-junit "$1" --test-output-size-passed 4000000 --test-output-size-failed 4000000; }
# record NAME SECONDS STATUS [JUNIT]: one line of the summary, from CTest's JUnit file. A test that
# is a GoogleTest program counts its cases (a skipped case apart, and as failed unless it is an
# expected skip), and one failed case more when it failed without saying which (a crash); any
# other test counts once.
record() {
  local name=$1 secs=$2 status=$3 junit=${4:-} n=0 p=0 f=0 s=0 case why entry expected
  if [ -s "$junit" ]; then
    {
      read -r n p f s
      while IFS=$'\t' read -r case why; do
        expected=
        for entry in "${expected_skips[@]}"; do
          [ "${entry%%|*}" = "$case" ] && expected=${entry#*|}
        done
        if [ -n "$expected" ]; then
          skip_notes+=("skipped as expected: $case ($name): $expected")
        else
          skip_notes+=("skipped, not expected (counted as failed): $case ($name): ${why:-no reason given}")
          f=$((f + 1)) s=$((s - 1))
        fi
      done
    } < <(awk '
      /^[[:space:]]*<testcase / { in_case = 1; ran = -1; ok = 0; bad = 0; skip = 0; why = ""; good = /status="run"/ }
      in_case && /\[==========\] [0-9]+ tests? from .* ran/ { ran = $2 }
      in_case && /\[  PASSED  \] [0-9]+ test/ { ok = $4 }
      in_case && /\[  SKIPPED \] [0-9]+ tests?, listed below/ { skip = $4 }
      in_case && /\[  FAILED  \] [0-9]+ tests?, listed below/ { bad = $4 }
      in_case && after_skipped { why = $0; after_skipped = 0 }
      in_case && /: Skipped$/ { after_skipped = 1 }
      in_case && /\[  SKIPPED \] [^ ]+ \([0-9]+ ms\)/ { skips[++k] = $4 "\t" why; why = "" }
      in_case && /<\/testcase>/ {
        in_case = 0
        if (ran < 0) { n++; if (good) p++; else f++ }
        else { n += ran; p += ok; s += skip; f += bad; if (!good && bad == 0) { n++; f++ } }
      }
      END { print n + 0, p + 0, f + 0, s + 0; for (i = 1; i <= k; i++) print skips[i] }' "$junit")
  fi
  if [ "$status" != 0 ] && [ "$f" = 0 ]; then n=$((n + 1)) f=1; fi
  passed=$((passed + p)) failed=$((failed + f)) skipped=$((skipped + s))
  local mark=ok
  [ "$f" = 0 ] || mark=FAILED
  summary+=("$(printf '%-7s %-58s %4d tests: %4d passed, %d failed, %d skipped  %4d s' \
    "$mark" "$name" "$n" "$p" "$f" "$s" "$secs")")
}
# ctest_suite NAME SLUG CMD...: runs a CTest command with --output-junit, timed, and records it.
ctest_suite() {
  local name=$1 junit="$logs/$2.xml" start=$SECONDS
  shift 2
  rm -f "$junit"
  # shellcheck disable=SC2046
  "$@" $(junit_args "$junit")
  record "$name" $((SECONDS - start)) $? "$junit"
}

if [ "${1:-}" = --summarize ]; then
  shift
  for junit; do record "$(basename "$junit" .xml)" 0 0 "$junit"; done
  printf '%s\n' "${summary[@]}" "${skip_notes[@]}"
  echo "$passed passed, $failed failed, $skipped skipped"
  [ "$failed" = 0 ]
  exit
fi

step "setup"
if [ "$(id -u)" = 0 ]; then
  bash scripts/setup.sh || { echo "setup failed (its reason above)" >&2; exit 1; }
else
  bash scripts/setup.sh || { echo "setup failed: run as root once" >&2; exit 1; }
fi
mkdir -p "$logs"
# The Debian 13 root (a no-op once made), while the trees build, behind the tier's tree (whose
# tests under Wine 8.0 come first); the tests under Wine 10.0 wait for it.
(
  start=$SECONDS
  nice -n 10 bash scripts/wine10.sh make
  echo "$? $((SECONDS - start))" >"$logs/debian13-root.status"
) >"$logs/debian13-root.log" 2>&1 </dev/null &
root_pid=$!

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

# Both Windows trees are always built, so that an error of either width shows on every machine;
# the tier's tree first, so that its tests can start.
step "build $tier_preset ($tier-bit)"
windows_start=$SECONDS
if build "$tier_preset"; then
  step "test $tier_preset under Wine 8.0, then Wine 10.0, in the background ($tier-bit tier)"
  # Each suite in the background writes "NAME|SECONDS|STATUS|JUNIT" to windows.suites, its
  # output to a log of its own; the summary reads them when it is done. The end-to-end suite
  # (label e2e) is a suite of its own; the tests without Wine (label nowine) run once.
  (
    trap 'exit 143' TERM
    : >"$logs/windows.suites"
    wine_suite() {  # wine_suite 8|10 NAME SLUG CTEST_ARGS...
      local wine=$1 name=$2 slug=$3 start=$SECONDS
      shift 3
      rm -f "$logs/$slug.xml"
      KOE_WINE=$wine bash scripts/wine-ctest.sh "build/$tier_preset" \
        $(junit_args "$logs/$slug.xml") "$@" >"$logs/$slug.log" 2>&1
      echo "$name|$((SECONDS - start))|$?|$logs/$slug.xml" >>"$logs/windows.suites"
    }
    wine_suite 8 "Windows tests, Wine 8.0 (Debian 12), $tier-bit" wine8-windows -LE e2e
    wine_suite 8 "end-to-end, Wine 8.0 (Debian 12), $tier-bit" wine8-e2e -L e2e
    # Waits for the root made above (or makes it, if that has not begun).
    if bash scripts/wine10.sh make >>"$logs/debian13-root.log" 2>&1; then
      wine_suite 10 "Windows tests, Wine 10.0 (Debian 13), $tier-bit" wine10-windows -LE 'e2e|nowine'
      wine_suite 10 "end-to-end, Wine 10.0 (Debian 13), $tier-bit" wine10-e2e -L e2e
    else
      echo "Wine 10.0 (Debian 13): no root to run in, see build/test-logs/debian13-root.log|0|1|" \
        >>"$logs/windows.suites"
    fi
  ) </dev/null &
  windows_pid=$!
  # What follows (and only that) runs at a lower priority than the Windows tests.
  renice -n 10 -p $$ >/dev/null
else
  record "build $tier_preset" $((SECONDS - windows_start)) 1
fi

for preset in native native-asan; do
  step "build $preset"
  start=$SECONDS
  if build "$preset"; then
    step "test $preset"
    ctest_suite "$preset" "$preset" ctest --preset "$preset" -j "$jobs"
  else
    record "build $preset" $((SECONDS - start)) 1
  fi
done

step "build $other_preset"
start=$SECONDS
if build "$other_preset"; then
  # The 32-bit ZIP is what users install: its contents are checked in either tier.
  if [ "$other_preset" = windows ]; then
    step "test windows: the 32-bit ZIP package's contents (no Wine)"
    ctest_suite "windows, 32-bit package contents (no Wine)" windows-nowine ctest --preset windows -L nowine
  fi
else
  record "build $other_preset" $((SECONDS - start)) 1
fi

wait "$root_pid"
read -r root_status root_secs <"$logs/debian13-root.status" 2>/dev/null || root_status=1 root_secs=0
if [ -n "$windows_pid" ]; then
  step "waiting for the Windows tests ($tier-bit tier)"
  wait "$windows_pid"
  windows_pid=
  for slug in wine8-windows wine8-e2e wine10-windows wine10-e2e; do
    [ -f "$logs/$slug.log" ] || continue
    echo "--- $slug"
    cat "$logs/$slug.log"
  done
  while IFS='|' read -r name secs status junit; do
    record "$name" "$secs" "$status" "$junit"
  done <"$logs/windows.suites"
fi

echo
echo "=== summary ($tier-bit tier: $why)"
printf '%s\n' "${summary[@]}" "${skip_notes[@]}"
if [ "$root_status" != 0 ]; then
  echo "the Debian 13 root for Wine 10.0 could not be made: build/test-logs/debian13-root.log"
elif grep -q '^wine10: making' "$logs/debian13-root.log"; then
  echo "the Debian 13 root for Wine 10.0: made in $root_secs s"
else
  echo "the Debian 13 root for Wine 10.0: made before, reused"
fi
echo "in $((SECONDS / 60))m$((SECONDS % 60))s; logs in build/test-logs"
echo "$passed passed, $failed failed, $skipped skipped"
[ "$failed" = 0 ]
