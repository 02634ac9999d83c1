#pragma once
// What a service cycle does first, before it takes requests: it finds the orders that a process
// which ended mid-order (killed, crashed, cut from its power) left without a final notice, and
// takes each over on a thread of its own, so that no delivered fuel goes uncharged and no
// driver's money stays held.
//
// The state file names the orders that /fueling had taken on and not ended (servedOrders); the
// pump's record must still carry the order's tag. For each such order:
//  - one that this process still serves (a new cycle after SIGHUP, whose old cycle goes on with
//    its requests) is left to its request;
//  - one whose final notice is already stored has ended (the process ended between storing the
//    notice and clearing the tag): its row is closed, a tag left on the pump is cleared, and the
//    background sender delivers the notice;
//  - one whose pump carries its tag is taken over (delivery::takeOver) with the order's claim held,
//    so that a /fueling repeated by the platform starts no second watch;
//  - one whose pump does not carry its tag (the pump table was made anew, after a reboot) can't be
//    followed: an error line and a journal row tell the operator, and the row is closed.
// A pump tagged with an order that has no row was only reserved (/order went through, /fueling
// never came): it is left for the platform's /fueling, which finds the tag; the start timeout
// counted from the tag applies there as ever.
//
// Each order taken over runs on a thread of its own, with a controller session and a reader of the
// pump table of its own, made from the cycle's configuration. The destructor waits for the
// threads, so a stop waits for the orders taken over like for the deliveries in progress.
#include <Poco/Logger.h>

#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "servedOrders.h"
#include "trkState.h"

namespace pcudata {
class pcuControl;
}

namespace azs_apps {

struct settings;

class orderRecovery {
public:
    // rows: null when the service runs without a state file (nothing can be taken over then).
    orderRecovery(const settings& cfg, std::shared_ptr<state::servedOrders> rows);
    ~orderRecovery();
    orderRecovery(const orderRecovery&) = delete;
    orderRecovery& operator=(const orderRecovery&) = delete;

    // Orders taken over by this cycle.
    size_t taken() const { return threads.size(); }

private:
    const settings& cfg;
    std::shared_ptr<state::servedOrders> rows;
    Poco::Logger& log;
    std::vector<std::thread> threads;

    void look(pcudata::pcuControl& pcu);
    void recover(pcudata::pcuControl& pcu, const state::servedOrder& o);
    void endedBefore(pcudata::pcuControl& pcu, const state::servedOrder& o, pcudata::trkState_t* rec);
    void unresolved(const state::servedOrder& o, pcudata::trkState_t* rec);
    void reservedOnly(pcudata::pcuControl& pcu, const std::vector<state::servedOrder>& open);
};

}  // namespace azs_apps
