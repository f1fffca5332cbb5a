#!/usr/bin/env bash
# The reference of every row of reference.tsv: Debian's open_jtalk speaking each piece with the
# row's options, as OUT/<name>-<k>.wav (k from 1).   usage: make_references.sh TABLE OUT VOICE_DIR
set -euo pipefail
table=$1 out=$2 voice=$3
mkdir -p "$out"
while IFS= read -r line; do
  case $line in '#'* | '') continue ;; esac
  # Tabs made into a separator that is not white space, so that an empty field stays a field.
  IFS=$'\x1f' read -r name speed pitch volume options text <<<"${line//$'\t'/$'\x1f'}"
  k=0
  IFS='|' read -r -a pieces <<<"$text"
  for piece in "${pieces[@]}"; do
    k=$((k + 1))
    # shellcheck disable=SC2086
    printf '%s\n' "$piece" | open_jtalk -x "$voice/dic" -m "$voice/nitech_jp_atr503_m001.htsvoice" \
      $options -ow "$out/$name-$k.wav"
  done
done <"$table"
touch "$out/.made"
