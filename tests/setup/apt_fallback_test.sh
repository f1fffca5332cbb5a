#!/usr/bin/env bash
# Setup through a mirror out of step, with a stand-in apt-get first on PATH: the update is retried
# and its failing index named, the install that does not resolve is retried from one suite, and
# when nothing works the error names the packages and the index and the command fails.
set -uo pipefail
here=$(cd "$(dirname "$0")" && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
index=http://deb.debian.org/debian-security/dists/bookworm-security/main/binary-i386/Packages.xz
cat >"$work/apt-get" <<STANDIN
#!/bin/sh
echo "\$*" >>"$work/calls"
case "\$*" in
  *update*) echo "E: Failed to fetch $index  File has unexpected size (374820 != 376004). Mirror sync in progress?"
            echo "E: Some index files failed to download."; exit 100 ;;
  *" -t "*) [ "\$STANDIN" = mirror ] && exit 0 ;;
esac
echo "E: Unable to correct problems, you have held broken packages."; exit 100
STANDIN
chmod +x "$work/apt-get"
export PATH="$work:$PATH" KOE_APT_PAUSE=0
. "$here/../../scripts/apt.sh"
suite=$(. /etc/os-release && echo "$VERSION_CODENAME")
fails=0
check() {  # check WHAT EXPECTED ACTUAL
  if [ "$2" != "$3" ]; then printf 'FAILED: %s\n  expected: %s\n  actual:   %s\n' "$1" "$2" "$3"; fails=1; fi
}
run() {  # run MODE: the update and the install of two packages, as setup runs them
  rm -f "$work/calls"
  STANDIN=$1 koe_apt_update 2>"$work/err"
  STANDIN=$1 koe_apt_install wine wine32:i386 2>>"$work/err" >/dev/null
  echo $? >"$work/rc"
}

run mirror
check "calls through a mirror out of step" \
  "update -q|update -q|update -q|install -y -q --no-install-recommends wine wine32:i386|install -y -q --no-install-recommends -t $suite wine wine32:i386" \
  "$(paste -sd '|' "$work/calls")"
check "messages through a mirror out of step" \
  "setup: apt-get update could not fetch $index after 3 tries (mirror out of step?); going on without it|setup: the install did not resolve; trying again with every package of both architectures from '$suite' alone (-t $suite)" \
  "$(grep '^setup:' "$work/err" | paste -sd '|')"
check "exit status through a mirror out of step" 0 "$(cat "$work/rc")"

run broken
check "exit status when nothing works" 1 "$(cat "$work/rc")"
check "the error when nothing works" \
  "setup: could not install: wine wine32:i386|setup: the mirror's index that failed to download: $index|setup: try again later (a mirror in sync catches up within a day), or set another mirror in /etc/apt/sources.list(.d), then run this command again" \
  "$(grep '^setup:' "$work/err" | tail -n 3 | paste -sd '|')"
[ $fails = 0 ] && echo "setup's fallback: passed"
exit $fails
