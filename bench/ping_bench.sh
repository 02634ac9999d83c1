#!/usr/bin/env bash
# Throughput and latency of /ping against two references measured in the same run:
#   bare POCO   bench/bare_poco_server: POCO's own HTTPServer answering the same JSON from a
#               one-line handler, with as many threads as fuelweb has workers (the library's floor);
#   constant    fuelweb's hidden benchmark route: our HTTP layer (reader, workers, dispatcher,
#               request context) with a constant answer, no pump table and no logging.
#
# Needs the demo of ./run.sh running (it publishes the pumps in the shared table) and the
# benchmarks built (cmake -B build-bench -DBUILD_BENCH=ON; BUILD_DIR=build-bench). The script
# starts the bare server and two more fuelweb processes with the demo's configuration plus the
# benchmark route, one logging at level info (BENCH_PORT) and one at level error (BENCH_PORT + 1),
# and for every connection count runs wrk (one thread, like a single client machine) against
#   1. the bare POCO server, 2. the constant route, 3. /ping logging at info (one line per
#   request), 4. /ping logging at error (no line),
# one right after the other, so that the figures of a row share the machine's conditions. This is
# repeated RUNS times; then every run's ratios are listed.
#
#   BUILD_DIR=build-bench bench/ping_bench.sh
#     BENCH_PORT (default 8081; uses it and the next two), DURATION seconds per wrk run (default 5),
#     RUNS (default 5), CONNS (default "16 64"),
#     QUIET_LOAD: when set (e.g. 0.7), each run waits until the 1-minute load average is below it,
#     so that other work on the machine does not decide the figures.
set -euo pipefail
cd "$(dirname "$0")/.."
ROOT=$(pwd)
RUN="$ROOT/run"
BUILD="$ROOT/${BUILD_DIR:-build}"
BIN="$BUILD/app-azs/src/fuelweb"
BARE="$BUILD/bench/bare_poco_server"
BENCH_PORT=${BENCH_PORT:-8081}
DURATION=${DURATION:-5}
RUNS=${RUNS:-5}
CONNS=${CONNS:-"16 64"}
QUIET_LOAD=${QUIET_LOAD:-}
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
if [ ! -x "$BARE" ]; then
    echo "$BARE is missing: build the benchmarks (-DBUILD_BENCH=ON) and set BUILD_DIR." >&2
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

wait_quiet() {
    [ -n "$QUIET_LOAD" ] || return 0
    local load
    for _ in $(seq 120); do
        load=$(cut -d' ' -f1 /proc/loadavg)
        awk -v l="$load" -v q="$QUIET_LOAD" 'BEGIN {exit !(l < q)}' && return 0
        echo "(load $load, waiting for it to fall below $QUIET_LOAD)" >&2
        sleep 30
    done
    echo "The machine did not get quiet; measuring anyway at load $load." >&2
}

QUERY="apikey=$APIKEY&columnId=$PUMP"
INFO="http://127.0.0.1:$BENCH_PORT/api/fuelweb"
QUIET="http://127.0.0.1:$((BENCH_PORT + 1))/api/fuelweb"
BARE_URL="http://127.0.0.1:$((BENCH_PORT + 2))/api/fuelweb/ping?$QUERY"
WORKERS=$(grep -o '"worker_threads": *[0-9]*' "$RUN/fuelweb.json" | grep -o '[0-9]*$' || echo 64)
start_fuelweb "$BENCH_PORT" info
start_fuelweb "$((BENCH_PORT + 1))" error
"$BARE" "$((BENCH_PORT + 2))" "${WORKERS:-64}" &
PIDS+=($!)
wait_ping "$INFO/ping?$QUERY"
wait_ping "$QUIET/ping?$QUERY"
wait_ping "$BARE_URL"

# One wrk run; prints "req/s p50 p90 p99" with the latencies in milliseconds.
measure() {
    wrk -t 1 -c "$2" -d "${DURATION}s" --latency "$1" |
        awk 'function ms(v) { if (v ~ /us$/) return v / 1000; if (v ~ /ms$/) return v + 0; if (v ~ /s$/) return v * 1000; return v }
             /Requests\/sec/ {rps=$2}
             $1=="50%" {p50=ms($2)} $1=="90%" {p90=ms($2)} $1=="99%" {p99=ms($2)}
             END {printf "%.0f %.3f %.3f %.3f\n", rps, p50, p90, p99}'
}

SUMMARY=()
for run in $(seq "$RUNS"); do
    wait_quiet
    echo "== run $run of $RUNS (load $(cut -d' ' -f1-3 /proc/loadavg))"
    printf "%-18s %5s %10s %9s %9s %9s\n" endpoint conns "req/s" "p50 ms" "p90 ms" "p99 ms"
    for c in $CONNS; do
        declare -A R=()
        for e in bare constant info error; do
            case $e in
                bare) url=$BARE_URL name="bare POCO" ;;
                constant) url="$INFO/bench/const" name="constant" ;;
                info) url="$INFO/ping?$QUERY" name="ping (log info)" ;;
                error) url="$QUIET/ping?$QUERY" name="ping (log error)" ;;
            esac
            R[$e]=$(measure "$url" "$c")
            read -r rps p50 p90 p99 <<<"${R[$e]}"
            printf "%-18s %5s %10s %9s %9s %9s\n" "$name" "$c" "$rps" "$p50" "$p90" "$p99"
        done
        SUMMARY+=("$(echo "$run $c ${R[bare]} ${R[constant]} ${R[info]} ${R[error]}" |
            awk '{printf "%3d %5d %9.0f %7.2f %9.0f %9.0f (%.2f) %7.2f (%.1fx) %9.0f (%.2f) %6.1f%%\n",
                  $1, $2, $3, $6, $7, $11, $11/$3, $14, $14/$6, $15, $15/$3, 100*($15-$11)/$15}')")
    done
done

echo
echo "run conns  bare req/s  p99 ms  constant   ping info (/bare)  p99 ms (/bare)  ping error (/bare)  info cost"
printf '%s\n' "${SUMMARY[@]}"
