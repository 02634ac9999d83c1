#include "cntlMsgResult.h"

#include "split.h"
#include "str.h"

namespace pcudata {

namespace {

// "@" + four length characters + command name. The controller always sends all of it, but a cut
// line must not make us read past the token: what is there is taken, the rest stays empty.
void readHeader(const std::string& token, cntlMsgResult& res)
{
    res.Len = token.substr(1, 4);
    res.Cmd = token.size() > 5 ? token.substr(5) : std::string();
}

// KEY=VALUE; only the text between the first and the second "=" is the value.
void readElement(const std::string& token, cntlMsgResult& res)
{
    const std::vector<std::string> parts = split(token, '=');
    if (parts.empty() || parts[0].empty()) return;
    cntlMsgEm em{parts[0], parts.size() > 1 ? parts[1] : std::string()};
    if (em.name == "RES" && !em.value.empty()) {
        // A value that is not a number (or does not fit) leaves Res at -1: the line is then final
        // and the command counts as failed instead of the parse throwing at the caller.
        int32_t code = 0;
        if (str::_stoi(em.value, code) == 0) res.Res = code;
    } else if (em.name == "TCOD") {
        res.tcod = em.value;
    } else if (em.name == "TXT") {
        res.txt = em.value;
    }
    res.vlist.push_back(std::move(em));
}

}  // namespace

void cmdMsgResult_clear(cntlMsgResult& res)
{
    res.empty = true;
    res.Res = -1;
    res.Cmd.clear();
    res.Len.clear();
    res.tcod.clear();
    res.txt.clear();
    res.crc.clear();
    res.vlist.clear();
}

int parse_to_cntlres(const std::string& line, cntlMsgResult& res)
{
    if (line.empty()) return -1;
    const std::vector<std::string> tokens = split(line, ';');
    if (tokens.empty()) return -1;
    cmdMsgResult_clear(res);
    for (const std::string& token : tokens) {
        if (token.empty()) continue;
        if (token[0] == '@') {
            readHeader(token, res);
        } else if (token[0] == '$') {
            res.crc = token.substr(1);
        } else {
            readElement(token, res);
        }
    }
    res.empty = false;
    return 0;
}

}  // namespace pcudata
