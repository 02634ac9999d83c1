#include "monitorLines.h"

#include <sstream>

namespace sim {

std::string pumpLine(const pumpState& p)
{
    std::ostringstream o;
    o << 'T' << p.trk << ',' << p.trkParam1 << ',' << p.trkParam2 << ',' << p.trkParam3;
    o << ";S" << p.status << ',' << p.statusAux << ',' << p.needPayFlag << ',' << p.payWplace << ','
      << p.lockWplace << ',' << p.lockType;
    o << ";P" << p.presetVolume << ',' << p.presetMoney << ',' << p.presetPrice << ',' << p.presetPmt << ','
      << p.presetFlags << ',' << p.presetTyp;
    o << ";I" << p.trannum;
    o << ";A" << p.volume << ',' << p.amount;
    o << ";N" << p.prodCode << '{' << p.prodName << '}';
    o << ";W" << p.wCode << '{' << p.wText << '}';
    return o.str();
}

std::string driverLine(int driverVersion)
{
    return "D1,PCUSIM,1.0,0,0,0,0," + std::to_string(driverVersion);
}

std::string maskLine(char letter, int kind, uint32_t mask)
{
    std::string value = std::to_string(static_cast<int32_t>(mask));
    if (letter == 'Y') return "Y" + std::to_string(kind) + ",0,0," + value;
    return std::string(1, letter) + std::to_string(kind) + "," + value;
}

uint32_t pumpMask(const stationConfig& cfg, int simPumpConfig::*flag)
{
    uint32_t mask = 0;
    for (const simPumpConfig& p : cfg.pumps)
        if (p.*flag) mask |= 1u << (p.num - 1);
    return mask;
}

}  // namespace sim
