#!/usr/bin/env bash
# Fetches what the control's bundled Japanese voice is built from, once per machine, into
# /var/cache/koemado/voice (every clone on the machine reuses it): the sources of Open JTalk and
# hts_engine as Debian ships them (Debian's own patches applied), the compiled naist-jdic
# dictionary and the nitech HTS voice. The machine's apt configuration is not touched: a private
# sources list (Debian 12's main and contrib, binaries and sources) and private lists.
#   voice-fetch.sh          fetches unless already there; prints nothing then
#   voice-fetch.sh --dir    prints the folder
# Needs root the first time (the folder is the machine's). Layout of the folder:
#   src/open-jtalk, src/htsengine   the unpacked source packages
#   dic/                            sys.dic unk.dic char.bin matrix.bin (the four read at run time)
#   nitech_jp_atr503_m001.htsvoice  the voice
#   copyright/                      Debian's copyright files of all four, and the voice's COPYING
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
dest=/var/cache/koemado/voice
suite=bookworm
sources=(open-jtalk=1.11-3 htsengine=1.10-6)
debs=(open-jtalk-mecab-naist-jdic=1.11-3 hts-voice-nitech-jp-atr503-m001=1.05-7)
recipe="$suite ${sources[*]} ${debs[*]}"

if [ "${1:-}" = --dir ]; then echo "$dest"; exit 0; fi
[ "$(cat "$dest/.koe-recipe" 2>/dev/null)" = "$recipe" ] && exit 0
[ "$(id -u)" = 0 ] || { echo "voice-fetch: the voice's sources and data are fetched once, as root" >&2; exit 1; }
. "$here/apt.sh"

mkdir -p /var/cache/koemado
exec 9>/var/cache/koemado/.voice-lock
flock 9
[ "$(cat "$dest/.koe-recipe" 2>/dev/null)" = "$recipe" ] && exit 0
echo "voice-fetch: fetching the voice's sources and data into $dest ..." >&2
work=$dest.new
rm -rf "$work"
mkdir -p "$work/apt/lists/partial" "$work/apt/cache/archives/partial" "$work/get"
cat >"$work/apt/sources.list" <<EOF
deb [arch=amd64] http://deb.debian.org/debian $suite main contrib
deb-src http://deb.debian.org/debian $suite main contrib
EOF
apt_opts=(-o "Dir::Etc::sourcelist=$work/apt/sources.list" -o Dir::Etc::sourceparts=/nonexistent
          -o "Dir::State::Lists=$work/apt/lists" -o "Dir::Cache=$work/apt/cache"
          -o APT::Architectures=amd64 -o APT::Get::Only-Source=true -o Debug::NoLocking=true)
koe_apt_update "${apt_opts[@]}"
fetch() {
  (cd "$work/get" && apt-get "${apt_opts[@]}" -q source --download-only "${sources[@]}" &&
     apt-get "${apt_opts[@]}" -q download "${debs[@]}")
}
if ! koe_retry 3 "${KOE_APT_PAUSE:-5}" fetch; then
  echo "voice-fetch: could not download ${sources[*]} (sources) and ${debs[*]} from deb.debian.org${KOE_APT_FAILED:+ (index that failed: $KOE_APT_FAILED)}; try again later" >&2
  exit 1
fi

mkdir -p "$work/src" "$work/dic" "$work/copyright" "$work/deb"
for dsc in "$work"/get/*.dsc; do
  name=$(basename "$dsc" | sed 's/_.*//')
  dpkg-source --no-check -x "$dsc" "$work/src/$name" >/dev/null
done
for deb in "$work"/get/*.deb; do dpkg-deb -x "$deb" "$work/deb"; done
for f in sys.dic unk.dic char.bin matrix.bin; do
  cp "$work/deb/var/lib/mecab/dic/open-jtalk/naist-jdic/$f" "$work/dic/$f"
done
cp "$work/deb/usr/share/hts-voice/nitech-jp-atr503-m001/nitech_jp_atr503_m001.htsvoice" "$work/"
for p in open-jtalk-mecab-naist-jdic hts-voice-nitech-jp-atr503-m001; do
  cp "$work/deb/usr/share/doc/$p/copyright" "$work/copyright/$p"
done
for name in open-jtalk htsengine; do cp "$work/src/$name/debian/copyright" "$work/copyright/$name"; done
# The dictionary's licence texts (NAIST, UniDic, Open JTalk); its sources are not needed.
cp "$work/src/open-jtalk/mecab-naist-jdic/COPYING" "$work/copyright/naist-jdic.COPYING"
rm -rf "$work/get" "$work/apt" "$work/deb" "$work/src/open-jtalk/mecab-naist-jdic" "$work"/src/*.tar.*
echo "$recipe" >"$work/.koe-recipe"
rm -rf "$dest"
mv "$work" "$dest"
echo "voice-fetch: ready in $dest" >&2
