#!/usr/bin/env bash
# Makes the ZIP package of a Windows build tree and checks what a user gets.
# usage: check_package.sh BUILD_DIR ZIP_NAME BITS [E2E_TEST_EXE WINEPREFIX]
#        check_package.sh --self-test   (the README check on made-up files)
# Always: the ZIP holds exactly the program, the control with its voice (the four dictionary files
# and the HTS voice) and the third-party licences, koesend, the manual and the Shift-JIS README,
# and the programs (and the program's manifest) are of the tree's width (32: i386, 64: x86-64). With the test program
# and the prefix: the ZIP unpacked into the prefix as a user would, the control registered from
# there, Koemado run from the unpacked folder and the manual opened.
set -euo pipefail

# Whether a file is Shift-JIS text with the install steps (it names regsvr32), wherever they stand.
# The text is read whole: a reader that stopped at the word would fail the writer by chance.
readme_has_steps() {
  local text
  text=$(iconv -f CP932 -t UTF-8 "$1") && [[ $text == *regsvr32* ]]
}

if [ "${1:-}" = --self-test ]; then
  tmp=$(mktemp -d)
  trap 'rm -rf "$tmp"' EXIT
  # The steps first, then more text than a pipe holds; and the same text without them.
  awk 'BEGIN { for (i = 0; i < 2000; i++) print "声窓を使う前に、読み上げソフトを起動してください。" }' >"$tmp/rest"
  { echo 'regsvr32 PtSvr.ocx'; cat "$tmp/rest"; } | iconv -f UTF-8 -t CP932 >"$tmp/steps-first.txt"
  iconv -f UTF-8 -t CP932 "$tmp/rest" >"$tmp/no-steps.txt"
  status=0
  readme_has_steps "$tmp/steps-first.txt" || { echo "steps on the first line of a long README not found"; status=1; }
  if readme_has_steps "$tmp/no-steps.txt"; then echo "a README without the steps passed"; status=1; fi
  [ $status != 0 ] || echo "the README check reads the whole text"
  exit $status
fi

build=$1 zip=$2 bits=$3
here=$(cd "$(dirname "$0")" && pwd)
cd "$build"
cpack -G ZIP >/dev/null
if [ $# -ge 5 ]; then
  e2e=$4 prefix=$5
  dest="$prefix/drive_c/KoemadoPackageTest"
else
  prefix= dest=$(mktemp -d)
fi
trap 'rm -rf "$dest"' EXIT
rm -rf "$dest"
mkdir -p "$dest"
unzip -q "$build/$zip" -d "$dest"

# The machine field of a PE file's header, four hex digits: 014c (i386) or 8664 (x86-64).
pe_machine() {
  local at
  at=$(od -An -tu4 -j 60 -N 4 "$1" | tr -d ' ')
  od -An -tx2 -j $((at + 4)) -N 2 "$1" | tr -d ' '
}
want_machine=014c
[ "$bits" = 64 ] && want_machine=8664

status=0
voice=(Koemado/voice/dic/sys.dic Koemado/voice/dic/unk.dic Koemado/voice/dic/char.bin
       Koemado/voice/dic/matrix.bin Koemado/voice/nitech_jp_atr503_m001.htsvoice)
for f in Koemado/Koemado.exe Koemado/PtSvr.ocx Koemado/koesend.exe README_ja.txt \
         Help/Koemado_html/html/HID00000001.htm Koemado/THIRD-PARTY.txt "${voice[@]}"; do
  if [ ! -f "$dest/$f" ]; then echo "package lacks $f"; status=1; fi
done
[ $status = 0 ] || exit $status
for f in Koemado/Koemado.exe Koemado/PtSvr.ocx Koemado/koesend.exe; do
  machine=$(pe_machine "$dest/$f")
  if [ "$machine" != "$want_machine" ]; then
    echo "$f in $zip is for machine $machine, not the $bits-bit $want_machine"; status=1
  fi
done
# The common controls of version 6 (button images, themes) come only with a manifest that names
# the program's own processor.
want_arch=x86
[ "$bits" = 64 ] && want_arch=amd64
archs=$(grep -ao 'processorArchitecture="[^"]*"' "$dest/Koemado/Koemado.exe" | sort -u | tr '\n' ' ')
if [ "$archs" != "processorArchitecture=\"$want_arch\" " ]; then
  echo "Koemado.exe's manifest names $archs, not $want_arch only"; status=1
fi
unexpected=$(cd "$dest" && find . -type f | grep -vE '^\./(Koemado/(Koemado\.exe|PtSvr\.ocx|koesend\.exe|THIRD-PARTY\.txt|voice/(dic/(sys\.dic|unk\.dic|char\.bin|matrix\.bin)|nitech_jp_atr503_m001\.htsvoice))|README_ja\.txt|Help/Koemado_html/html/[^/]+)$' || true)
if [ -n "$unexpected" ]; then echo "package holds unexpected files: $unexpected"; status=1; fi
if ! readme_has_steps "$dest/README_ja.txt"; then
  echo "README_ja.txt is not Shift-JIS text with the install steps"; status=1
fi
# The credit the voice's licence asks for, and every licence's text.
notices=$(cat "$dest/Koemado/THIRD-PARTY.txt")
for must in "nitech_jp_atr503_m001" "creativecommons.org/licenses/by/3.0" "Open JTalk" "MeCab" \
            "naist-jdic" "hts_engine API" "winpthreads" "Permission is hereby granted"; do
  [[ $notices == *"$must"* ]] || { echo "THIRD-PARTY.txt does not name $must"; status=1; }
done
[ $status = 0 ] || exit $status
[ -n "$prefix" ] || { echo "$zip: contents as expected ($bits-bit)"; exit 0; }

export KOE_TEST_PACKAGE_DIR='C:\KoemadoPackageTest'
export KOE_TEST_EXE='C:\KoemadoPackageTest\Koemado\Koemado.exe'
export KOE_TEST_OCX='C:\KoemadoPackageTest\Koemado\PtSvr.ocx'
"$here/../../scripts/wine-run" "$prefix" "$bits" "$e2e" --gtest_filter='Package.*'
