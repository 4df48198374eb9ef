#!/usr/bin/env bash
# Benchmark of quennick sync against rsync -a --delete. Run by hand, not by ctest or CI
# (it installs rsync when it is missing):
#   cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release --target quennick
#   bench/sync/run.sh [--quennick PATH] [--work DIR] [--big-files 10000] [--big-mib 1024]
#                     [--small-files 100000] [--repeat 3]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! command -v rsync > /dev/null; then
    SUDO=""
    if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
    echo "Installing: rsync"
    export DEBIAN_FRONTEND=noninteractive
    $SUDO apt-get update -qq
    $SUDO apt-get install -y -qq --no-install-recommends rsync > /dev/null
fi
exec /usr/bin/python3 "$here/bench.py" "$@"
