// The station configuration (ACFG) and price (APRS) requests and their block readers.
#include <Poco/Logger.h>

#include <cerrno>
#include <string>

#include "commandTimer.h"
#include "ctlLog.h"
#include "libLog.h"
#include "pcuControl.h"

namespace pcudata {

namespace {

enum class section { awaitHeader, between, products, payments, tanks, pumps, skip };

// What tells the two blocks apart: the command their header names and their section names.
struct blockKind {
    const char* cmd;
    bool prices;
};

// A whole line in braces. Line ends do not count as part of it, as with "^\{.*\}$".
bool isSectionHeader(const std::string& line)
{
    return line.size() >= 2 && line.front() == '{' && line.back() == '}' &&
           line.find_first_of("\r\n") == std::string::npos;
}

section sectionOf(const std::string& header, const blockKind& kind)
{
    if (kind.prices) return header == "{PRICES}" ? section::products : section::skip;
    if (header == "{PUMP}") return section::pumps;
    if (header == "{TANK}") return section::tanks;
    if (header == "{PROD}") return section::products;
    if (header == "{PAYM}") return section::payments;
    return section::skip;
}

void readDataLine(section state, const std::string& line, acfg_data& cfg)
{
    switch (state) {
        case section::products:
            _read_prods_rec(line, cfg.products);
            break;
        case section::payments:
            _read_payms_rec(line, cfg.payments);
            break;
        case section::tanks:
            _read_tanks_rec(line, cfg.tanks);
            break;
        case section::pumps:
            _read_pumps_rec(line, cfg.pumps);
            break;
        default:
            break;
    }
}

// A line cut by the closed or reset connection ends the block like the close itself: half a price
// or a pump line would be sent on to the platform as if it were whole.
std::string readLine(clientSock& sock, int& err)
{
    std::string line = sock.readln();
    if (line.empty() && sock.errCode() != 0) {
        ctlLogCyr().error("Ошибка чтения данных из сокета: " + errnoText(sock.errCode()));
        err = sock.errCode();
        return line;
    }
    if (!line.empty() && (sock.isPeerClosed() || sock.errCode() != 0)) {
        ctlLogCyr().error("Соединение закрыто контролером, строка ответа неполная [" + line + "]");
        line.clear();
    }
    return line;
}

// 0 for a block read to "{END}" or to the end of the input after a valid header; the refusal's
// RES when the first line answers another command; -1 when no usable header came.
int readBlock(clientSock& sock, const blockKind& kind, acfg_data& cfg, int& err)
{
    Poco::Logger& lg = ctlLogCyr();
    section state = section::awaitHeader;
    int result = -1;
    err = 0;
    for (;;) {
        const std::string line = readLine(sock, err);
        if (line.empty()) return result;
        if (lg.debug()) lg.debug("Чтение сокета  [" + line + "]");
        if (state == section::awaitHeader) {
            cntlMsgResult head;
            cmdMsgResult_clear(head);
            if (parse_to_cntlres(line, head) < 0) {
                err = EIO;
                return result;
            }
            if (head.Cmd != kind.cmd) {
                lg.error("Ошибка получения конфигурации : " + head.txt + " (" + std::to_string(head.Res) +
                         " : " + head.tcod + ")");
                return head.Res;
            }
            result = 0;
            state = section::between;
        } else if (isSectionHeader(line)) {
            if (line == "{END}") return result;
            state = sectionOf(line, kind);
        } else {
            readDataLine(state, line, cfg);
        }
    }
}

}  // namespace

int pcuControl::getAzsCfg(acfg_data& cfg, int& err)
{
    if (!isConnected()) {
        registered = false;
        err = ENOTCONN;
        return -1;
    }
    ctlLogCyr().information("Запрос конфигурации АЗС");
    commandTimer timer("@!ACFG\n");
    if (_sendCommand("@!ACFG\n") != 0) {
        timer.done(-1);
        err = EIO;
        return -1;
    }
    const int r = _readCfBlock(cfg, err) == 0 ? 0 : -1;
    timer.done(r);
    return r;
}

int pcuControl::getAzsPrs(acfg_data& cfg, int& err)
{
    if (!isConnected()) {
        registered = false;
        err = ENOTCONN;
        return -1;
    }
    ctlLogCyr().information("Запрос цен АЗС");
    commandTimer timer("@!APRS\n");
    if (_sendCommand("@!APRS\n") != 0) {
        timer.done(-1);
        err = EIO;
        return -1;
    }
    const int r = _readPriceBlock(cfg, err) == 0 ? 0 : -1;
    timer.done(r);
    return r;
}

int pcuControl::_readCfBlock(acfg_data& cfg, int& err)
{
    if (!isConnected()) {
        registered = false;
        ctlLogCyr().error("Отсутсвует соединение с сокетом");
        err = ENOTCONN;
        return -1;
    }
    return readBlock(*this, {"ACFG", false}, cfg, err);
}

int pcuControl::_readPriceBlock(acfg_data& cfg, int& err)
{
    if (!isConnected()) {
        registered = false;
        ctlLogCyr().error("Отсутсвует соединение с сокетом");
        err = ENOTCONN;
        return -1;
    }
    return readBlock(*this, {"APRS", true}, cfg, err);
}

}  // namespace pcudata
