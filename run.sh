#!/usr/bin/env bash
# Demo of the whole station on this machine, on loopback only:
#   pcuSimulator      simulated pump controller (control port 65520, monitoring port 65521)
#   pcuMonitorServer  follows the monitoring port and fills the shared pump table
#   fuelweb           the HTTP service (http://127.0.0.1:8080/api/fuelweb), the operator's page
#                     on http://127.0.0.1:8081/
#   platformStub      stand-in for the ordering platform's notice endpoints (port 8090)
# Installs what is missing, builds into build/, writes its configuration, logs and pid files
# under run/, waits until /ping answers and prints example requests. Ctrl-C stops everything.
# When fuelweb ends by itself or is killed, the rest of the demo runs on and fuelweb is started
# again after RESTART_SEC seconds (default 5), as systemd does at the station, so that a crash and
# the take-over of the orders it was watching can be tried here; FUELWEB_RESTART=0 leaves that to
# you and prints the command.
#
# Ports can be changed with FUELWEB_PORT, OPERATOR_PORT, CTL_PORT, MON_PORT, SIM_CMD_PORT and
# PLATFORM_PORT, the build directory with BUILD_DIR (default build).
set -euo pipefail
cd "$(dirname "$0")"
ROOT=$(pwd)

FUELWEB_PORT=${FUELWEB_PORT:-8080}
OPERATOR_PORT=${OPERATOR_PORT:-8081}
CTL_PORT=${CTL_PORT:-65520}
MON_PORT=${MON_PORT:-65521}
SIM_CMD_PORT=${SIM_CMD_PORT:-65522}
PLATFORM_PORT=${PLATFORM_PORT:-8090}

# Demo keys: the platform presents "client key,server key,station key".
SERVER_KEY=demo-server
STATION_KEY=demo-station
APIKEY="demo-client,$SERVER_KEY,$STATION_KEY"
# /station and /callback take the server key and the station key only.
STATION_APIKEY="$SERVER_KEY,$STATION_KEY"

RUN="$ROOT/run"
BUILD_DIR=${BUILD_DIR:-build}
BIN="$ROOT/$BUILD_DIR"
CONFIG="$RUN/fuelweb.json"
BASE="http://127.0.0.1:$FUELWEB_PORT/api/fuelweb"

source ./scripts/deps.sh

echo "== building"
cmake -S . -B "$BUILD_DIR" >/dev/null
cmake --build "$BUILD_DIR" -j "$(nproc 2>/dev/null || echo 2)" \
    --target fuelweb fuelwebctl pcuMonitorServer pcuSimulator platformStub

mkdir -p "$RUN"

# Ends the process of a pid file when it is still one of ours (a run that was killed without its
# cleanup leaves them behind).
stop_pidfile() {
    local file=$1 name=$2 pid
    [ -f "$file" ] || return 0
    pid=$(head -c 16 "$file" | tr -dc '0-9')
    rm -f "$file"
    [ -n "$pid" ] || return 0
    if kill -0 "$pid" 2>/dev/null && grep -q "$name" "/proc/$pid/cmdline" 2>/dev/null; then
        kill -TERM "$pid" 2>/dev/null || true
        for _ in $(seq 50); do kill -0 "$pid" 2>/dev/null || return 0; sleep 0.1; done
        kill -KILL "$pid" 2>/dev/null || true
    fi
}

stop_all() {
    stop_pidfile "$RUN/fuelweb.pid" fuelweb
    stop_pidfile "$RUN/platformStub.pid" platformStub
    stop_pidfile "$RUN/pcuMonitorServer.pid" pcuMonitorServer
    stop_pidfile "$RUN/pcuSimulator.pid" pcuSimulator
}

stop_all

# The demo configuration: the sample from deploy/ with loopback ports, the demo keys and every
# file inside run/.
sed -e "/\"operator\"/!s|\"port\": *[0-9]*|\"port\": $FUELWEB_PORT|" \
    -e "/\"operator\"/s|\"port\": *[0-9]*|\"port\": $OPERATOR_PORT|" \
    -e "s|\"ip\": *\"[^\"]*\"|\"ip\": \"127.0.0.1\"|" \
    -e "s|\"level\": *\"[^\"]*\"|\"level\": \"info\"|" \
    -e "s|\"file\": *\"[^\"]*\"|\"file\": \"$RUN/fuelweb.log\"|" \
    -e "s|\"ctl_key\": *\"[^\"]*\"|\"ctl_key\": \"$STATION_KEY\"|" \
    -e "s|\"upstream_key\": *\"[^\"]*\"|\"upstream_key\": \"$SERVER_KEY\"|" \
    -e "s|\"upstream_endpoint\": *\"[^\"]*\"|\"upstream_endpoint\": \"http://127.0.0.1:$PLATFORM_PORT\"|" \
    -e "s|\"ctl_addr\": *\"[^\"]*\"|\"ctl_addr\": \"127.0.0.1\"|" \
    -e "s|\"ctl_port\": *[0-9]*|\"ctl_port\": $CTL_PORT|" \
    -e "s|\"mon_port\": *[0-9]*|\"mon_port\": $MON_PORT|" \
    -e "s|\"tmp_path\": *\"[^\"]*\"|\"tmp_path\": \"$RUN\"|" \
    -e "s|\"run_path\": *\"[^\"]*\"|\"run_path\": \"$RUN\"|" \
    -e "s|\"log_path\": *\"[^\"]*\"|\"log_path\": \"$RUN\"|" \
    -e "s|\"state_path\": *\"[^\"]*\"|\"state_path\": \"$RUN/state.db\"|" \
    deploy/config.json >"$CONFIG"

# True once something accepts connections on the loopback port.
listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }

wait_listening() {
    local port=$1 what=$2
    for _ in $(seq 100); do listening "$port" && return 0; sleep 0.1; done
    echo "$what does not listen on port $port; see $RUN/" >&2
    exit 1
}

for port in "$FUELWEB_PORT" "$OPERATOR_PORT" "$CTL_PORT" "$MON_PORT" "$SIM_CMD_PORT" "$PLATFORM_PORT"; do
    if listening "$port"; then
        echo "Port $port is already in use; choose other ports (see the top of $0)." >&2
        exit 1
    fi
done

cleanup() {
    trap - INT TERM EXIT
    # Output may go to a pipe whose reader died with the same Ctrl-C: the stop must not die with it.
    trap '' PIPE
    set +e
    printf '\n== stopping\n' 2>/dev/null
    [ -n "${IDLE_PID:-}" ] && kill "$IDLE_PID" 2>/dev/null
    stop_all
}
trap 'cleanup; exit 130' INT TERM
trap cleanup EXIT

echo "== starting pcuSimulator"
"$BIN/simulator/pcuSimulator" --ctl-port "$CTL_PORT" --mon-port "$MON_PORT" --cmd-port "$SIM_CMD_PORT" \
    --station "$ROOT/simulator/station.json" --no-stdin --log >"$RUN/pcuSimulator.log" 2>&1 &
echo $! >"$RUN/pcuSimulator.pid"
wait_listening "$CTL_PORT" pcuSimulator
wait_listening "$MON_PORT" pcuSimulator

echo "== starting pcuMonitorServer"
# It detaches and returns once its pid file is written.
"$BIN/monitor/pcuMonitorServer" -c "$CONFIG" --pid "$RUN/pcuMonitorServer.pid"

echo "== starting platformStub"
"$BIN/simulator/platformStub" --port "$PLATFORM_PORT" >"$RUN/platformStub.log" 2>&1 &
echo $! >"$RUN/platformStub.pid"

FUELWEB_START="$BIN/app-azs/src/fuelweb -c $CONFIG 2>>$RUN/fuelweb.err & echo \$! >$RUN/fuelweb.pid"
start_fuelweb() {
    "$BIN/app-azs/src/fuelweb" -c "$CONFIG" 2>>"$RUN/fuelweb.err" &
    echo $! >"$RUN/fuelweb.pid"
}

echo "== starting fuelweb"
: >"$RUN/fuelweb.err"
start_fuelweb
wait_listening "$FUELWEB_PORT" fuelweb
wait_listening "$PLATFORM_PORT" platformStub

# The pump answers once the monitor has published it (until then /ping says 400).
code=000
for _ in $(seq 100); do
    code=$(curl -s -o /dev/null -w '%{http_code}' "$BASE/ping?apikey=$APIKEY&columnId=1" || true)
    [ "$code" = 200 ] && break
    sleep 0.1
done
if [ "$code" != 200 ]; then
    echo "/ping does not answer 200 (last status $code); see $RUN/" >&2
    exit 1
fi

# The /station/config answer with one line per pump when python3 is at hand, as it came otherwise.
show_config() {
    printf '%s\n' "$1" | python3 -c '
import json, sys
d = json.load(sys.stdin)
print("{\"Id\": %s, \"Date\": %s, \"Columns\": {" % (json.dumps(d["Id"]), json.dumps(d["Date"])))
pumps = sorted(d["Columns"], key=int)
for i, pump in enumerate(pumps):
    sep = "," if i + 1 < len(pumps) else ""
    print("  %s: %s%s" % (json.dumps(pump), json.dumps(d["Columns"][pump], ensure_ascii=False), sep))
print("}}")' 2>/dev/null || printf '%s\n' "$1"
}

echo
echo "== the simulated station as the platform sees it (/station/config)"
show_config "$(curl -s "$BASE/station/config?apikey=$STATION_APIKEY" || true)"

cat <<EOF

== fuelgate demo is running (Ctrl-C stops it)

The operator's page: http://127.0.0.1:$OPERATOR_PORT/   (status: /status.json, /health, /ready)

Pump state:
  curl -s '$BASE/ping?apikey=$APIKEY&columnId=1'; echo
Close pump 2 to remote orders, and open it again:
  curl -s '$BASE/ping?apikey=$APIKEY&columnId=2&__lock=setLock'; echo
  curl -s '$BASE/ping?apikey=$APIKEY&columnId=2&__lock=resetLock'; echo
The same as a form POST:
  curl -s -d 'apikey=$APIKEY&columnId=3' '$BASE/ping'; echo
Wrong keys (401, empty body) and a pump the controller does not have (400):
  curl -s -i '$BASE/ping?apikey=demo-client,$SERVER_KEY&columnId=1'
  curl -s -i '$BASE/ping?apikey=$APIKEY&columnId=9'

Place an order on pump 1 (product 92 at the simulated price of 52.50, 10 l), then see the
pump reserved for it (statusId 10); the console command after that frees the pump again:
  curl -s -H 'Content-Type: application/json' -d '{"id":"demo-1","app_id":1,"trk":1,"prod":92,"price":52.5,"volume":10,"summa":525}' '$BASE/order?apikey=$APIKEY'; echo
  curl -s '$BASE/ping?apikey=$APIKEY&columnId=1'; echo
  printf 'status 1 3\n' | (exec 3<>/dev/tcp/127.0.0.1/$SIM_CMD_PORT; cat >&3; timeout 1 cat <&3)

Station prices and pump layout, read live from the controller:
  curl -s '$BASE/station/prices?apikey=$STATION_APIKEY'; echo
  curl -s '$BASE/station/config?apikey=$STATION_APIKEY'; echo
Ask the station to push them to the platform (200 at once; the stub logs what arrives):
  curl -s -i '$BASE/callback/prices?apikey=$STATION_APIKEY'
  curl -s -i '$BASE/callback/config?apikey=$STATION_APIKEY'
  tail -n 2 $RUN/platformStub.log

Drive the simulated pumps (console of pcuSimulator, e.g. lift the nozzle of pump 1):
  printf 'lift 1\n' | (exec 3<>/dev/tcp/127.0.0.1/$SIM_CMD_PORT; cat >&3; timeout 1 cat <&3)

A whole order (/order, /fueling, the driver fills up, volume counts, messages, one completion),
and orders cancelled by the platform mid-delivery or before the nozzle is lifted:
  scripts/demo-order.sh [PUMP] [LITRES]
  scripts/demo-cancel.sh [--before-lift] [PUMP]

The order's journal, and the final notices the platform has not taken yet (state file
$RUN/state.db):
  $BIN/app-azs/src/fuelwebctl -c $CONFIG order demo-1
  $BIN/app-azs/src/fuelwebctl -c $CONFIG pending

Logs: $RUN/fuelweb.log, $RUN/pcuMonitorServer.log, $RUN/pcuSimulator.log, $RUN/platformStub.log
EOF

# Until Ctrl-C. fuelweb may end meanwhile (try kill -9 during scripts/demo-order.sh): the demo
# stays up and starts it again as systemd's Restart=on-failure would, except after a clean exit
# or the exit status 1 of a configuration it can not use, which systemd leaves alone too.
RESTART_SEC=${RESTART_SEC:-5}
FUELWEB_RESTART=${FUELWEB_RESTART:-1}
while true; do
    status=0
    wait "$(cat "$RUN/fuelweb.pid")" || status=$?
    if [ "$status" -gt 128 ]; then
        how="was killed by signal $((status - 128))"
    else
        how="ended with status $status"
    fi
    echo
    echo "== $(date +%T) fuelweb $how; the rest of the demo runs on (log: $RUN/fuelweb.log)"
    if [ "$FUELWEB_RESTART" = 0 ] || [ "$status" -eq 0 ] || [ "$status" -eq 1 ]; then
        echo "Start it again (Ctrl-C here stops it with the demo):"
        echo "  $FUELWEB_START"
        # A sleep in the background: the wait for it gives way to Ctrl-C at once.
        while true; do
            sleep 3600 &
            IDLE_PID=$!
            wait "$IDLE_PID" || true
        done
    fi
    echo "== starting fuelweb again in $RESTART_SEC s; it takes over the orders it was watching"
    sleep "$RESTART_SEC"
    start_fuelweb
    for _ in $(seq 100); do listening "$FUELWEB_PORT" && break; sleep 0.1; done
    if listening "$FUELWEB_PORT"; then
        echo "== fuelweb runs again (pid $(cat "$RUN/fuelweb.pid")): its take-overs are the lines"
        echo "   'Восстановлено наблюдение' in $RUN/fuelweb.log"
    fi
done
