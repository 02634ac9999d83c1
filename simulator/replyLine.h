#pragma once
// One reply line of the control port (without the line feed):
//   "@" + Len + CMD + ";RES=" + res + ";TCOD=" + tcod + ";TXT=" + txt + (";" + KEY=VALUE)... + ";$" + crc +
//   ";"
// Len is the byte length of the whole line as four decimal digits (modulo 10000); crc is the
// CRC-16/CCITT of everything before the "$", as four upper-case hex digits. Both are informative:
// the web service stores them and checks neither.
// Every token keeps to the reply grammar as long as TCOD, TXT and extra values hold neither ";" nor
// "=" (texts injected by tests are sent as given, so a test can also send such a value on purpose).
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace sim {

struct replyLine {
    std::string cmd;
    int res = 1;
    std::string tcod;
    std::string txt;
    std::vector<std::pair<std::string, std::string>> extras;  // e.g. VAL, PRS, PRD

    std::string text() const;
};

// A reply carrying the standard TCOD and TXT of the code (replyCodes.h).
replyLine makeReply(const std::string& cmd, int res);

uint16_t crc16(const std::string& data);

}  // namespace sim
