#!/usr/bin/env bash
# Benchmark of quennick find against find, grep -rlP and rg -j1. Run by hand, not by
# ctest or CI (it needs ripgrep: apt-get install ripgrep):
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release --target quennick
#   bench/find/run.sh [--quennick PATH] [--files 100000] [--tree DIR] [--real /usr/share,/usr]
#                     [--repeat 3]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
if ! command -v rg > /dev/null; then
    echo "ripgrep is missing; install it with: apt-get install ripgrep" >&2
    exit 2
fi
exec /usr/bin/python3 "$here/bench.py" "$@"
