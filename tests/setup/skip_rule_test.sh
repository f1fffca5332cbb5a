#!/usr/bin/env bash
# A test that could not run never passes, against stand-ins: wine-run asked for a locale that a
# stand-in `locale` does not list fails, names it and runs nothing (a stand-in `wine` records what
# runs); with the locale listed, it runs. test.sh's summary fails on a skip it does not expect.
set -uo pipefail
repo=$(cd "$(dirname "$0")/../.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
printf '#!/bin/sh\nprintf "C\\nPOSIX\\nja_JP.utf8\\n"\n' >"$work/locale"
printf '#!/bin/sh\necho "$*" >"%s/ran"\n' "$work" >"$work/wine"
chmod +x "$work/locale" "$work/wine"
mkdir "$work/prefix" && touch "$work/prefix/.koe-ready"
fails=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"; fails=1; fi
}
run() {  # run LOCALE: status, message and what ran, of wine-run asked for LOCALE
  rm -f "$work/ran"
  env -u KOE_WINE_ROOT PATH="$work:$PATH" KOE_WINE_LOCALE=$1 bash "$repo/scripts/wine-run" "$work/prefix" 32 t.exe 2>&1
  echo "$?|$(cat "$work/ran" 2>/dev/null)"
}
check "a missing locale" "wine-run: the Unix locale hi_IN.UTF-8 is missing (locale -a); scripts/setup.sh generates it (in the Debian 13 root: scripts/wine10.sh make)
1|" "$(run hi_IN.UTF-8)"
check "a locale that is there" "0|t.exe" "$(run ja_JP.UTF-8)"

summarize() {  # summarize CASE: test.sh's summary of a GoogleTest program that skipped CASE
  printf '<testcase name="s" status="run">\n[==========] 2 tests from 1 test suite ran.\n[  PASSED  ] 1 test.
x.cpp:9: Skipped\nits reason\n[  SKIPPED ] %s (0 ms)\n[  SKIPPED ] 1 test, listed below:\n</testcase>\n' "$1" >"$work/s.xml"
  bash "$repo/scripts/test.sh" --summarize "$work/s.xml" >"$work/out"
  echo "$? $(tail -n +2 "$work/out" | paste -sd '|')"
}
check "an unexpected skip" \
  "1 skipped, not expected (counted as failed): B.NeedsALocale (s): its reason|1 passed, 1 failed, 0 skipped" \
  "$(summarize B.NeedsALocale)"
check "an expected skip" "0 skipped as expected: KoemadoIni.ReadOnlyFileMakesSaveFail (s): Wine run as root \
writes read-only files; the cases of a file held without sharing test the refused save|1 passed, 0 failed, 1 skipped" \
  "$(summarize KoemadoIni.ReadOnlyFileMakesSaveFail)"
[ $fails = 0 ] && echo "a test that could not run fails: passed"
exit $fails
