#!/usr/bin/env bash
# Throughput and latency of /ping, next to a constant answer of the same HTTP layer (pool, dispatcher,
# request context; no pump table, no logging), which is the ceiling /ping can reach.
#
# Needs the demo of ./run.sh running (it publishes the pumps in the shared table). The script starts
# two more fuelweb processes with the demo's configuration plus the hidden benchmark route, one
# logging at level info (BENCH_PORT) and one at level error (BENCH_PORT + 1), and for 1, 16 and 64
# connections runs wrk against
#   1. the constant route,
#   2. /ping with the per-request log line (level info),
#   3. /ping without it (level error),
# one right after the other so that the three figures of a row share the machine's conditions. It
# prints requests per second and latency percentiles and stops its two processes again.
#
#   bench/ping_bench.sh            BENCH_PORT (default 8081), DURATION seconds per run (default 5)
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUN="$ROOT/run"
BIN="$ROOT/${BUILD_DIR:-build}/app-azs/src/fuelweb"
BENCH_PORT=${BENCH_PORT:-8081}
DURATION=${DURATION:-5}
APIKEY="demo-client,demo-server,demo-station"
PUMP=1

if ! command -v wrk >/dev/null; then
    if [ "$(id -u)" -eq 0 ]; then
        apt-get update -qq && DEBIAN_FRONTEND=noninteractive apt-get install -y -qq wrk
    else
        echo "wrk is missing: sudo apt-get install wrk" >&2
        exit 1
    fi
fi
if [ ! -f "$RUN/fuelweb.json" ] || [ ! -x "$BIN" ]; then
    echo "Start ./run.sh first (in another terminal)." >&2
    exit 1
fi

PIDS=()
trap 'for p in "${PIDS[@]}"; do kill -TERM "$p" 2>/dev/null || true; done; wait' EXIT

# Starts a fuelweb on port $1 logging at level $2 into run/bench-$2.log.
start_fuelweb() {
    local port=$1 level=$2
    sed -e "s|\"port\": *[0-9]*|\"port\": $port, \"bench_route\": true|" \
        -e "s|\"level\": *\"[^\"]*\"|\"level\": \"$level\"|" \
        -e "s|\"file\": *\"[^\"]*\"|\"file\": \"$RUN/bench-$level.log\"|" \
        "$RUN/fuelweb.json" >"$RUN/bench-$level.json"
    "$BIN" -c "$RUN/bench-$level.json" 2>"$RUN/bench-$level.err" &
    PIDS+=($!)
}

wait_ping() {
    for _ in $(seq 100); do
        [ "$(curl -s -o /dev/null -w '%{http_code}' "$1" || true)" = 200 ] && return 0
        sleep 0.1
    done
    echo "$1 does not answer 200; is ./run.sh running?" >&2
    exit 1
}

QUERY="apikey=$APIKEY&columnId=$PUMP"
INFO="http://127.0.0.1:$BENCH_PORT/api/fuelweb"
QUIET="http://127.0.0.1:$((BENCH_PORT + 1))/api/fuelweb"
start_fuelweb "$BENCH_PORT" info
start_fuelweb "$((BENCH_PORT + 1))" error
wait_ping "$INFO/ping?$QUERY"
wait_ping "$QUIET/ping?$QUERY"

# One wrk run; prints "req/s p50 p90 p99".
measure() {
    local url=$1 conns=$2 threads=2
    [ "$conns" -lt 2 ] && threads=1
    wrk -t "$threads" -c "$conns" -d "${DURATION}s" --latency "$url" |
        awk '/Requests\/sec/ {rps=$2}
             $1=="50%" {p50=$2} $1=="90%" {p90=$2} $1=="99%" {p99=$2}
             END {printf "%10.0f %9s %9s %9s\n", rps, p50, p90, p99}'
}

declare -A RPS
row() {
    local name=$1 url=$2 conns=$3 line
    line=$(measure "$url" "$conns")
    RPS[$name/$conns]=$(echo "$line" | awk '{print $1}')
    printf "%-22s %5s %s\n" "$name" "$conns" "$line"
}

printf "%-22s %5s %10s %9s %9s %9s\n" endpoint conns "req/s" p50 p90 p99
for c in 1 16 64; do
    row "constant" "$INFO/bench/const" "$c"
    row "ping (log info)" "$INFO/ping?$QUERY" "$c"
    row "ping (log error)" "$QUIET/ping?$QUERY" "$c"
done

echo
for c in 1 16 64; do
    awk -v c="$c" -v k="${RPS[constant/$c]}" -v i="${RPS[ping (log info)/$c]}" -v e="${RPS[ping (log error)/$c]}" \
        'BEGIN {printf "%2d connections: /ping = %.0f%% of the constant answer; info logging costs %.0f%% of /ping throughput\n",
                c, 100*i/k, 100*(e-i)/e}'
done
