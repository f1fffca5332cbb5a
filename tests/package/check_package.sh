#!/usr/bin/env bash
# Makes the ZIP package, unpacks it into the Wine prefix as a user would, registers the control
# from there, runs Koemado from the unpacked folder and opens the manual.
# usage: check_package.sh BUILD_DIR E2E_TEST_EXE WINEPREFIX
set -euo pipefail
build=$1 e2e=$2
here=$(cd "$(dirname "$0")" && pwd)
cd "$build"
cpack -G ZIP >/dev/null
zip="$build/Koemado-2.1-win32.zip"
dest="$3/drive_c/KoemadoPackageTest"
rm -rf "$dest"
mkdir -p "$dest"
unzip -q "$zip" -d "$dest"

status=0
for f in Koemado/Koemado.exe Koemado/PtSvr.ocx Koemado/koesend.exe README_ja.txt \
         Help/Koemado_html/html/HID00000001.htm; do
  if [ ! -f "$dest/$f" ]; then echo "package lacks $f"; status=1; fi
done
unexpected=$(cd "$dest" && find . -type f | grep -vE '^\./(Koemado/(Koemado\.exe|PtSvr\.ocx|koesend\.exe)|README_ja\.txt|Help/Koemado_html/html/[^/]+)$' || true)
if [ -n "$unexpected" ]; then echo "package holds unexpected files: $unexpected"; status=1; fi
if ! iconv -f CP932 -t UTF-8 "$dest/README_ja.txt" | grep -q 'regsvr32'; then
  echo "README_ja.txt is not Shift-JIS text with the install steps"; status=1
fi
[ $status = 0 ] || exit $status

export KOE_TEST_PACKAGE_DIR='C:\KoemadoPackageTest'
export KOE_TEST_EXE='C:\KoemadoPackageTest\Koemado\Koemado.exe'
export KOE_TEST_OCX='C:\KoemadoPackageTest\Koemado\PtSvr.ocx'
rc=0
"$here/../../scripts/wine-run" "$3" "$e2e" --gtest_filter='Package.*' || rc=$?
rm -rf "$dest"
exit $rc
