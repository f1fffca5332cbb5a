#!/usr/bin/env bash
# The version that the manual and the ZIP's README name is the project's own: every "Version N.N"
# and "Koemado N.N" in the files given must be VERSION, and each file must name it.
#   check_version.sh VERSION FILE...
set -uo pipefail
version=$1
shift
status=0
for file in "$@"; do
  found=$(grep -oE '(Version|Koemado) [0-9]+\.[0-9]+' "$file")
  if [ -z "$found" ]; then
    echo "$file names no version (expected $version)"
    status=1
  fi
  while read -r word number; do
    if [ -n "$word" ] && [ "$number" != "$version" ]; then
      echo "$file: \"$word $number\", but the project's version is $version"
      status=1
    fi
  done <<<"$found"
done
exit $status
