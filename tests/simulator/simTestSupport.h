#pragma once
// Shared pieces of the simulator's tests: a station whose deliveries take milliseconds, and an
// independent reading of a control reply line by the token rules of the reply grammar.
#include <gtest/gtest.h>

#include <map>
#include <string>

#include "lineClient.h"
#include "pcuSimulator.h"

namespace simtest {

// 2 ms ticks, 1 l per tick, no automatic driver, no periodic repeat.
inline sim::stationConfig fastStation()
{
    sim::stationConfig cfg = sim::defaultStation();
    cfg.tickMs = 2;
    cfg.flowMlPerTick = 1000;
    cfg.autoDriverTicks = 0;
    cfg.repeatMs = 0;
    return cfg;
}

struct reply {
    bool wellFormed = false;
    std::string len;
    std::string cmd;
    std::string crc;
    std::map<std::string, std::string> el;
    int res = -1;
};

// Tokens separated by ";": "@" + 4 characters + command name, "$" + checksum, KEY=VALUE elements.
// Well formed: header first, a 4-character Len, a name, a numeric RES, a checksum, a final ";",
// and no element value holding a second "=".
inline reply readReply(const std::string& line)
{
    reply r;
    bool extraEq = false;
    size_t pos = 0;
    while (pos < line.size()) {
        size_t semi = line.find(';', pos);
        std::string tok = line.substr(pos, semi == std::string::npos ? std::string::npos : semi - pos);
        pos = semi == std::string::npos ? line.size() : semi + 1;
        if (tok.empty()) continue;
        if (tok[0] == '@') {
            r.len = tok.substr(1, 4);
            r.cmd = tok.size() > 5 ? tok.substr(5) : "";
        } else if (tok[0] == '$') {
            r.crc = tok.substr(1);
        } else {
            size_t eq = tok.find('=');
            std::string value = eq == std::string::npos ? "" : tok.substr(eq + 1);
            extraEq = extraEq || value.find('=') != std::string::npos;
            r.el[tok.substr(0, eq)] = value;
        }
    }
    if (r.el.count("RES") && !r.el["RES"].empty()) r.res = std::atoi(r.el["RES"].c_str());
    r.wellFormed = !line.empty() && line[0] == '@' && line.back() == ';' && r.len.size() == 4 &&
                   !r.cmd.empty() && r.el.count("RES") && r.res != -1 && !r.crc.empty() && !extraEq;
    return r;
}

// A registered control connection to the simulator.
inline void registerWorkplace(lineClient& c, int wplace = 20)
{
    reply r = readReply(c.command("@!REGM;NUM=" + std::to_string(wplace) + ";TYP=14;"));
    ASSERT_EQ(r.res, 1);
}

}  // namespace simtest
