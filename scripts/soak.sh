#!/usr/bin/env bash
# The randomized soak of the whole station: the simulated controller and platform, the real
# pcuMonitorServer and fuelweb, customers placing and driving orders on several pumps while fuelweb
# and the daemon are killed and started again, the platform refuses notices for a while and
# orders are cancelled. Then every order is checked: exactly one final notice with its own
# transaction and litres, none for a refused order, no pump left held.
#
#   scripts/soak.sh [SECONDS] [SEED]     e.g. scripts/soak.sh 300 12345
#
# SECONDS of orders and faults (default 180), then up to 4 minutes for the station to settle;
# SEED makes the run's choices (default: a random one, printed). The figures are printed at the end;
# a failing run prints the seed, what went wrong, and keeps its directory (fuelweb's log, the state
# file, soak-report.txt with every order). Ends with the soak's status: 0 passed, 1 failed, 2 the
# station could not be run.
#
# Environment: BUILD_DIR (default build), SOAK_NICE (niceness, default 10), SOAK_ARGS (further
# options of the program, e.g. "--pumps 8 --customers 7 --keep").
set -euo pipefail
cd "$(dirname "$0")/.."

DURATION=${1:-180}
SEED=${2:-}
BUILD=${BUILD_DIR:-build}
NICE=${SOAK_NICE:-10}

if [ ! -f "$BUILD/CMakeCache.txt" ]; then
  ./scripts/deps.sh
  cmake -S . -B "$BUILD" -DBUILD_TESTING=ON >/dev/null
fi
cmake --build "$BUILD" -j "$(nproc 2>/dev/null || echo 2)" --target fuelgateSoak

ARGS=(--seconds "$DURATION" --bin-dir "$PWD/$BUILD")
[ -n "$SEED" ] && ARGS+=(--seed "$SEED")
# shellcheck disable=SC2206  # SOAK_ARGS is a list of options, split on purpose
[ -n "${SOAK_ARGS:-}" ] && ARGS+=(${SOAK_ARGS})
exec nice -n "$NICE" "$BUILD/tests/soak/fuelgateSoak" "${ARGS[@]}"
