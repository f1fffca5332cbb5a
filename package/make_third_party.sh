#!/usr/bin/env bash
# THIRD-PARTY.txt of the ZIP: our overview (THIRD-PARTY-head.txt) and the licence texts as the
# fetched sources and Debian's packages carry them, in UTF-8 with a byte order mark and CR LF.
#   usage: make_third_party.sh OUT VOICE_DIR MINGW_COPYRIGHT
set -euo pipefail
out=$1 voice=$2 mingw=$3
here=$(cd "$(dirname "$0")" && pwd)
section() { printf '\n\n==== %s ====\n\n' "$1"; }
# A paragraph of a Debian copyright file: the one whose first line is exactly $2, to its end.
paragraph() { awk -v start="$2" 'prev == "" && $0 == start { on = 1 } on && /^$/ { exit } on { print } { prev = $0 }' "$1"; }
{
  printf '\xef\xbb\xbf'
  cat "$here/THIRD-PARTY-head.txt"
  section "Open JTalk 1.11"; cat "$voice/src/open-jtalk/COPYING"
  section "MeCab (in Open JTalk)"; cat "$voice/src/open-jtalk/mecab/COPYING"
  section "naist-jdic (the dictionary)"; cat "$voice/copyright/naist-jdic.COPYING"
  section "hts_engine API 1.10"; cat "$voice/src/htsengine/COPYING"
  section "HTS voice nitech_jp_atr503_m001"
  paragraph "$voice/copyright/hts-voice-nitech-jp-atr503-m001" "Files: *"
  section "winpthreads (mingw-w64)"
  paragraph "$mingw" "Files: mingw-w64-libraries/winpthreads/*"
  paragraph "$mingw" "License: expat" | sed 's/^ \.$//; s/^ //'
} | sed 's/\r*$/\r/' >"$out.new"
for must in "Nagoya Institute of Technology" "Taku Kudo" "Nara Institute of Science and Technology" \
            "hts_engine API" "CC-BY-3.0" "Permission is hereby granted"; do
  grep -q "$must" "$out.new" || { echo "make_third_party: no \"$must\" in $out" >&2; exit 1; }
done
mv "$out.new" "$out"
