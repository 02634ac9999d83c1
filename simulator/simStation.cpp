#include "simStation.h"

namespace sim {

void simStation::reset(const stationConfig& config)
{
    cfg = config;
    pumps.clear();
    for (const simPumpConfig& p : cfg.pumps) pumps.emplace_back(p, cfg.products);
    nextTrannum = cfg.firstTrannum;
    faults.clear();
    received.clear();
}

simPump* simStation::pump(int num)
{
    for (simPump& p : pumps)
        if (p.st.trk == num) return &p;
    return nullptr;
}

}  // namespace sim
