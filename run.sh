#!/usr/bin/env bash
# Installs what is missing, builds a Release and starts Brevanta.
# Arguments are passed to the program, e.g. ./run.sh /debug
#
# On a desktop the window shows the machine's own devices. Elsewhere the script makes
# up what is missing, and undoes it when the program ends (Ctrl+C ends it):
#   - no sound server answers: a private one with two virtual speakers and a tone
#     generator (scripts/virtual-sound.sh);
#   - no display: a virtual one (Xvfb); a screenshot of the window is written every
#     few seconds to the path printed at the start.
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQN_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brevanta
exe=build/release/src/app/brevanta

sound_dir=""
xvfb_pid=""
app_pid=""
cleanup() {
  trap - EXIT INT TERM HUP
  if [ -n "$app_pid" ] && kill -0 "$app_pid" 2>/dev/null; then
    kill -TERM "$app_pid" 2>/dev/null || true
    wait "$app_pid" 2>/dev/null || true
  fi
  if [ -n "$xvfb_pid" ]; then
    kill -TERM "$xvfb_pid" 2>/dev/null || true
    wait "$xvfb_pid" 2>/dev/null || true
  fi
  if [ -n "$sound_dir" ]; then scripts/virtual-sound.sh stop "$sound_dir" || true; fi
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM HUP

if ! timeout 10 pactl info >/dev/null 2>&1; then
  sound_dir=$(mktemp -d "${TMPDIR:-/tmp}/brevanta-sound.XXXXXX")
  server=$(scripts/virtual-sound.sh start "$sound_dir")
  export "$server"
  echo "No sound server was running: started a private one ($PULSE_SERVER) with"
  echo "  Virtual Speaker 1, Virtual Speaker 2 and Tone Generator 440 Hz (Line In)."
  echo "  Drag the tone generator onto a speaker; record what the speaker plays with"
  echo "  PULSE_SERVER=$PULSE_SERVER parec -d virtual_speaker_1.monitor --file-format=wav > speaker1.wav"
fi

if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  shot_dir=build/release/screenshots
  mkdir -p "$shot_dir"
  shot="$(pwd)/$shot_dir/brevanta.png"
  fifo=$(mktemp -u "${TMPDIR:-/tmp}/brevanta-xvfb.XXXXXX")
  mkfifo "$fifo"
  Xvfb -displayfd 3 -screen 0 1280x800x24 -nolisten tcp 3>"$fifo" >/dev/null 2>&1 &
  xvfb_pid=$!
  display=""
  read -r -t 30 display <"$fifo" || true
  rm -f "$fifo"
  [ -n "$display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$display"
  export QT_QPA_PLATFORM=xcb
  echo "No display: Brevanta runs on the virtual display $DISPLAY."
  echo "A screenshot of its window is written every 5 seconds to"
  echo "  $shot"
  echo "Programs that drive it (xdotool) reach it with DISPLAY=$DISPLAY. Press Ctrl+C to stop."
  "$exe" "$@" &
  app_pid=$!
  while kill -0 "$app_pid" 2>/dev/null; do
    win=$(xdotool search --onlyvisible --name '^Brevanta$' 2>/dev/null | head -n 1 || true)
    if [ -n "$win" ] && import -window "$win" "$shot.tmp.png" 2>/dev/null; then
      mv -f "$shot.tmp.png" "$shot"
    fi
    # A wait, not a foreground sleep: Ctrl+C ends it at once, and so does the program's end.
    sleep 5 &
    sleeper=$!
    wait -n "$app_pid" "$sleeper" 2>/dev/null || true
    kill "$sleeper" 2>/dev/null || true
    wait "$sleeper" 2>/dev/null || true
  done
  wait "$app_pid" || true
  app_pid=""
  exit 0
fi

if [ -z "$sound_dir" ]; then exec "$exe" "$@"; fi
"$exe" "$@" &
app_pid=$!
wait "$app_pid" || true
app_pid=""
