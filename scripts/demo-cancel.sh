#!/usr/bin/env bash
# A remote order cancelled by the platform, against the running demo (./run.sh in another
# terminal). /canceled only stops the pump; the /fueling request that watches the order sees the
# stopped pump and settles the order itself:
#   - mid-delivery (default): the pump stops with fuel in the tank, the driver hangs up, and the
#     platform gets one completion with the litres delivered up to the stop (they must be paid);
#   - --before-lift: the pump is stopped while it waits for the nozzle, and the platform gets one
#     cancellation ("Произошел сброс ТРК в исходное состояние").
#
#   scripts/demo-cancel.sh [--before-lift] [PUMP]        (default pump 2)
set -euo pipefail
source "$(dirname "$0")/demo-common.sh"

BEFORE_LIFT=0
if [ "${1:-}" = "--before-lift" ]; then
    BEFORE_LIFT=1
    shift
fi
PUMP=${1:-2}
LITRES=20
ORDER_ID=$(new_order_id)
BODY=$(order_body "$ORDER_ID" "$PUMP" "$LITRES")
require_demo
FROM=$(stub_position)

cancel_order() {
    say "/canceled: the platform cancels order $ORDER_ID"
    curl -s -o /dev/null -w '  (HTTP %{http_code}: 200 = pump stopped, 404 = nothing to stop)\n' \
        --data-urlencode "apikey=$APIKEY" --data-urlencode "orderId=$ORDER_ID" \
        --data-urlencode "reason=Отмена клиентом" "$BASE/canceled"
}

say "/order: order $ORDER_ID, $LITRES l of АИ-92 on pump $PUMP"
post_json /order "$BODY"

if [ "$BEFORE_LIFT" = 1 ]; then
    console "neverlift $PUMP 1"  # the simulated driver keeps away from the nozzle
    say "/fueling: start the pump; it waits for the nozzle"
    post_json /fueling "$BODY"
    sleep 1
    cancel_order
    follow "$ORDER_ID" "$FROM"
    console "neverlift $PUMP 0"
else
    say "/fueling: start the pump, the driver lifts the nozzle"
    post_json /fueling "$BODY"
    sleep 1
    console "lift $PUMP"
    say "waiting for the first volume count"
    for _ in $(seq 150); do
        stub_lines "$ORDER_ID" "$FROM" | grep -q '^POST /volume ' && break
        sleep 0.2
    done
    cancel_order
    say "what the platform receives (the driver hangs up by himself)"
    follow "$ORDER_ID" "$FROM"
fi

report_finals "$ORDER_ID" "$FROM"

say "The journal of $ORDER_ID (fuelwebctl order $ORDER_ID)"
journal "$ORDER_ID"
