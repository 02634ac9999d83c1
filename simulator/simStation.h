#pragma once
// Everything the simulated controller knows, in one plain record: the station description, the
// pumps, the transaction counter, the queued control-port faults and the record of received
// command lines. pcuSimulator guards it with one mutex.
#include <string>
#include <vector>

#include "commandFault.h"
#include "simPump.h"
#include "stationConfig.h"

namespace sim {

struct simStation {
    stationConfig cfg;
    std::vector<simPump> pumps;
    int nextTrannum = 1;
    faultQueue faults;
    std::vector<std::string> received;  // control lines, line feed stripped

    void reset(const stationConfig& config);
    simPump* pump(int num);  // null for a pump the station does not have
};

// Per-connection state of the control port.
struct controlSession {
    bool registered = false;
    int wplace = 0;
    int wplaceTyp = 0;
};

}  // namespace sim
