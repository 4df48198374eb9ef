#!/usr/bin/env bash
# Benchmark of quennick diff against GNU diff. Run by hand, not by ctest or CI:
#   cmake -S . -B build/release -DCMAKE_BUILD_TYPE=Release
#   cmake --build build/release --target quennick
#   bench/diff/run.sh [--quennick PATH] [--sizes 10000,100000] [--percents 1,10] [--repeat 3]
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec /usr/bin/python3 "$here/bench.py" "$@"
