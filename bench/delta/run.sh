#!/usr/bin/env bash
# Benchmark of quennick delta against xdelta3 -9 and zstd --patch-from. Run by hand, not
# by ctest or CI:
#   cmake --build build/release --target quennick
#   bench/delta/run.sh [--quennick PATH] [--work DIR] [--repeat 2] [--only TEXT]
# Installs xdelta3 and zstd when they are missing.
set -euo pipefail
for tool in xdelta3 zstd; do
  if ! command -v "$tool" >/dev/null 2>&1; then
    echo "Installing: $tool"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq "$tool" >/dev/null
  fi
done
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
exec /usr/bin/python3 "$here/bench.py" "$@"
