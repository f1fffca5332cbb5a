# Shell functions for hearing what Wine plays: a PulseAudio server of our own with one null sink,
# and a recording of that sink. Source this file (as root, like CI, or as a user).
#
# koe_audio_start        starts the server in a new folder /tmp/koe-audio.XXXXXX (KOE_AUDIO_DIR)
#                        and exports PULSE_SERVER and PULSE_CLIENTCONFIG, through which the Wine
#                        started after it, this machine's or Debian 13's inside scripts/wine10.sh
#                        (which binds /tmp into its root), plays to the sink
# koe_audio_record FILE  records the sink into FILE, raw 16-bit mono PCM at 48000 Hz, until
#                        koe_audio_stop; exports KOE_AUDIO_CAPTURE=FILE for the tests
# koe_audio_save WAV     stops the recording and writes it to WAV, its leading and trailing silence
#                        trimmed (no samples at all when nothing sounded)
# koe_audio_play WAV     plays WAV on the machine's own sound, a user's PulseAudio or an ALSA card
#                        (call it after koe_audio_stop); false where there is none
# koe_audio_stop         stops the recording and the server, by their PIDs; puts PULSE_SERVER and
#                        PULSE_CLIENTCONFIG back as they were; removes the folder, unless
#                        KOE_AUDIO_KEEP=1 (then it says where it is)
#
# The server is started with -n and only the modules of its own script, its own runtime, state
# and configuration folders, no D-Bus and no autospawn for its clients, so it neither reads nor
# changes a user's own PulseAudio or ALSA set-up; a user's server goes on beside it. Both it and
# the recording end with the shell that started them (--pdeathsig), also when that shell is killed.
#
# The sink: 48000 Hz, mono, s16le, without rewinds (with them, the start of a sound that begins
# while the sink has already rendered ahead can be lost for the recording). What was measured:
# - The recording is continuous: with nothing playing the sink's monitor streams zeros, so the file
#   grows by 96000 bytes a second from the moment it starts (after about half a second for the
#   recording to connect), and a sample's offset in the file is its time.
# - Latency: a sound's first sample lands in the file 0-15 ms past the file's end at the moment it
#   was written to waveOut, and its last sample is in the file 0-3 ms after waveOut returned its
#   buffer as played (Wine 8.0 and 10.0, 32- and 64-bit). Wine paces waveOut in real time here:
#   the last buffer of a sound comes back when its duration has passed, not when it was copied.
# - On a busy machine Wine's driver is sometimes late; the server then finds its buffer empty and
#   plays zeros for a while (5-300 ms seen with the other cores busy), and the sound goes on after
#   them with nothing lost. tests/support/sound.h's WithoutDropouts takes such runs out.
#
# A Wine with no audio device at all (waveOutGetNumDevs() == 0): disable its audio drivers with
# WINEDLLOVERRIDES, e.g. "mscoree,mshtml,winepulse.drv,winealsa.drv,wineoss.drv,winecoreaudio.drv="
# (the tests' CTest entry windows_ptsvr_wave_player_no_device does). It is one process's
# environment, the same for both Wines, and does not depend on what the machine has: the prefix's
# HKCU\Software\Wine\Drivers "Audio" value would do as much but for every program of the prefix,
# and hiding the servers and cards from the drivers depends on the machine's ALSA set-up.

KOE_AUDIO_DIR='' KOE_AUDIO_SERVER_PID='' KOE_AUDIO_RECORD_PID=''
KOE_AUDIO_SINK=koe_tests

koe_audio_start() {
  local dir
  dir=$(mktemp -d /tmp/koe-audio.XXXXXX) || return 1
  mkdir -p "$dir/home" "$dir/config" "$dir/state"
  cat >"$dir/server.pa" <<EOF
load-module module-native-protocol-unix socket=$dir/native auth-anonymous=1
load-module module-null-sink sink_name=$KOE_AUDIO_SINK rate=48000 channels=1 format=s16le norewinds=1 sink_properties=device.description=Koemado-tests
set-default-sink $KOE_AUDIO_SINK
EOF
  echo "autospawn = no" >"$dir/client.conf"
  setpriv --pdeathsig TERM env -i PATH=/usr/bin:/bin HOME="$dir/home" XDG_CONFIG_HOME="$dir/config" \
    XDG_RUNTIME_DIR="$dir" PULSE_RUNTIME_PATH="$dir" PULSE_STATE_PATH="$dir/state" \
    DBUS_SESSION_BUS_ADDRESS=disabled: \
    pulseaudio -n -F "$dir/server.pa" --daemonize=no --system=no --fail=yes --exit-idle-time=-1 \
      --use-pid-file=no --realtime=no --high-priority=no --disallow-exit=yes \
      --log-target="file:$dir/server.log" </dev/null >/dev/null 2>&1 &
  KOE_AUDIO_SERVER_PID=$! KOE_AUDIO_DIR=$dir
  KOE_AUDIO_OLD_SERVER=${PULSE_SERVER-unset} KOE_AUDIO_OLD_CONFIG=${PULSE_CLIENTCONFIG-unset}
  export PULSE_SERVER="unix:$dir/native" PULSE_CLIENTCONFIG="$dir/client.conf"
  for _ in $(seq 1 50); do
    pactl info >/dev/null 2>&1 && return 0
    kill -0 "$KOE_AUDIO_SERVER_PID" 2>/dev/null || break
    sleep 0.1
  done
  echo "audio: the tests' PulseAudio server did not start; its log, $dir/server.log:" >&2
  cat "$dir/server.log" >&2 2>/dev/null
  koe_audio_stop
  return 1
}

koe_audio_record() {
  local file=$1 size
  [ -n "$KOE_AUDIO_SERVER_PID" ] || { echo "audio: no server to record (koe_audio_start)" >&2; return 1; }
  : >"$file"
  setpriv --pdeathsig TERM parec --device="$KOE_AUDIO_SINK.monitor" --format=s16le --rate=48000 \
    --channels=1 --raw --latency-msec=10 >"$file" 2>"$KOE_AUDIO_DIR/record.log" </dev/null &
  KOE_AUDIO_RECORD_PID=$!
  for _ in $(seq 1 50); do
    size=$(stat -c %s "$file" 2>/dev/null || echo 0)
    if [ "$size" -gt 0 ]; then
      export KOE_AUDIO_CAPTURE=$file
      return 0
    fi
    sleep 0.1
  done
  echo "audio: the recording of the tests' sink did not start: $(cat "$KOE_AUDIO_DIR/record.log")" >&2
  return 1
}

koe_audio_save() {
  if [ -n "$KOE_AUDIO_RECORD_PID" ]; then
    sleep 0.2  # what was played last reaches the file a few ms later
    kill "$KOE_AUDIO_RECORD_PID" 2>/dev/null
    wait "$KOE_AUDIO_RECORD_PID" 2>/dev/null
    KOE_AUDIO_RECORD_PID=
  fi
  sox -q -t raw -r 48000 -e signed-integer -b 16 -c 1 "$KOE_AUDIO_CAPTURE" "$1" \
    silence 1 0.01 0.1% reverse silence 1 0.01 0.1% reverse
}

koe_audio_play() {
  local socket=${XDG_RUNTIME_DIR:-/run/user/$(id -u)}/pulse/native
  # Named explicitly, a server that is not there is not started (no autospawn).
  if [ -n "${PULSE_SERVER:-}" ] || [ -S "$socket" ]; then
    paplay --server="${PULSE_SERVER:-unix:$socket}" "$1" 2>/dev/null && return 0
  fi
  local cards
  cards=$(cat /proc/asound/cards 2>/dev/null || true)
  if grep -qE '^ *[0-9]+ ' <<<"$cards"; then
    sox -q "$1" -t alsa default 2>/dev/null && return 0
  fi
  return 1
}

koe_audio_stop() {
  local pid
  for pid in "$KOE_AUDIO_RECORD_PID" "$KOE_AUDIO_SERVER_PID"; do
    [ -n "$pid" ] || continue
    kill "$pid" 2>/dev/null
    wait "$pid" 2>/dev/null
  done
  KOE_AUDIO_RECORD_PID='' KOE_AUDIO_SERVER_PID=''
  unset KOE_AUDIO_CAPTURE
  if [ -n "$KOE_AUDIO_DIR" ]; then
    if [ "${KOE_AUDIO_KEEP:-0}" = 1 ]; then
      echo "audio: the server's folder and the recording are kept in $KOE_AUDIO_DIR" >&2
    else
      rm -rf "$KOE_AUDIO_DIR"
    fi
    if [ "$KOE_AUDIO_OLD_SERVER" = unset ]; then unset PULSE_SERVER; else export PULSE_SERVER=$KOE_AUDIO_OLD_SERVER; fi
    if [ "$KOE_AUDIO_OLD_CONFIG" = unset ]; then unset PULSE_CLIENTCONFIG; else export PULSE_CLIENTCONFIG=$KOE_AUDIO_OLD_CONFIG; fi
    KOE_AUDIO_DIR=
  fi
  return 0
}
