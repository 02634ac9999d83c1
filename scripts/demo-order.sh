#!/usr/bin/env bash
# A whole remote order against the running demo (start ./run.sh in another terminal first):
#   1. /order places the order on the pump: the pump is reserved and its record tagged;
#   2. /fueling starts it: the answer comes at once, fuelweb goes on watching the pump;
#   3. the driver lifts the nozzle (the simulator's console) and fills up to the ordered litres;
#   4. the platform stub shows what fuelweb reports: volume counts every few seconds, messages for
#      the driver, and one completion with the delivered litres.
#
#   scripts/demo-order.sh [PUMP] [LITRES]        (default pump 1, 5 litres)
set -euo pipefail
source "$(dirname "$0")/demo-common.sh"

PUMP=${1:-1}
LITRES=${2:-5}
ORDER_ID=$(new_order_id)
BODY=$(order_body "$ORDER_ID" "$PUMP" "$LITRES")
require_demo
FROM=$(stub_position)

say "1. /order: order $ORDER_ID, $LITRES l of АИ-92 on pump $PUMP"
echo "  $BODY"
post_json /order "$BODY"

say "2. /fueling: start the pump"
post_json /fueling "$BODY"

say "3. the driver lifts the nozzle of pump $PUMP (simulator console: lift $PUMP)"
sleep 1
console "lift $PUMP"

say "4. what the platform receives (the simulated driver hangs up by himself at the end)"
follow "$ORDER_ID" "$FROM"

report_finals "$ORDER_ID" "$FROM"

say "The journal of $ORDER_ID (fuelwebctl order $ORDER_ID)"
journal "$ORDER_ID"
