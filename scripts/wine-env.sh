# Shell functions for running Windows programs under Wine. Source this file.
# koe_wine_env        exports the environment every Wine run needs (WINEPREFIX must be set)
# koe_prefix_init     makes WINEPREFIX ready once (wineboot, no crash dialog)
# koe_display_start   starts Xvfb on a free display when DISPLAY is unset; koe_display_stop stops it
# koe_wineserver_start / koe_wineserver_stop   keep one wineserver alive for the prefix

koe_wine_env() {
  export WINEDEBUG=${WINEDEBUG:--all}
  export LC_ALL=ja_JP.UTF-8 LANG=ja_JP.UTF-8
  export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
  export WINEARCH=win32
}

koe_prefix_init() {
  koe_wine_env
  if [ -f "$WINEPREFIX/.koe-ready" ]; then return 0; fi
  mkdir -p "$WINEPREFIX"
  echo "wine: preparing prefix $WINEPREFIX" >&2
  wineboot -i >/dev/null 2>&1 || true
  wine reg add 'HKCU\Software\Wine\WineDbg' /v ShowCrashDialog /t REG_DWORD /d 0 /f >/dev/null 2>&1
  wineserver -w
  touch "$WINEPREFIX/.koe-ready"
}

KOE_XVFB_PID=
koe_display_start() {
  if [ -n "${DISPLAY:-}" ]; then return 0; fi
  local n=90
  while [ -e "/tmp/.X$n-lock" ] || [ -e "/tmp/.X11-unix/X$n" ]; do n=$((n + 1)); done
  Xvfb ":$n" -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
  KOE_XVFB_PID=$!
  export DISPLAY=":$n"
  local i
  for i in $(seq 1 50); do
    xdpyinfo >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  echo "Xvfb did not start on :$n" >&2
  return 1
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
  wineserver -f -p >/dev/null 2>&1 </dev/null &
  KOE_WINESERVER_PID=$!
  # Start the prefix's background services (and the desktop) now, detached from our output:
  # started by a test instead, they would inherit its pipes and CTest would wait on them forever.
  wine cmd.exe /c exit >/dev/null 2>&1 </dev/null || true
  setsid wine explorer.exe /desktop >/dev/null 2>&1 </dev/null &
  sleep 0.5
}

koe_wineserver_stop() {
  if [ -n "$KOE_WINESERVER_PID" ]; then
    # Our prefix's server, told to stop, ends the programs still attached to it (the background
    # services, the desktop); killing its process alone would leave them behind.
    wineserver -k >/dev/null 2>&1 || kill "$KOE_WINESERVER_PID" 2>/dev/null || true
    wait "$KOE_WINESERVER_PID" 2>/dev/null || true
    KOE_WINESERVER_PID=
  fi
}
