#!/usr/bin/env bash
# Installs everything the build and the tests need on a Debian 12 machine, mmdebstrap included for
# the Debian 13 root of scripts/wine10.sh, and fetches the bundled voice's sources and data
# (scripts/voice-fetch.sh); open-jtalk is Debian's own synthesizer, the reference our voice is
# tested against. Idempotent; must run as root. Does nothing when all
# packages are present. Command outputs are read whole before they are searched: under pipefail, a
# grep -q that stops reading early would make the writer fail by chance.
set -euo pipefail
. "$(dirname "$0")/apt.sh"

PKGS=(cmake ninja-build g++ clang libclang-rt-14-dev googletest libgtest-dev libbenchmark-dev
      g++-mingw-w64-i686 g++-mingw-w64-x86-64 mingw-w64-tools wine wine32:i386 wine64 xvfb xauth x11-utils imagemagick
      locales fonts-ipafont-gothic fonts-ipafont-mincho fonts-wine zip unzip mmdebstrap
      dpkg-dev patch open-jtalk pulseaudio pulseaudio-utils sox)

need=()
for p in "${PKGS[@]}"; do
  [ "$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null)" = 'install ok installed' ] || need+=("$p")
done
if ! grep -qx i386 <<< "$(dpkg --print-foreign-architectures)"; then
  dpkg --add-architecture i386
  need+=(wine32:i386)
fi
if [ ${#need[@]} -gt 0 ]; then
  if [ "$(id -u)" != 0 ]; then
    echo "setup: missing packages (${need[*]}); run as root" >&2
    exit 1
  fi
  export DEBIAN_FRONTEND=noninteractive
  koe_apt_update
  koe_apt_install "${need[@]}"
fi

# ja_JP.UTF-8 gives Wine the Japanese code page 932; hi_IN (a locale without an ANSI code page)
# gives it UTF-8, for the test of a system whose code page is not Shift-JIS.
locales=$(locale -a 2>/dev/null || true)
missing_locale=0
for l in ja_JP hi_IN; do
  if ! grep -qiE "^${l}\.utf-?8$" <<<"$locales"; then
    sed -i "s/^# *${l}.UTF-8 UTF-8/${l}.UTF-8 UTF-8/; s/^# *${l} UTF-8/${l} UTF-8/" /etc/locale.gen
    grep -qE "^${l}(\.UTF-8)? UTF-8" /etc/locale.gen || echo "${l} UTF-8" >> /etc/locale.gen
    missing_locale=1
  fi
done
if [ $missing_locale = 1 ]; then locale-gen; fi

# The bundled voice's sources and data (once per machine; its own private apt lists).
bash "$(dirname "$0")/voice-fetch.sh"
