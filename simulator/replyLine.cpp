#include "replyLine.h"

#include <cstdio>

#include "replyCodes.h"

namespace sim {

std::string replyLine::text() const
{
    std::string body = cmd + ";RES=" + std::to_string(res) + ";TCOD=" + tcod + ";TXT=" + txt + ";";
    for (const auto& e : extras) body += e.first + "=" + e.second + ";";
    // Final length: "@" + 4 digits + body + "$" + 4 hex digits + ";".
    size_t total = 1 + 4 + body.size() + 1 + 4 + 1;
    char len[8];
    std::snprintf(len, sizeof len, "%04u", static_cast<unsigned>(total % 10000));
    std::string head = "@" + std::string(len) + body;
    char crc[8];
    std::snprintf(crc, sizeof crc, "%04X", static_cast<unsigned>(crc16(head)));
    return head + "$" + crc + ";";
}

replyLine makeReply(const std::string& cmd, int res)
{
    replyLine r;
    r.cmd = cmd;
    r.res = res;
    r.tcod = codeTcod(res);
    r.txt = codeText(res);
    return r;
}

uint16_t crc16(const std::string& data)
{
    uint16_t crc = 0xFFFF;
    for (unsigned char c : data) {
        crc ^= static_cast<uint16_t>(c << 8);
        for (int i = 0; i < 8; ++i)
            crc = (crc & 0x8000) ? static_cast<uint16_t>((crc << 1) ^ 0x1021) : crc << 1;
    }
    return crc;
}

}  // namespace sim
