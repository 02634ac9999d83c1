#pragma once
// A whole station in this process for the fuelling tests: the pump controller simulator, the
// monitor loop publishing its pumps into a private segment, the platform stub, and fuelweb on a
// free port, all on a compressed clock. Orders are placed on the pumps as /order places them.
#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "durableState.h"
#include "pcuControl.h"
#include "stateTestSupport.h"
#include "stationRig.h"

namespace webtest {

// What the platform orders; the body of /fueling is made from it.
struct order {
    std::string id = "A-1";
    int trk = 1;
    int prod = 92;
    double price = 52.5;
    double volume = 10.0;
    double summa = 525.0;
    std::string client = "client";
    std::string extendedId;

    std::string apikey() const { return client + ",srv,azs"; }
    std::string body() const;
};

// The rig with the monitor loop, a slower flow and the service's order timeout set by the test.
class FuelingStation : public ::testing::Test, public stationRig {
protected:
    static constexpr double SPEED = 50;  // nominal seconds per real second
    static constexpr int WAIT_MS = 30000;

    FuelingStation();
    // fuelweb: further "fuelweb" keys as JSON text, e.g. {"ctl_overfill_lock_allow", "true"}.
    void start(int orderTimeout = 120, std::map<std::string, std::string> fuelweb = {});
    void TearDown() override;

    // /order's reservation road: the pump is reserved with the controller, and its record carries
    // the order (id, client key, transaction, tag time) once the monitor shows the reservation.
    void placeOrder(const order& o);
    // /order's post-payment road: the record of a pump that waits for payment is tagged.
    void tagFinished(const order& o);
    // Tags the record as /order does; tagTime as given (-1: now).
    void tag(const order& o, int64_t tagTime = -1);

    // The order's pump started: the driver fills up to the preset and hangs up.
    void fillUp(const order& o);
    // A delivery of ml made at the pump itself (product 92), waiting for its payment at the till.
    void deliveredAtThePump(int trk, int64_t ml = 3000);
    // The command goes through to the controller, and the connection is cut before its answer.
    void cutAfter(const std::string& cmd);

    httpReply fueling(const order& o);
    httpReply cancel(const std::string& apikey, const std::string& orderId);

    // Waits until the request of the order has ended: its claim is given back and a final notice
    // has arrived. The final notices (completions and cancellations) of that order.
    std::vector<sim::platformRequest> finals(const std::string& orderId);
    std::vector<sim::platformRequest> notices(const std::string& path, const std::string& orderId) const;
    std::vector<std::string> messages(const std::string& orderId) const;
    static std::string field(const sim::platformRequest& r, const std::string& name);

    bool waitRecord(int trk, const std::function<bool(const pcudata::trkState_t&)>& cond);
    bool waitStatus(int trk, int status);
    pcudata::trkState_t& record(int trk) { return pump(trk); }
    // A controller session of the test itself (to stop a pump as a till would).
    int stopFromTill(int trk);

    std::vector<std::thread> helpers;  // joined before the station stops

private:
    static rigOptions options();
};

// The station with the state file of the orders served, as a service cycle keeps it.
class StateFileStation : public FuelingStation {
protected:
    void begin(int orderTimeout = 120);
    void TearDown() override;

    stateDir stateFiles;
    std::unique_ptr<azs_apps::durableState> durable;
};

}  // namespace webtest
