#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# and runs every test through ctest; then builds the tests labelled "tsan" (the audio
# engine, the sync engine and quennick sync) with ThreadSanitizer and runs them again.
# Exits non-zero when any test fails.
#   ./test.sh                 every test
#   ./test.sh -L audio        only tests with a label (audio, ftp, gui)
#   ./test.sh -R common       only tests whose name matches
# Set QN_NO_TSAN=1 to skip the ThreadSanitizer pass.
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$PWD
scripts/install-deps.sh

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$ROOT/tests/lsan.supp:print_suppressions=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1:suppressions=$ROOT/tests/tsan.supp}

ASAN_BUILD=${QN_BUILD_DIR:-build/asan}
cmake -S . -B "$ASAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_SANITIZE=ON -DQN_WERROR=ON >/dev/null
cmake --build "$ASAN_BUILD"
(cd "$ASAN_BUILD" && ctest --output-on-failure -j2 "$@")

if [ -z "${QN_NO_TSAN:-}" ] && [ $# -eq 0 ]; then
  TSAN_BUILD=build/tsan
  cmake -S . -B "$TSAN_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DQN_TSAN=ON -DQN_WERROR=ON >/dev/null
  # Test names are their executables' names.
  mapfile -t targets < <(cd "$TSAN_BUILD" && ctest -N -L tsan | sed -n 's/^ *Test *#[0-9]*: *//p')
  if [ ${#targets[@]} -gt 0 ]; then
    echo "ThreadSanitizer pass: ${targets[*]}"
    cmake --build "$TSAN_BUILD" --target "${targets[@]}"
    (cd "$TSAN_BUILD" && ctest --output-on-failure -j2 -L tsan)
  fi
fi
