#pragma once
// A customer of the soak: the platform's side and the driver's side of one order after another.
// The platform places the order (/order, then /fueling, sent again when no answer comes, as the
// platform does while fuelweb restarts) and sometimes cancels it; the driver lifts and hangs the
// nozzle of the order's pump, acting only while the pump shows the order's transaction. What the
// driver does with each order is drawn from the customer's own seeded generator. A post-paid order
// pays a delivery made at the pump first; when the platform does not pay it, the till does.
#include <atomic>
#include <random>
#include <string>

#include "soakOrder.h"
#include "soakStation.h"

namespace soak {

struct customerTown {
    soakStation& station;
    orderBook& book;
    const std::atomic<bool>& stop;  // no new orders from now on
    std::atomic<int>& orders;       // orders placed so far, for the ids
    uint32_t seed;
    int orderTimeout;  // fuelweb.order_timeout, seconds
};

class customer {
public:
    customer(int number, customerTown& town);
    void run();

private:
    void serve();
    bool servePostPay(soakOrder& o);
    bool fillAtPump(soakOrder& o);
    void tillTakesPayment(soakOrder& o);
    soakOrder makeOrder();
    std::string drawPlan();
    void place(soakOrder& o);
    void fuel(soakOrder& o);
    void sendCancel(soakOrder& o);
    void drive(soakOrder& o);
    void actOnReadyPump(soakOrder& o);
    bool waitReady(soakOrder& o);
    void waitFlowEnd(const soakOrder& o, double seconds);
    void finish(soakOrder& o);
    void lift(soakOrder& o);
    void hang(soakOrder& o);

    bool mine(const soakOrder& o, const sim::pumpState& st) const { return st.trannum == o.trannum; }
    sim::pumpState pump(const soakOrder& o) const { return town.station.pcu.pump(o.pump); }
    double uniform(double from, double to);
    bool chance(double p);

    int number;
    customerTown& town;
    std::mt19937 rng;
    double cancelAt = -1;  // a cancellation at a random moment of the order, seconds into the run
};

}  // namespace soak
