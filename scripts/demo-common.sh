# Shared by the demo scripts (sourced, not run): addresses of the running demo (./run.sh, same
# environment variables), the demo keys, and small helpers to talk to fuelweb, to the simulator's
# console and to follow what the platform stub receives.

FUELWEB_PORT=${FUELWEB_PORT:-8080}
SIM_CMD_PORT=${SIM_CMD_PORT:-65522}
APIKEY="demo-client,demo-server,demo-station"
BASE="http://127.0.0.1:$FUELWEB_PORT/api/fuelweb"
STUB_LOG=${STUB_LOG:-"$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)/run/platformStub.log"}
# Seconds follow goes on after the platform refused a final notice, to show fuelweb sending it again.
FOLLOW_AFTER_REFUSAL=${FOLLOW_AFTER_REFUSAL:-10}

# АИ-92 of simulator/station.json: product code 92 at 52.50 per litre.
PROD=92
PRICE=52.50

say() { printf '\n== %s\n' "$*"; }

# A new order id: the time in nanoseconds and the script's process, so that two runs never share
# one, in the same second or at the same time.
new_order_id() {
    printf 'demo-%s-%s\n' "$(date +%s%N)" "$$"
}

require_demo() {
    if ! curl -s -o /dev/null "$BASE/ping?apikey=$APIKEY&columnId=1" || [ ! -f "$STUB_LOG" ]; then
        echo "The demo does not run: start ./run.sh in another terminal first." >&2
        exit 1
    fi
}

# order_body ID PUMP LITRES: the JSON body of /order and /fueling.
order_body() {
    local summa
    summa=$(awk -v l="$3" -v p="$PRICE" 'BEGIN { printf "%.2f", l * p }')
    printf '{"id":"%s","app_id":1,"trk":%d,"prod":%d,"price":%s,"volume":%s,"summa":%s,"contract":"Individual"}' \
        "$1" "$2" "$PROD" "$PRICE" "$3" "$summa"
}

# post_json PATH BODY: prints the answer and its HTTP status.
post_json() {
    curl -s -w '  (HTTP %{http_code})\n' -H 'Content-Type: application/json' -d "$2" "$BASE$1?apikey=$APIKEY"
}

# console COMMAND...: one command to the simulator's console, its answer printed.
console() {
    # The console keeps the connection open: the answer is what arrives within a second.
    { printf '%s\n' "$*" | (exec 3<>"/dev/tcp/127.0.0.1/$SIM_CMD_PORT"; cat >&3; timeout 1 cat <&3) || true; } |
        sed '/^$/d; s/^/  simulator: /'
}

# The stub's lines about the order, from line FROM of its log on.
stub_lines() {
    tail -n "+$2" "$STUB_LOG" | grep -E "order[iI]d=$1(&|\])" || true
}

# The stub's log lines of final notices (/completed, /canceled) and of those the platform took.
FINAL='^POST /(completed|canceled) '
TAKEN=' -> 200$'

# follow ORDER_ID FROM [SECONDS]: prints the stub's lines about the order as they arrive, until the
# platform has taken its final notice (/completed or /canceled answered 200), or until
# FOLLOW_AFTER_REFUSAL seconds after it first refused one; fails when no final notice came within
# SECONDS (default 180).
follow() {
    local id=$1 from=$2 limit=${3:-180} shown=0 lines n refusedAt=
    for ((tick = 0; tick < limit * 5; tick++)); do
        lines=$(stub_lines "$id" "$from")
        n=$(printf '%s' "$lines" | grep -c . || true)
        if [ "$n" -gt "$shown" ]; then
            printf '%s\n' "$lines" | tail -n +$((shown + 1)) | sed 's/^/  platform <- /'
            shown=$n
        fi
        if printf '%s\n' "$lines" | grep -E "$FINAL" | grep -qE "$TAKEN"; then return 0; fi
        if [ -z "$refusedAt" ] && printf '%s' "$lines" | grep -qE "$FINAL"; then refusedAt=$tick; fi
        if [ -n "$refusedAt" ] && [ $((tick - refusedAt)) -ge $((FOLLOW_AFTER_REFUSAL * 5)) ]; then return 0; fi
        sleep 0.2
    done
    echo "No final notice for order $id after $limit s; see run/fuelweb.log" >&2
    return 1
}

# The final notices of the order that the platform took (answered 200; there must be exactly one).
count_finals() {
    stub_lines "$1" "$2" | grep -E "$FINAL" | grep -cE "$TAKEN" || true
}

# The attempts at a final notice of the order that the platform refused.
count_refused() {
    stub_lines "$1" "$2" | grep -E "$FINAL" | grep -cvE "$TAKEN" || true
}

# report_finals ORDER_ID FROM: how many final notices the platform took, and what became of those
# it refused.
report_finals() {
    say "Final notices for $1 taken by the platform: $(count_finals "$1" "$2") (one expected)"
    local refused
    refused=$(count_refused "$1" "$2")
    if [ "$refused" -gt 0 ]; then
        echo "  the platform refused $refused attempt(s): fuelweb keeps the notice in its state file and"
        echo "  sends it again (fuelwebctl -c run/fuelweb.json pending lists it)"
    fi
}

stub_position() {
    echo $(($(wc -l <"$STUB_LOG") + 1))
}

# journal ORDER_ID: the order's decisions as fuelweb recorded them in its state file (fuelwebctl).
journal() {
    local root ctl
    root="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
    ctl="$root/${BUILD_DIR:-build}/app-azs/src/fuelwebctl"
    [ -x "$ctl" ] || return 0
    # The journal is written just after the decisions: give the last row a moment.
    sleep 0.5
    "$ctl" -c "$root/run/fuelweb.json" order "$1" | sed 's/^/  /' || true
}
