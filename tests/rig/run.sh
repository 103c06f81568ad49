#!/usr/bin/env bash
# Runs a test command inside the test rig and tears the rig down afterwards,
# also when the command fails or the run is interrupted.
#
# The rig is a sound server of our own: a PulseAudio daemon with a null sink
# (8000 Hz mono s16) as the default sink and a pipe source of the same format as
# the default source, and ALSA pointed at it through the pulse plugin. Nothing
# here opens the machine's sound hardware or reads the user's sound settings:
# the daemon loads only the modules below, and ALSA reads only our file.
#
# What the command sees (absolute paths, so test programs started later by
# ctest inherit them unchanged):
#   ALSA_CONFIG_PATH        tests/rig/alsa-pulse.conf (pcm and ctl of type pulse)
#   PULSE_SERVER, PULSE_RUNTIME_PATH, PULSE_CLIENTCONFIG, PULSE_COOKIE
#   TAVOLEN_RIG_MIC         the pipe source's fifo: bytes written there are what
#                           the default capture device records
#   TAVOLEN_RIG_MONITOR     the name of the default sink's monitor source
#   TAVOLEN_RIG_NOCARD      an ALSA configuration with no card at all
set -u

here=$(cd "$(dirname "$0")" && pwd)

if [ $# -eq 0 ]; then
  echo "usage: $0 command [args...]" >&2
  exit 2
fi

if ! command -v pulseaudio >/dev/null 2>&1; then
  echo "test rig: pulseaudio is not installed (run scripts/setup.sh)" >&2
  exit 1
fi

rig=$(mktemp -d "${TMPDIR:-/tmp}/tavolen-rig.XXXXXX") || exit 1
daemon=""

stop_rig() {
  if [ -n "$daemon" ] && kill -0 "$daemon" 2>/dev/null; then
    kill -TERM "$daemon" 2>/dev/null
    for _ in $(seq 50); do
      kill -0 "$daemon" 2>/dev/null || break
      sleep 0.1
    done
    kill -KILL "$daemon" 2>/dev/null
    wait "$daemon" 2>/dev/null
  fi
  daemon=""
  rm -rf "$rig"
}
trap stop_rig EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

mkdir -p "$rig/home" "$rig/runtime" "$rig/state"
: > "$rig/cookie"
printf 'autospawn = no\n' > "$rig/client.conf"
cat > "$rig/rig.pa" <<EOF
load-module module-native-protocol-unix socket=$rig/native auth-anonymous=1
load-module module-null-sink sink_name=rig_sink format=s16le rate=8000 channels=1
load-module module-pipe-source source_name=rig_mic file=$rig/mic format=s16le rate=8000 channels=1
set-default-sink rig_sink
set-default-source rig_mic
EOF

# The daemon gets its own home, runtime and state directories and no stdin;
# its output goes to a log so that a pipe reading the test output is not held
# open by it.
(
  cd "$rig" || exit 1
  export HOME="$rig/home" XDG_CONFIG_HOME="$rig/home" XDG_RUNTIME_DIR="$rig/runtime"
  export PULSE_RUNTIME_PATH="$rig/runtime" PULSE_STATE_PATH="$rig/state"
  export PULSE_CLIENTCONFIG="$rig/client.conf" PULSE_COOKIE="$rig/cookie"
  unset PULSE_SERVER DBUS_SESSION_BUS_ADDRESS DISPLAY
  exec pulseaudio -n -F "$rig/rig.pa" --system=false --daemonize=no \
    --exit-idle-time=-1 --use-pid-file=no --realtime=no --high-priority=no \
    --disable-shm=yes --log-target=stderr --log-level=warning
) </dev/null >"$rig/daemon.log" 2>&1 &
daemon=$!

export ALSA_CONFIG_PATH="$here/alsa-pulse.conf"
export PULSE_SERVER="unix:$rig/native"
export PULSE_RUNTIME_PATH="$rig/runtime"
export PULSE_CLIENTCONFIG="$rig/client.conf"
export PULSE_COOKIE="$rig/cookie"
export TAVOLEN_RIG_MIC="$rig/mic"
export TAVOLEN_RIG_MONITOR="rig_sink.monitor"
export TAVOLEN_RIG_NOCARD="$here/alsa-nocard.conf"

ready=0
for _ in $(seq 100); do
  if [ -S "$rig/native" ] && [ -p "$rig/mic" ] && pactl info >/dev/null 2>&1; then
    ready=1
    break
  fi
  kill -0 "$daemon" 2>/dev/null || break
  sleep 0.1
done
if [ $ready -ne 1 ]; then
  echo "test rig: the sound server did not start; its log:" >&2
  cat "$rig/daemon.log" >&2
  exit 1
fi

"$@"
exit $?
