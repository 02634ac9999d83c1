#!/usr/bin/env bash
# The demo scripts' reading of the platform stub's log: a final notice counts only once the
# platform answered it 200, follow stops soon after a refusal instead of waiting for an acceptance
# that will not come, and two order ids made at once differ.
#   tests/scripts/demoCount_test.sh PLATFORM_STUB_PROGRAM
set -euo pipefail
STUB=$1
WORK=$(mktemp -d)
STUB_PID=
cleanup() {
    [ -n "$STUB_PID" ] && kill "$STUB_PID" 2>/dev/null && wait "$STUB_PID" 2>/dev/null
    rm -rf "$WORK"
}
trap cleanup EXIT

export STUB_LOG=$WORK/platformStub.log FOLLOW_AFTER_REFUSAL=1
source "$(dirname "$0")/../../scripts/demo-common.sh"

passes=0 failures=0
expect() {  # expect WHAT GOT WANTED
    if [ "$2" = "$3" ]; then
        echo "ok: $1"
        passes=$((passes + 1))
    else
        echo "FAILED: $1: got '$2', wanted '$3'"
        failures=$((failures + 1))
    fi
}

# A platform that refuses completions and takes cancellations.
"$STUB" --port 0 --status /completed=503 >"$STUB_LOG" 2>&1 &
STUB_PID=$!
for _ in $(seq 100); do grep -q 'listening on' "$STUB_LOG" && break; sleep 0.05; done
URL=$(sed -n 's/^platformStub: listening on //p' "$STUB_LOG")
[ -n "$URL" ] || { echo "FAILED: the stub did not start"; exit 1; }
FROM=$(stub_position)

notice() {  # notice PATH ORDER_ID: what fuelweb sends, as a form
    curl -s -o /dev/null -d "apikey=$APIKEY&orderId=$2&litre=5.00" "$URL$1"
}
notice /volume refused-1
notice /completed refused-1
notice /completed refused-1
notice /canceled taken-1
sleep 0.2

expect "a refused completion is not counted" "$(count_finals refused-1 "$FROM")" 0
expect "every refused attempt is seen" "$(count_refused refused-1 "$FROM")" 2
expect "a cancellation answered 200 is counted" "$(count_finals taken-1 "$FROM")" 1
expect "nothing refused for the cancellation" "$(count_refused taken-1 "$FROM")" 0
report=$(report_finals refused-1 "$FROM")
expect "the report says the platform refused" "$(grep -c 'the platform refused 2 attempt' <<<"$report")" 1
expect "the report counts none taken" "$(grep -c 'taken by the platform: 0 (one expected)' <<<"$report")" 1

start=$(date +%s)
follow refused-1 "$FROM" 20 >/dev/null
expect "follow returns soon after a refusal" "$(( $(date +%s) - start <= 5 ))" 1
follow taken-1 "$FROM" 20 >/dev/null
expect "follow returns at an accepted final notice" $? 0

expect "two order ids made at once differ" "$( [ "$(new_order_id)" != "$(new_order_id)" ] && echo yes)" yes
expect "an order id is the time and the process" "$(new_order_id | grep -cE "^demo-[0-9]{19}-$$\$")" 1

echo "$passes passed, $failures failed"
[ "$failures" -eq 0 ]
