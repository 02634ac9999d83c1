#pragma once
// What the soak checks once the station has settled: every order that fuelweb reserved ended
// with exactly one final notice that the platform took (200), a completion with the order's own
// transaction and the litres the pump delivered for it, a cancellation only when no fuel flowed
// for it; an order that /order refused has none; and no pump is left held: each is idle, neither
// reserved nor payment-locked by fuelweb's workplace, with no unpaid delivery and no order tag in
// the pump table.
#include <map>
#include <string>
#include <vector>

#include "deliveryTracker.h"
#include "soakOrder.h"
#include "soakStation.h"

namespace soak {

struct verdict {
    int placed = 0, reserved = 0, refused = 0, unknownPlacement = 0;
    int started = 0, fuelingRefused = 0, fuelingUnknown = 0;
    int completed = 0, cancelled = 0;
    int postPaid = 0, postPaidCompleted = 0;  // orders paying a delivery made at the pump first
    int cancelsSent = 0;
    int refusedAttempts = 0;  // notice attempts that the platform refused
    int lost = 0, duplicated = 0, wrongLitres = 0, unexpected = 0, pumpsHeld = 0;
    std::map<std::string, int> refusals;     // /order and /fueling refusals by status and text
    std::vector<std::string> problems;       // one paragraph each
    std::vector<std::string> failingOrders;  // their ids

    bool ok() const
    {
        return lost == 0 && duplicated == 0 && wrongLitres == 0 && unexpected == 0 && pumpsHeld == 0;
    }
};

// The pumps that something still holds, one line each.
std::vector<std::string> heldPumps(soakStation& station);

// True when every reserved order has a final notice the platform took and no pump is held;
// otherwise `waiting` says what is still awaited.
bool settled(const std::vector<soakOrder>& orders, soakStation& station, std::string& waiting);

// Every order with its final notices and what its customer saw, for the run's directory.
std::string orderReport(const std::vector<soakOrder>& orders, soakStation& station,
                        const deliveryTracker& tracker);

verdict judge(const std::vector<soakOrder>& orders, soakStation& station, const deliveryTracker& tracker);

}  // namespace soak
