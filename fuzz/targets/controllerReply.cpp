// The controller's reply lines on the control port: each input line through the reply parser, and
// the whole input as the reply stream of one command, read by the session as it reads a reply.
//
// What must hold:
//  - the parser takes every non-empty line and leaves the record untouched for an empty one;
//  - the record holds what the line carries, token by token: header, checksum, and every KEY=VALUE
//    element in line order; Res is -1 unless a RES element carries a number, TCOD and TXT are the
//    last such elements;
//  - the session's reply reader returns the RES of the first final line (a line without RES counts
//    as final), -1 when the stream ends before one; never the intermediate codes 2 and 3.
#include <cstdlib>

#include "cntlMsgResult.h"
#include "fuzzSupport.h"
#include "fuzzTarget.h"
#include "str.h"

namespace {

constexpr size_t LINES_MAX = 64;

// The record a reply line must give, worked out token by token from the line itself.
pcudata::cntlMsgResult expectedRecord(const std::string& line)
{
    pcudata::cntlMsgResult r;
    pcudata::cmdMsgResult_clear(r);
    r.empty = false;
    size_t start = 0;
    while (start < line.size()) {
        size_t end = line.find(';', start);
        if (end == std::string::npos) end = line.size();
        const std::string token = line.substr(start, end - start);
        start = end + 1;
        if (token.empty()) continue;
        if (token[0] == '@') {
            r.Len = token.substr(1, 4);
            r.Cmd = token.size() > 5 ? token.substr(5) : "";
        } else if (token[0] == '$') {
            r.crc = token.substr(1);
        } else {
            const size_t eq = token.find('=');
            if (eq == 0) continue;
            const size_t eq2 = eq == std::string::npos ? eq : token.find('=', eq + 1);
            pcudata::cntlMsgEm em{token.substr(0, eq),
                                  eq == std::string::npos ? "" : token.substr(eq + 1, eq2 - eq - 1)};
            int32_t code = 0;
            if (em.name == "RES" && !em.value.empty() && pcudata::str::_stoi(em.value, code) == 0)
                r.Res = code;
            if (em.name == "TCOD") r.tcod = em.value;
            if (em.name == "TXT") r.txt = em.value;
            r.vlist.push_back(em);
        }
    }
    return r;
}

bool sameRecord(const pcudata::cntlMsgResult& a, const pcudata::cntlMsgResult& b)
{
    if (a.empty != b.empty || a.Res != b.Res || a.Cmd != b.Cmd || a.Len != b.Len || a.tcod != b.tcod ||
        a.txt != b.txt || a.crc != b.crc || a.vlist.size() != b.vlist.size())
        return false;
    for (size_t i = 0; i < a.vlist.size(); ++i)
        if (a.vlist[i].name != b.vlist[i].name || a.vlist[i].value != b.vlist[i].value) return false;
    return true;
}

// A record filled with what no line produces, to see that a refused line leaves it alone.
pcudata::cntlMsgResult sentinel()
{
    pcudata::cntlMsgResult r;
    r.empty = false;
    r.Res = 12345;
    r.Cmd = "SENTINEL";
    r.vlist.push_back({"K", "V"});
    return r;
}

void replyLine(const std::string& line)
{
    pcudata::cntlMsgResult res = sentinel();
    const int rc = pcudata::parse_to_cntlres(line, res);
    if (line.empty()) {
        FUZZ_CHECK(rc == -1);
        FUZZ_CHECK(sameRecord(res, sentinel()));
        return;
    }
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(sameRecord(res, expectedRecord(line)));
}

// The reply of one command: lines are read until a final one; an empty line is no reply.
void replyStream(std::string_view input)
{
    std::unique_ptr<pcudata::pcuControl> session = fuzzing::sessionReading(input);
    if (!session) std::abort();  // no socket pair: the machine, not the parser
    int expected = -1;
    bool anyLine = false;
    pcudata::cntlMsgResult last;
    for (const std::string& line : fuzzing::linesAsRead(input)) {
        if (line.empty()) break;
        last = expectedRecord(line);
        anyLine = true;
        expected = last.Res;
        if (expected != 2 && expected != 3) break;
        expected = -1;  // an intermediate line: the final one must follow
    }
    pcudata::cntlMsgResult res;
    pcudata::cmdMsgResult_clear(res);
    int err = -1;
    const int rc = session->_readResult(res, err);
    FUZZ_CHECK(rc != 2 && rc != 3);
    FUZZ_CHECK(rc == expected);
    FUZZ_CHECK(err == 0);
    if (anyLine) FUZZ_CHECK(sameRecord(res, last));
}

}  // namespace

FUZZ_TARGET(controllerReply)
{
    fuzzing::quietLogs();
    size_t count = 0;
    for (const std::string& line : fuzzing::lines(input)) {
        if (++count > LINES_MAX) break;
        replyLine(line);
    }
    replyStream(input.substr(0, fuzzing::STREAM_INPUT_MAX));
}
