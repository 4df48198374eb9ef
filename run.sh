#!/usr/bin/env bash
# Installs what is missing, builds a Release and starts Brevanta.
# Arguments are passed to the program, e.g. ./run.sh /debug
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DQN_BUILD_TESTS=OFF >/dev/null
cmake --build build/release --target brevanta
exec build/release/src/app/brevanta "$@"
