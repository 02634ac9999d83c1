#!/usr/bin/env bash
# Installs what is missing, builds with tests and runs the whole suite through CTest.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   address+undefined sanitizer build in build-asan/
#   ./test.sh --tsan       thread sanitizer build in build-tsan/
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh

BUILD=build
EXTRA=()
case "${1:-}" in
  --sanitize)
    BUILD=build-asan
    EXTRA=(-DSANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug)
    ;;
  --tsan)
    BUILD=build-tsan
    EXTRA=(-DSANITIZE=thread -DCMAKE_BUILD_TYPE=Debug)
    export TSAN_OPTIONS="suppressions=$PWD/scripts/tsan.supp halt_on_error=1 second_deadlock_stack=1 ${TSAN_OPTIONS:-}"
    ;;
esac

JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$BUILD" -DBUILD_TESTING=ON "${EXTRA[@]}" >/dev/null
cmake --build "$BUILD" -j "$JOBS"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS" --timeout 180
