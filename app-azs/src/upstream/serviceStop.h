#pragma once
// The process is about to end (SIGTERM, SIGINT). A retrying wrapper whose notice is stored in the
// state file then hands it to the background sender of the next start instead of holding the stop
// for the rest of its schedule (up to about 23 minutes); its pauses between attempts end at once.
// Watches of deliveries in progress are not affected: they keep the process until their order
// has ended.
#include "timeSource.h"

namespace azs_apps {
namespace upstream {
namespace serviceStop {

// The process is ending.
void begin();
// A new service cycle follows after all (a SIGHUP came last), and tests.
void cancel();
bool underway();
// Trips with begin(): the pauses that a stop may cut short wait under it.
pcudata::pauseBreaker& breaker();

}  // namespace serviceStop
}  // namespace upstream
}  // namespace azs_apps
