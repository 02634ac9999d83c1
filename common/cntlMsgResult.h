#pragma once
// One reply line of the controller's control port, parsed.
//
// A reply line is a ";"-separated list of tokens: a header "@" + four length characters + the name
// of the answered command, KEY=VALUE elements (RES, TCOD and TXT are also copied into named
// fields), and a "$" checksum token that is stored but never verified.
#include <cstdint>
#include <string>
#include <vector>

namespace pcudata {

struct cntlMsgEm {
    std::string name;
    std::string value;
};

struct cntlMsgResult {
    bool empty = true;
    int32_t Res = -1;  // RES element; -1 when the line carries none
    std::string Cmd;   // command name from the header token
    std::string Len;   // the four characters after "@", kept as text
    std::string tcod;
    std::string txt;
    std::vector<cntlMsgEm> vlist;  // every element in line order, RES/TCOD/TXT included
    std::string crc;               // checksum token without its "$"
};

// Resets res to its cleared state: empty true, Res -1, texts and vlist empty.
void cmdMsgResult_clear(cntlMsgResult& res);

// Parses one reply line into res (replacing what it held). 0 on success; -1 when the line is empty
// or yields no tokens, in which case res is left untouched. Never throws.
int parse_to_cntlres(const std::string& line, cntlMsgResult& res);

}  // namespace pcudata
