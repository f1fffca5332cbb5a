# Fetching from Debian's mirrors with the care a mirror out of step needs. Source this file.
# A mirror is sometimes out of step for a day: one index has the wrong size ("File has unexpected
# size ... Mirror sync in progress?") and apt-get update fails on it. The packages of that suite
# then resolve against the other architecture's newer versions, whose twins (Multi-Arch: same)
# are missing, and a plain install fails. These functions retry, go on without the failing index,
# and take every package from one consistent suite when the plain install does not resolve.
#
#   koe_apt_update [APT OPTIONS...]               retries; names an index that still fails, goes on
#   koe_apt_install PKG... [-- APT OPTIONS...]    plain install, else from the release's own suite
#   koe_retry TRIES PAUSE CMD...                  runs CMD until it succeeds, at most TRIES times
#
# KOE_APT_PAUSE (seconds, default 5) is the pause between tries. KOE_APT_FAILED holds the indexes
# that failed in the last update, for the messages.

KOE_APT_FAILED=

koe_retry() {
  local tries=$1 pause=$2 i
  shift 2
  for ((i = 1; i <= tries; i++)); do
    "$@" && return 0
    [ "$i" = "$tries" ] || sleep "$pause"
  done
  return 1
}

koe_apt_update() {
  local out i
  for i in 1 2 3; do
    out=$(apt-get "$@" update -q 2>&1) && ! grep -qE '^(E|W): Failed to fetch' <<<"$out" && {
      KOE_APT_FAILED=
      return 0
    }
    [ "$i" = 3 ] || sleep "${KOE_APT_PAUSE:-5}"
  done
  KOE_APT_FAILED=$(sed -nE 's/^(E|W): Failed to fetch ([^ ]+).*/\2/p' <<<"$out" | tr '\n' ' ')
  KOE_APT_FAILED=${KOE_APT_FAILED% }
  if [ -z "$KOE_APT_FAILED" ]; then
    printf '%s\n' "$out" >&2
    echo "setup: apt-get update failed 3 times (above); going on with the indexes this machine has" >&2
  else
    echo "setup: apt-get update could not fetch $KOE_APT_FAILED after 3 tries (mirror out of step?); going on without it" >&2
  fi
  return 0
}

koe_apt_install() {
  local pkgs=() opts=() suite
  while [ $# -gt 0 ] && [ "$1" != -- ]; do pkgs+=("$1"); shift; done
  [ $# -gt 0 ] && shift
  opts=("$@")
  if apt-get "${opts[@]}" install -y -q --no-install-recommends "${pkgs[@]}"; then return 0; fi
  suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
  if [ -n "$suite" ]; then
    echo "setup: the install did not resolve; trying again with every package of both architectures from '$suite' alone (-t $suite)" >&2
    if apt-get "${opts[@]}" install -y -q --no-install-recommends -t "$suite" "${pkgs[@]}"; then return 0; fi
  fi
  {
    echo "setup: could not install: ${pkgs[*]}"
    [ -z "$KOE_APT_FAILED" ] || echo "setup: the mirror's index that failed to download: $KOE_APT_FAILED"
    echo "setup: try again later (a mirror in sync catches up within a day), or set another mirror in /etc/apt/sources.list(.d), then run this command again"
  } >&2
  return 1
}
