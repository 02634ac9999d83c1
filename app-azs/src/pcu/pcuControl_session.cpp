// Connection, registration recovery and the transport of one command on the control port.
#include <sys/socket.h>

#include <Poco/Logger.h>

#include <cerrno>
#include <string>

#include "ctlLog.h"
#include "libLog.h"
#include "pcuControl.h"
#include "timeSource.h"

namespace pcudata {

namespace {

constexpr int64_t kSecondUs = 1000000;

std::string attemptTag(int i, int tries)
{
    return "(" + std::to_string(i) + "/" + std::to_string(tries) + ")";
}

std::string resultSummary(const cntlMsgResult& res)
{
    return "Результат выполнения команды [ Cmd='" + res.Cmd + "' Res='" + std::to_string(res.Res) +
           "' Len='" + res.Len + "' tcod='" + res.tcod + "' txt='" + res.txt + "' crc='" + res.crc +
           "' vlist='" + std::to_string(res.vlist.size()) + "' ]";
}

}  // namespace

bool pcuControl::open(const std::string& address, unsigned port)
{
    connect(address, port);
    return isConnected();
}

void pcuControl::close()
{
    disconnect();
    registered = false;
}

void pcuControl::__try_Ctl_Available(int tries)
{
    Poco::Logger& lg = ctlLogCyr();
    if (isConnected() && hasError()) {
        disconnect();
        registered = false;
        timeSrc().sleepUs(kSecondUs);
    }
    if (isConnected()) return;
    registered = false;
    const std::string address = host;
    const unsigned portNo = port;
    for (int i = 0; i < tries; ++i) {
        if (i > 0) timeSrc().sleepUs(kSecondUs);
        if (lg.debug()) lg.debug("Подключение к контролеру управления " + attemptTag(i, tries));
        if (!open(address, portNo)) {
            lg.error("Не удалось подключиться к контролеру управления " + attemptTag(i, tries));
            disconnect();
        } else if (!hasError()) {
            return;
        } else {
            lg.error("Ошибки после подключения к сокету контролера управления " + attemptTag(i, tries));
            disconnect();
        }
        registered = false;
    }
}

int pcuControl::reconnectCtlSock(cntlMsgResult& res, int& err)
{
    registered = false;
    if (isConnected()) {
        disconnect();
        err = ENOTCONN;
    }
    const std::string address = host;
    if (!open(address, port)) {
        disconnect();
        err = ENOTCONN;
        return -1;
    }
    if (hasError()) {
        disconnect();
        err = EIO;
        return -1;
    }
    cmdMsgResult_clear(res);
    const int r = register_wrkplace(res, err);
    if (r == -1 || err == EIO || err == ENOTCONN) {
        ctlLogCyr().error("Ошибка перерегистрации рабочего места");
    } else if (res.Res != 1) {
        Poco::Logger::get("fuelweb/fueling").error("Ошибка перерегистрации рабочего места");
    }
    return r;
}

// Only one command is ever outstanding on a session, so whatever is already waiting when a new
// command goes out belongs to an earlier one: a reply that came after its reader gave up, or lines
// after the end of a block. Left in place it would be read as the answer to the new command and
// every later answer would be one command behind.
void pcuControl::_discardStaleInput()
{
    constexpr size_t kMaxDiscard = 65536;  // a controller that floods must not hold us here
    std::string stale;
    stale.swap(pending);
    char chunk[1024];
    while (stale.size() < kMaxDiscard) {
        const ssize_t n = ::recv(sockfd, chunk, sizeof chunk, MSG_DONTWAIT);
        if (n == 0) peerClosed = true;  // the write or read that follows reports the closed peer
        if (n <= 0) break;
        stale.append(chunk, static_cast<size_t>(n));
    }
    if (stale.empty()) return;
    constexpr size_t kShown = 200;
    ctlLog().warning("Отброшены данные контролера, полученные до отправки команды [" +
                     stale.substr(0, kShown) + (stale.size() > kShown ? "..." : "") + "]");
}

int pcuControl::_sendCommand(const std::string& cmd)
{
    Poco::Logger& lg = ctlLog();
    if (!isConnected()) {
        lg.error("Отсутсвует соединение с сокетом");
        return -1;
    }
    if (cmd.empty()) {
        lg.error("Не задана команда для записи в сокет");
        return -1;
    }
    _discardStaleInput();
    if (lg.debug()) lg.debug("Запись в сокет [" + cmd + "]");
    const int rc = write(cmd);
    // A write that went out but left an error on the socket is only logged: the read that follows
    // meets the broken connection. hasError() has taken the socket's pending error (a reset, say),
    // so that read may only see the closed connection: the error is named here.
    if (rc != 0 || hasError())
        lg.error(errCode() != 0 ? "Ошибка записи в сокет: " + errnoText(errCode()) : "Ошибка записи в сокет");
    return rc;
}

int pcuControl::_readResult(cntlMsgResult& res, int& err)
{
    Poco::Logger& lg = ctlLog();
    if (!isConnected()) {
        registered = false;
        lg.error("Отсутсвует соединение с сокетом");
        err = ENOTCONN;
        return -1;
    }
    err = 0;
    int result = -1;
    for (;;) {
        result = -1;
        std::string line = readln();
        if (line.empty() && errCode() != 0) {
            // A failed read (reset connection, overlong line) is not a silent "no reply".
            lg.error("Ошибка чтения данных из сокета: " + errnoText(errCode()));
            err = errCode();
        }
        if (!line.empty() && (isPeerClosed() || errCode() != 0)) {
            // The line lost its end with the connection (closed, or reset: the reader then keeps
            // the error): "RES=12" cut to "RES=1" must not pass for success, so a cut line counts
            // as no reply at all.
            lg.error("Соединение закрыто контролером, строка ответа неполная [" + line + "]");
            line.clear();
        }
        if (line.empty()) break;
        if (lg.debug()) lg.debug("Чтение сокета  [" + line + "]");
        if (parse_to_cntlres(line, res) < 0) {
            err = EIO;
            break;
        }
        result = res.Res;
        if (result != 2 && result != 3) break;
    }
    if (lg.debug()) lg.debug(resultSummary(res));
    return result;
}

}  // namespace pcudata
