#pragma once
// fuelwebctl, the operator's command on fuelweb's state file. It works beside a running fuelweb:
// the reading commands take no lock that the service would wait for, and "resend" only marks the
// notices due, which the service's background sender then sends.
//
//   fuelwebctl [-c CONFIG | --state FILE] pending      undelivered final notices
//   fuelwebctl [-c CONFIG | --state FILE] order ID     an order's journal and notices
//   fuelwebctl [-c CONFIG | --state FILE] resend ID    queue an order's undelivered notices again
//   fuelwebctl [-c CONFIG | --state FILE] backup FILE  a consistent copy of the state file
//   fuelwebctl [-c CONFIG] status                      pumps, their orders and our holds
//   fuelwebctl [-c CONFIG] release PUMP [--force]      give back a hold no order needs
//
// Without -c or --state the file is the service's default. Exit status: 0 done, 1 failed (file
// missing or unreadable, unknown order), 2 wrong usage.
#include <ostream>
#include <string>
#include <vector>

namespace azs_apps {

int fuelwebctl(const std::vector<std::string>& args, std::ostream& out, std::ostream& err);

}  // namespace azs_apps
