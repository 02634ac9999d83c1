#pragma once
// fuelwebctl's commands on the pumps (see fuelwebctl.h):
//   status          every published pump: status, the order tagged on it and the tag's age, what
//                   our workplace holds on it; the pump table's age; the orders being served
//   release PUMP    gives back a hold of our workplace (reservation or payment lock) that no
//                   running order needs, by asking the running fuelweb (its keeper of the holds
//                   answers within seconds); with --force, when fuelweb does not run, the command
//                   does it itself over the controller's control port
// Both read the pump table of the configuration's "fuelweb.tmp_path" and the controller settings
// of "fuelweb.*"; the state file may be missing for status.
#include <ostream>

#include "settings.h"
#include "stateDb.h"

namespace azs_apps {
namespace fuelwebctlPumps {

// db: the state file, or null when it can't be opened.
int status(const settings& cfg, state::stateDb* db, std::ostream& out, std::ostream& err);
// waitSec: how long the running fuelweb's answer is waited for.
int release(const settings& cfg, state::stateDb& db, int pump, bool force, int waitSec, std::ostream& out,
            std::ostream& err);

// How long "release" waits for fuelweb's answer by default (seconds).
constexpr int ANSWER_WAIT_SEC = 10;

}  // namespace fuelwebctlPumps
}  // namespace azs_apps
