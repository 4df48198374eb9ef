#!/usr/bin/env bash
# A private sound server with virtual devices, for machines that have no sound server
# (containers, build machines, remote shells):
#   playback devices   "Virtual Speaker 1", "Virtual Speaker 2" (they play into nothing;
#                      each has a monitor that records what it plays)
#   recording device   "Tone Generator 440 Hz (Line In)", a steady sine tone
#
# The tone is played into a third virtual speaker, "Tone Generator Feed", and recorded
# from there: the server's own sine source hands out its sound in blocks of two seconds,
# far more than a route's buffers hold, so a route from it would play in bursts. The
# feed and its monitor show among the devices too.
#
#   scripts/virtual-sound.sh start FOLDER   starts it, prints PULSE_SERVER=unix:FOLDER/native
#   scripts/virtual-sound.sh stop FOLDER    stops it and removes FOLDER
#
# FOLDER should be new or empty (mktemp -d); it holds the server's socket, state and log.
# The server has no session bus, no real-time scheduling and no autospawned siblings;
# it answers only at FOLDER/native. Listen to a speaker by recording its monitor, e.g.
#   PULSE_SERVER=unix:FOLDER/native parec -d virtual_speaker_1.monitor --file-format=wav > out.wav
set -euo pipefail

usage() {
  echo "usage: $0 start|stop FOLDER" >&2
  exit 2
}
[ $# -eq 2 ] || usage
action=$1
dir=$2

case "$action" in
start)
  command -v pulseaudio >/dev/null || { echo "pulseaudio is not installed (scripts/install-deps.sh)" >&2; exit 1; }
  mkdir -p "$dir"/runtime "$dir"/state "$dir"/home
  dir=$(cd "$dir" && pwd)
  cat >"$dir/daemon.pa" <<EOF
load-module module-null-sink sink_name=virtual_speaker_1 sink_properties="device.description='Virtual Speaker 1'"
load-module module-null-sink sink_name=virtual_speaker_2 sink_properties="device.description='Virtual Speaker 2'"
load-module module-null-sink sink_name=tone_feed sink_properties="device.description='Tone Generator Feed'"
load-module module-sine sink=tone_feed frequency=440
load-module module-remap-source master=tone_feed.monitor source_name=tone_generator source_properties="device.description='Tone Generator 440 Hz (Line In)'"
set-default-sink virtual_speaker_1
set-default-source tone_generator
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
EOF
  echo "autospawn = no" >"$dir/client.conf"
  env -u DISPLAY -u PULSE_SERVER HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" \
    PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" \
    PULSE_CLIENTCONFIG="$dir/client.conf" DBUS_SESSION_BUS_ADDRESS=disabled: \
    setsid pulseaudio -n -F "$dir/daemon.pa" --daemonize=no --system=no --use-pid-file=no \
      --exit-idle-time=-1 --disallow-exit=yes --realtime=no --high-priority=no \
      --no-cpu-limit=yes --log-target=stderr --log-level=notice \
      </dev/null >"$dir/daemon.log" 2>&1 &
  echo $! >"$dir/daemon.pid"
  # Ready once it answers; bounded.
  for _ in $(seq 1 300); do
    if PULSE_CLIENTCONFIG="$dir/client.conf" timeout 5 pactl -s "unix:$dir/native" info >/dev/null 2>&1; then
      echo "PULSE_SERVER=unix:$dir/native"
      exit 0
    fi
    kill -0 "$(cat "$dir/daemon.pid")" 2>/dev/null || break
    sleep 0.1
  done
  echo "The virtual sound server did not start:" >&2
  cat "$dir/daemon.log" >&2
  "$0" stop "$dir" || true
  exit 1
  ;;
stop)
  [ -d "$dir" ] || exit 0
  if [ -f "$dir/daemon.pid" ]; then
    pid=$(cat "$dir/daemon.pid")
    if kill -0 "$pid" 2>/dev/null; then
      kill -TERM "$pid" 2>/dev/null || true
      for _ in $(seq 1 100); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
      done
      kill -KILL "$pid" 2>/dev/null || true
    fi
  fi
  # Only what this script put there.
  rm -rf "$dir/runtime" "$dir/state" "$dir/home"
  rm -f "$dir/daemon.pa" "$dir/client.conf" "$dir/daemon.log" "$dir/daemon.pid" "$dir/native"
  rmdir "$dir" 2>/dev/null || true
  ;;
*)
  usage
  ;;
esac
