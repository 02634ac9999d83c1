#!/usr/bin/env bash
# Installs what is missing, builds with tests and runs the whole suite through CTest.
#   ./test.sh              normal build in build/
#   ./test.sh --sanitize   address+undefined sanitizer build in build-asan/
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh

BUILD=build
EXTRA=()
if [ "${1:-}" = "--sanitize" ]; then
  BUILD=build-asan
  EXTRA=(-DSANITIZE=address,undefined -DCMAKE_BUILD_TYPE=Debug)
fi

JOBS=$(nproc 2>/dev/null || echo 2)
cmake -S . -B "$BUILD" -DBUILD_TESTING=ON "${EXTRA[@]}" >/dev/null
cmake --build "$BUILD" -j "$JOBS"
cd "$BUILD"
ctest --output-on-failure -j "$JOBS" --timeout 180
