#!/usr/bin/env bash
# Debian 13's Wine 10.0 beside this machine's own (Debian 12's 8.0): a Debian 13 ("trixie") root
# with Wine 10.0 and both its loaders, Xvfb, the ja_JP.UTF-8 and hi_IN locales (the Japanese code
# page, and one whose code page is UTF-8) and the IPA fonts, made once
# per machine in /var/cache/koemado and used by every clone. Both commands need root.
#
#   wine10.sh make                   makes the root unless it is there (about a minute)
#   wine10.sh run BUILD_DIR CMD...   runs CMD with Wine 10.0 for the tests of BUILD_DIR
#
# run: CMD itself runs on this machine (the host's CMake, CTest and mingw build and test); only the
# Wine commands of wine-env.sh, told by KOE_WINE_ROOT, run inside the root. CMD runs in a mount
# namespace of its own, in which the root gets /proc, /dev, /tmp (the display's socket, the tests'
# temporary files) and this repository bound in at their own paths, and BUILD_DIR/wineprefix, the
# prefix its tests name, is BUILD_DIR/wineprefix-wine10: the two Wines never share a prefix. The
# mounts exist only in that namespace, so they are gone when CMD ends, however it ends.
set -euo pipefail
here=$(cd "$(dirname "$0")" && pwd)
repo=$(dirname "$here")
cache=/var/cache/koemado
root=$cache/debian13-wine10
packages=wine,wine32:i386,wine64,xvfb,x11-utils,locales,fonts-ipafont-gothic,fonts-ipafont-mincho,fonts-wine,libpulse0,libpulse0:i386
# What the root was made with: a root made otherwise is made again.
recipe="trixie minbase amd64,i386 $packages ja_JP.UTF-8 hi_IN"

[ "$(id -u)" = 0 ] || { echo "wine10: the Debian 13 root needs root" >&2; exit 1; }
made() { [ "$(cat "$root/.koe-recipe" 2>/dev/null)" = "$recipe" ]; }
# A run holds the lock shared (its children inherit it); making the root holds it alone.
lock() { mkdir -p "$cache"; exec 9>"$cache/.lock"; flock "$@" 9; }

case ${1:-} in
  make)
    made && exit 0
    lock
    made && exit 0
    echo "wine10: making the Debian 13 root $root ..." >&2
    rm -rf "$root"
    # mmdebstrap mounts /proc, /dev and the like into the new root while it works: in a namespace
    # of its own they cannot outlive it. A mirror out of step fails it for a while: three tries.
    strap() {
      rm -rf "$root.new"
      unshare --mount --propagation private \
        mmdebstrap --quiet --variant=minbase --architectures=amd64,i386 --include="$packages" \
          --customize-hook='printf "ja_JP.UTF-8 UTF-8\nhi_IN UTF-8\n" > "$1/etc/locale.gen"' \
          --customize-hook='chroot "$1" locale-gen >/dev/null' \
          trixie "$root.new"
    }
    . "$here/apt.sh"
    if ! koe_retry 3 30 strap; then
      echo "wine10: mmdebstrap could not make the Debian 13 root from deb.debian.org after 3 tries (above); try again later or when the mirror is in sync" >&2
      exit 1
    fi
    echo "$recipe" >"$root.new/.koe-recipe"
    mv "$root.new" "$root"
    echo "wine10: ready, with Wine $(chroot "$root" dpkg-query -W -f='${Version}' wine)" >&2 ;;

  run)
    [ $# -ge 3 ] || { echo "usage: wine10.sh run BUILD_DIR CMD..." >&2; exit 2; }
    tree=$(cd "$2" && pwd)
    case $tree/ in "$repo"/*) ;; *) echo "wine10: $tree is not in $repo" >&2; exit 2 ;; esac
    lock -s
    made || { echo "wine10: no Debian 13 root; make it with: bash scripts/wine10.sh make" >&2; exit 1; }
    shift 2
    exec unshare --mount --propagation private bash "$0" inside "$tree" "$@" ;;

  inside)  # run, within its namespace
    tree=$2
    shift 2
    mkdir -p "$tree/wineprefix" "$tree/wineprefix-wine10"
    mount --bind "$tree/wineprefix-wine10" "$tree/wineprefix"
    for dir in /proc /dev /tmp "$repo"; do
      mkdir -p "$root$dir"
      mount --rbind "$dir" "$root$dir"
    done
    export KOE_WINE_ROOT=$root
    exec "$@" ;;

  *) echo "usage: wine10.sh make | run BUILD_DIR CMD..." >&2; exit 2 ;;
esac
