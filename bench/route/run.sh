#!/usr/bin/env bash
# Route benchmark: our route against the sound server's own loopback module, on the same
# two virtual devices of a private PulseAudio daemon. Run by hand, not by ctest or CI:
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release --target bench_route
# or directly:
#   bench/route/run.sh --bench build/release/bench/route/route_bench [--minute 60] [...]
# It prints the added latency (mean and spread), the dropouts in a minute of tone and
# the CPU time per route-minute for both, and their ratios. Takes about five minutes;
# see RouteBench.cpp for the method and the options.
set -euo pipefail
bench=""
extra=()
while [ $# -gt 0 ]; do
  case "$1" in
    --bench) bench="$2"; shift 2 ;;
    *) extra+=("$1"); shift ;;
  esac
done
if [ -z "$bench" ] || [ ! -x "$bench" ]; then
  echo "usage: $0 --bench PATH/route_bench [--minute SECONDS]" >&2
  exit 2
fi
for p in pulseaudio pactl; do
  command -v "$p" >/dev/null || { echo "$p is not installed (scripts/install-deps.sh)" >&2; exit 2; }
done

# The daemon as the audio tests start it: a fresh folder, only virtual devices (two null
# sinks in the route's own format, so nothing converts samples), a socket at a known
# path, no session bus; real-time scheduling where the system allows it, as a desktop
# daemon has it.
dir=$(mktemp -d /tmp/brevanta-bench.XXXXXX)
mkdir -p "$dir/runtime" "$dir/state" "$dir/home"
cat > "$dir/daemon.pa" <<PA
load-module module-null-sink sink_name=bench_src rate=8000 format=s16le channels=2 sink_properties=device.description=bench_src
load-module module-null-sink sink_name=bench_dst rate=8000 format=s16le channels=2 sink_properties=device.description=bench_dst
load-module module-native-protocol-unix auth-anonymous=1 socket=$dir/native
PA
echo "autospawn = no" > "$dir/client.conf"
pid=""
cleanup() {
  if [ -n "$pid" ]; then
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 100); do kill -0 "$pid" 2>/dev/null || break; sleep 0.1; done
    kill -9 "$pid" 2>/dev/null || true
  fi
  rm -rf "$dir"
}
trap cleanup EXIT
env -u DISPLAY -u PULSE_SERVER HOME="$dir/home" XDG_RUNTIME_DIR="$dir/runtime" \
  PULSE_RUNTIME_PATH="$dir/runtime" PULSE_STATE_PATH="$dir/state" \
  PULSE_CLIENTCONFIG="$dir/client.conf" DBUS_SESSION_BUS_ADDRESS=disabled: \
  pulseaudio -n -F "$dir/daemon.pa" --daemonize=no --system=no --use-pid-file=no \
    --exit-idle-time=-1 --disallow-exit=yes --realtime=yes --high-priority=yes \
    --no-cpu-limit=yes --log-target=stderr --log-level=notice >"$dir/daemon.log" 2>&1 &
pid=$!
server="unix:$dir/native"
for _ in $(seq 300); do
  pactl -s "$server" info >/dev/null 2>&1 && break
  kill -0 "$pid" 2>/dev/null || { cat "$dir/daemon.log" >&2; exit 1; }
  sleep 0.1
done
export PULSE_CLIENTCONFIG="$dir/client.conf"
"$bench" --server "$server" --daemon-pid "$pid" "${extra[@]}"
