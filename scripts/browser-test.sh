#!/usr/bin/env bash
# The operator's page in a real browser, against the whole station on loopback (the simulated
# controller, the monitor daemon, fuelweb and the platform stub, on free ports, in a directory of
# their own under the build directory): headless Debian chromium driven by playwright-core from
# npm (tests/browser/operator-page.test.js). The browser is Debian's; nothing downloads one.
#
#   scripts/browser-test.sh                 the test; screenshots in build/operator-page*.png
#   scripts/browser-test.sh --update-docs   the same, and the screenshot copied to
#                                           docs/operator-page.png
#
# BUILD_DIR (default build) names the build directory. Installs chromium (and npm when there is
# none) through scripts/deps.sh --browser, and playwright-core with npm ci into
# BUILD_DIR/browser-test/.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
UPDATE_DOCS=0
case "${1:-}" in
  --update-docs) UPDATE_DOCS=1 ;;
  "") ;;
  *) echo "usage: scripts/browser-test.sh [--update-docs]" >&2; exit 2 ;;
esac

BUILD_DIR=${BUILD_DIR:-build}
scripts/deps.sh --browser
cmake -S . -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc 2>/dev/null || echo 2)" \
    --target fuelweb pcuMonitorServer pcuSimulator platformStub
BIN=$(cd "$BUILD_DIR" && pwd)

# playwright-core as the lock file pins it, beside the build (node_modules stays out of git).
NODE_DIR="$BIN/browser-test"
mkdir -p "$NODE_DIR"
cp tests/browser/package.json tests/browser/package-lock.json tests/browser/operator-page.test.js "$NODE_DIR/"
(cd "$NODE_DIR" && PLAYWRIGHT_SKIP_BROWSER_DOWNLOAD=1 npm ci --no-audit --no-fund --loglevel=error)

RUN=$(mktemp -d "$BIN/browser-run.XXXXXX")
PIDS=()
cleanup() {
    set +e
    # fuelweb would wait for the order the test left on a pump that the stopped monitor no longer
    # shows: a delivery is never given up at a stop. The run is thrown away, so it is killed.
    [ -n "${FUELWEB_PID:-}" ] && kill -KILL "$FUELWEB_PID" 2>/dev/null
    for pid in "${PIDS[@]}"; do kill -TERM "$pid" 2>/dev/null; done
    [ -f "$RUN/pcuMonitorServer.pid" ] && kill -TERM "$(cat "$RUN/pcuMonitorServer.pid")" 2>/dev/null
    for pid in "${PIDS[@]}"; do wait "$pid" 2>/dev/null; done
    # The pump table's segment of this run (the key that ftok makes of the key file, project 'M').
    if [ -f "$RUN/trkstat.mem" ]; then
        read -r dev ino < <(stat -c '%d %i' "$RUN/trkstat.mem")
        ipcrm -M "$(printf '0x%08x' $(( (0x4d << 24) | ((dev & 0xff) << 16) | (ino & 0xffff) )))" 2>/dev/null
    fi
    if [ "${KEEP:-0}" = 1 ] || [ "${status:-1}" != 0 ]; then
        echo "the run's files stay in $RUN"
    else
        rm -rf "$RUN"
    fi
}
trap cleanup EXIT

freePort() { python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])'; }
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
waitListening() {
    for _ in $(seq 100); do listening "$1" && return 0; sleep 0.1; done
    echo "$2 does not listen on port $1; see $RUN/" >&2
    exit 1
}

FUELWEB_PORT=$(freePort); OPERATOR_PORT=$(freePort); CTL_PORT=$(freePort); MON_PORT=$(freePort)
SIM_CMD_PORT=$(freePort); PLATFORM_PORT=$(freePort)
APIKEY=browser-client,browser-server,browser-station
CONFIG="$RUN/config.json"
cat >"$CONFIG" <<JSON
{"service": {"ip": "127.0.0.1", "port": $FUELWEB_PORT, "worker_threads": 16},
 "logging": {"level": "info", "file": "$RUN/fuelweb.log"},
 "fuelweb": {"operator": {"ip": "127.0.0.1", "port": $OPERATOR_PORT},
             "ctl_key": "browser-station", "upstream_key": "browser-server",
             "upstream_endpoint": "http://127.0.0.1:$PLATFORM_PORT",
             "ctl_addr": "127.0.0.1", "ctl_port": $CTL_PORT, "mon_port": $MON_PORT,
             "tmp_path": "$RUN", "run_path": "$RUN", "log_path": "$RUN", "state_path": "$RUN/state.db"}}
JSON

"$BIN/simulator/pcuSimulator" --ctl-port "$CTL_PORT" --mon-port "$MON_PORT" --cmd-port "$SIM_CMD_PORT" \
    --station "$ROOT/simulator/station.json" --no-stdin >"$RUN/pcuSimulator.log" 2>&1 &
PIDS+=($!)
waitListening "$CTL_PORT" pcuSimulator
waitListening "$MON_PORT" pcuSimulator
"$BIN/monitor/pcuMonitorServer" -c "$CONFIG" --pid "$RUN/pcuMonitorServer.pid"
"$BIN/simulator/platformStub" --port "$PLATFORM_PORT" >"$RUN/platformStub.log" 2>&1 &
PIDS+=($!)
"$BIN/app-azs/src/fuelweb" -c "$CONFIG" 2>"$RUN/fuelweb.err" &
FUELWEB_PID=$!
PIDS+=($!)
waitListening "$FUELWEB_PORT" fuelweb
waitListening "$OPERATOR_PORT" "fuelweb's operator listener"
waitListening "$PLATFORM_PORT" platformStub
for _ in $(seq 100); do
    [ "$(curl -s -o /dev/null -w '%{http_code}' "http://127.0.0.1:$OPERATOR_PORT/ready")" = 200 ] && break
    sleep 0.1
done

PUMPS=$(python3 -c 'import json,sys; print(len(json.load(open(sys.argv[1]))["pumps"]))' simulator/station.json)
SHOT="$BIN/operator-page.png"
status=0
OPERATOR_URL="http://127.0.0.1:$OPERATOR_PORT/" FUELWEB_BASE="http://127.0.0.1:$FUELWEB_PORT/api/fuelweb" \
APIKEY="$APIKEY" SIM_CMD_PORT="$SIM_CMD_PORT" MONITOR_PID="$(cat "$RUN/pcuMonitorServer.pid")" PUMPS="$PUMPS" \
SCREENSHOT="$SHOT" USER_DATA_DIR="$RUN/chromium-profile" \
    node "$NODE_DIR/operator-page.test.js" || status=$?
if [ $status = 0 ] && [ $UPDATE_DOCS = 1 ]; then
    cp "$SHOT" docs/operator-page.png
    echo "docs/operator-page.png updated"
fi
exit $status
