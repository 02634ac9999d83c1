#pragma once
// What /health and /ready answer.
//
// Health: the pump table is fresh (the monitor daemon renews it), the controller's control port
// answers (its last probe) and the state file takes writes; each failing check is named, in this
// order: "pump_table", "controller", "state_file". A controller not probed yet counts as failing:
// nothing says it answers.
//
// Ready: the cycle has taken over the orders left by an earlier process and its listener for the
// platform accepts connections.
#include <string>
#include <vector>

#include "stationSnapshot.h"

namespace azs_apps {

std::vector<std::string> failingChecks(const stationSnapshot& s);

// {"status":"ok"} or {"failing":[...],"status":"fail"}; the HTTP status goes with it.
struct healthAnswer {
    int code = 200;
    std::string body;
};
healthAnswer healthOf(const stationSnapshot& s);
healthAnswer readinessOf(bool ready);

}  // namespace azs_apps
