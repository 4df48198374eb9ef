#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test through ctest. Exits non-zero when any test fails.
#   ./test.sh                 every test
#   ./test.sh -L audio        only tests with a label (audio, ftp, gui)
#   ./test.sh -R common       only tests whose name matches
set -euo pipefail
cd "$(dirname "$0")"
scripts/install-deps.sh
BUILD=${QN_BUILD_DIR:-build/asan}
cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_SANITIZE=ON -DQN_WERROR=ON >/dev/null
cmake --build "$BUILD"
export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
cd "$BUILD"
ctest --output-on-failure -j2 "$@"
