# Shell functions for running Windows programs under Wine. Source this file.
# KOE_WINE_BITS=32|64 (default 32) says which Windows programs the prefix runs: 32 uses Debian's
# `wine` (its 32-bit loader) and a win32 prefix; 64 uses the 64-bit loader and a win64 prefix.
# KOE_WINE_LOCALE (default ja_JP.UTF-8) is the Unix locale, from which Wine takes the code page:
# hi_IN.UTF-8 gives a system whose code page is UTF-8 (65001).
# KOE_WINE_ROOT=DIR (set by scripts/wine10.sh) runs Wine, its server and the display from the
# system root DIR, another Debian with another Wine, instead of this machine's own.
# koe_wine_env        exports the environment every Wine run needs (WINEPREFIX must be set)
# koe_wine            runs a Windows program (or a Wine tool: reg, regsvr32, winepath.exe, ...)
# koe_sys CMD...      runs a command of the system Wine comes from (wineserver, Xvfb, ...)
# koe_prefix_init     makes WINEPREFIX ready once (wineboot, no crash dialog); fails when Wine cannot run
# koe_choose_tier     which Windows build the tests and programs run in: sets KOE_TIER, KOE_TIER_WHY
# koe_display_start   starts Xvfb on a free display when DISPLAY is unset; koe_display_stop stops it
# koe_wineserver_start / koe_wineserver_stop   keep one wineserver alive for the prefix

koe_wine_env() {
  export WINEDEBUG=${WINEDEBUG:--all}
  export LC_ALL=${KOE_WINE_LOCALE:-ja_JP.UTF-8} LANG=${KOE_WINE_LOCALE:-ja_JP.UTF-8}
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  if [ "${KOE_WINE_BITS:-32}" = 64 ]; then
    # Debian's wine, wine-stable and the tool wrappers (wineboot, regsvr32) take the 32-bit loader
    # whenever wine32 is installed, also where it cannot run: name the 64-bit one for everything.
    export WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64
  else
    export WINEARCH=win32
    unset WINELOADER
  fi
}

koe_wine() { koe_sys "$(koe_loader)" "$@"; }

koe_sys() {
  if [ -n "${KOE_WINE_ROOT:-}" ]; then chroot "$KOE_WINE_ROOT" env -C "$PWD" "$@"; else "$@"; fi
}
# The same in the background ($! is the command's own PID).
koe_sys_bg() {
  if [ -n "${KOE_WINE_ROOT:-}" ]; then chroot "$KOE_WINE_ROOT" env -C "$PWD" "$@" & else "$@" & fi
}

# The loader koe_wine uses, as one program name (for setsid and the like).
koe_loader() {
  if [ "${KOE_WINE_BITS:-32}" = 64 ]; then echo /usr/lib/wine/wine64; else command -v wine; fi
}

koe_prefix_init() {
  koe_wine_env
  if [ -f "$WINEPREFIX/.koe-ready" ]; then koe_prefix_fonts; return 0; fi
  mkdir -p "$WINEPREFIX"
  echo "wine: preparing the ${KOE_WINE_BITS:-32}-bit prefix $WINEPREFIX" >&2
  if ! koe_wine wineboot.exe -i >/dev/null 2>&1; then
    echo "wine: the ${KOE_WINE_BITS:-32}-bit prefix could not be made" >&2
    koe_sys wineserver -k >/dev/null 2>&1 || true
    return 1
  fi
  koe_wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  koe_sys wineserver -w
  koe_prefix_fonts
  touch "$WINEPREFIX/.koe-ready"
}

# Wine draws the buttons of window captions with its Marlett font. Debian's Wine does not look in
# the folder of its fonts package (fonts-wine), and the captions then show the letters "0 1 r":
# the prefix gets its own copy of the font.
koe_prefix_fonts() {
  local font=${KOE_WINE_ROOT:-}/usr/share/wine/fonts/marlett.ttf
  local fonts="$WINEPREFIX/drive_c/windows/Fonts"
  [ -f "$fonts/marlett.ttf" ] || [ ! -f "$font" ] || { mkdir -p "$fonts" && cp "$font" "$fonts/"; }
}

# usage: koe_choose_tier ROOT
# 32 where this machine runs 32-bit Windows programs, else 64; KOE_WINE_TIER=32|64 forces one.
# Tries a real one: the 32-bit koesend, built for it, run in the 32-bit tree's prefix (where the
# kernel cannot execute 32-bit Linux programs, Wine's 32-bit loader fails with "Exec format error").
koe_choose_tier() {
  local root=$1
  case ${KOE_WINE_TIER:-auto} in
    32 | 64) KOE_TIER=$KOE_WINE_TIER KOE_TIER_WHY="forced by KOE_WINE_TIER=$KOE_WINE_TIER" ;;
    auto)
      if ! (cmake --preset windows >/dev/null && cmake --build --preset windows --target koesend >/dev/null); then
        KOE_TIER=64 KOE_TIER_WHY="the 32-bit probe program did not build"
      elif koe_run_32 "$root/build/windows/wineprefix" "$root/build/windows/tools/koesend/koesend.exe" --help; then
        KOE_TIER=32 KOE_TIER_WHY="a 32-bit Windows program ran here"
      else
        KOE_TIER=64 KOE_TIER_WHY="no 32-bit Windows program runs here"
      fi ;;
    *) echo "KOE_WINE_TIER must be 32, 64 or auto, not '$KOE_WINE_TIER'" >&2; return 2 ;;
  esac
}

# usage: koe_run_32 PREFIX PROGRAM.exe [args...]: whether the program ran (exit 0) in that prefix.
koe_run_32() (
  export WINEPREFIX=$1 KOE_WINE_BITS=32
  shift
  koe_prefix_init 2>/dev/null || exit 1
  timeout 120 wine "$@" >/dev/null 2>&1 </dev/null
  rc=$?
  wineserver -k >/dev/null 2>&1 || true
  exit $rc
)

KOE_XVFB_PID=
# koe_display_start also tells the prefix whether a window manager manages its windows: on a
# display of yours one does; on our Xvfb none does (Managed=N), and Wine 8, told nothing, waits for
# one up to 2 s at every showing and hiding of a window. Call it before koe_wineserver_start.
koe_display_start() {
  if [ -n "${DISPLAY:-}" ]; then koe_window_manager Y; return 0; fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  koe_sys_bg Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1
  KOE_XVFB_PID=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 50); do
    koe_sys xdpyinfo >/dev/null 2>&1 && { koe_window_manager N; return 0; }
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
}

koe_window_manager() {  # Y|N
  local now=Y
  if grep -qs '^"Managed"="N"' "$WINEPREFIX/user.reg"; then now=N; fi
  [ "$now" != "$1" ] || return 0
  if [ "$1" = N ]; then
    koe_wine reg add 'HKCU\Software\Wine\X11 Driver' /v Managed /d N /f >/dev/null 2>&1
  else
    koe_wine reg delete 'HKCU\Software\Wine\X11 Driver' /v Managed /f >/dev/null 2>&1
  fi
  koe_sys wineserver -w
}

koe_display_stop() {
  if [ -n "$KOE_XVFB_PID" ]; then
    kill "$KOE_XVFB_PID" 2>/dev/null || true
    wait "$KOE_XVFB_PID" 2>/dev/null || true
    KOE_XVFB_PID=
  fi
}

KOE_WINESERVER_PID=
koe_wineserver_start() {
  koe_wine_env
  koe_sys_bg wineserver -f -p >/dev/null 2>&1 </dev/null
  KOE_WINESERVER_PID=$!
  # Start the prefix's background services (and the desktop) now, detached from our output:
  # started by a test instead, they would inherit its pipes and CTest would wait on them forever.
  koe_wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  koe_sys_bg setsid "$(koe_loader)" explorer.exe /desktop >/dev/null 2>&1 </dev/null
  sleep 0.5
}

koe_wineserver_stop() {
  if [ -n "$KOE_WINESERVER_PID" ]; then
    # Our prefix's server, told to stop, ends the programs still attached to it (the background
    # services, the desktop); killing its process alone would leave them behind.
    koe_sys wineserver -k >/dev/null 2>&1 || kill "$KOE_WINESERVER_PID" 2>/dev/null || true
    wait "$KOE_WINESERVER_PID" 2>/dev/null || true
    KOE_WINESERVER_PID=
  fi
}
