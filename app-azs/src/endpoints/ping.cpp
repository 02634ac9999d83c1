#include "ping.h"

#include "exceptions.h"
#include "str.h"
#include "timeSource.h"
#include "trkLock.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

// A pump waiting for payment is often just being settled: a second look shortly after gives the
// platform the state that follows instead of a payment that is about to disappear.
constexpr int64_t NEED_PAY_REREAD_US = 100000;

bool postpayInfo(int status)
{
    return (status >= st::READY_PROGRAM && status <= st::NEED_PAY) || status == st::STOPPED;
}

}  // namespace

ping::ping(const endpointContext& ctx) : master(ctx), log(Poco::Logger::get("fuelweb/ping"))
{
    route("^/ping(/?)$", &ping::get_ping, this);
}

std::string ping::ping_url() const
{
    return script() + "/ping";
}

std::string ping::getTrkStatusMsg(int code)
{
    return pcudata::trkStatusText(code);
}

void ping::get_ping(httpContext& ctx)
{
    answerHeaders(ctx);
    request req = readRequest(ctx);
    try {
        if (req.columnId.empty()) throw ExceptionHTTP("Не задан номер ТРК", 400);
        checkKeys(req.apikey);
        int trk = pumpNumber(req.columnId);
        pcudata::trkState_t* rec = pumpRecord(trk);
        int status = readStatus(rec);
        Poco::JSON::Object ans;
        ans.set("statusId", status);
        ans.set("Description", getTrkStatusMsg(status));
        if (peek(rec->autoStart) != 0) ans.set("autostart", peek(rec->autoStart));
        if (peek(rec->autoCafe) != 0 && peek(rec->flagE2) == 0) ans.set("autocafe", peek(rec->autoCafe));
        applyLockCommand(rec, req);
        if (peek(rec->blocked) != 0) ans.set("blocked", peek(rec->blocked));
        int code = fillAnswer(ans, rec, status);
        answer(ctx, code, ans);
    } catch (const ExceptionHTTP& e) {
        poco_error(log, e.what());
        answer(ctx, e.response_code(), "");
    }
}

ping::request ping::readRequest(httpContext& ctx)
{
    request req;
    req.apikey = param(ctx, "apikey");
    req.columnId = param(ctx, "columnId");
    req.orderId = param(ctx, "orderId");
    req.lockCmd = param(ctx, "__lock");
    poco_information(log, "Получен запрос на получение состояния ТРК '" + req.columnId + "'");
    if (req.lockCmd != "setLock" && req.lockCmd != "resetLock") req.lockCmd.clear();
    if (!req.lockCmd.empty()) {
        poco_information(log, std::string("Получена команда на ") +
                                  (req.lockCmd == "resetLock" ? "раз" : "") + "блокировку ТРК '" +
                                  req.columnId + "'");
    }
    return req;
}

// apikey = client key, server key, station key; the first failing check is named in the debug log.
void ping::checkKeys(const std::string& apikey)
{
    if (apikey.empty()) throw ExceptionHTTP("Ошибка авторизации", 401);
    apiKeys::verdict v = master::checkKeys(apiKeys::parse(apikey, apiKeys::withClient), apiKeys::withClient);
    if (v == apiKeys::ok) return;
    const char* failed = v == apiKeys::badClient   ? "apikey"
                         : v == apiKeys::badServer ? "server key"
                                                   : "azs key";
    log.debug(std::string("Ошибка авторизации (") + failed + ")");
    throw ExceptionHTTP("Ошибка авторизации", 401);
}

int ping::pumpNumber(const std::string& columnId)
{
    int32_t trk = 0;
    if (pcudata::str::_stoi(columnId, trk, nullptr, 10) != 0)
        throw ExceptionHTTP("Неправильно задан номер ТРК", 400);
    if (trk < 1 || trk > pcudata::TRK_COUNT) throw ExceptionHTTP("Номер ТРК за пределами допустимого", 400);
    return trk;
}

pcudata::trkState_t* ping::pumpRecord(int trk)
{
    if (!pumpTable()) throw ExceptionHTTP("Ошибка получения доступа к SharedMem", 500);
    pcudata::trkState_t* rec = pcu().getTrkState(trk);
    if (rec == nullptr) throw ExceptionHTTP("Ошибка получения данных из SharedMem", 400);
    // An unpublished record still holds 0 here.
    int32_t stored = peek(rec->trk);
    if (stored != trk)
        throw ExceptionHTTP("Номер ТРК не соответствует заданному [" + std::to_string(stored) + "/" +
                                std::to_string(trk) + "]",
                            400);
    return rec;
}

int ping::readStatus(const pcudata::trkState_t* rec)
{
    int status = pcu().statusOf(rec);
    if (status != st::NEED_PAY) return status;
    pcudata::timeSrc().sleepUs(NEED_PAY_REREAD_US);
    return pcu().statusOf(rec);
}

// The command changes only `blocked`, under the record's lock. When the lock stays taken elsewhere
// the command is dropped, and the answer still goes out; the operator learns of it from the log.
void ping::applyLockCommand(pcudata::trkState_t* rec, const request& req)
{
    if (req.lockCmd.empty()) return;
    pcudata::trkLock lock(pcu(), rec);
    if (!lock) {
        poco_warning(log, std::string("Не выполнена команда на ") +
                              (req.lockCmd == "resetLock" ? "раз" : "") + "блокировку ТРК '" + req.columnId +
                              "' : запись ТРК занята (" + std::to_string(pcu().getLastError()) + ")");
        return;
    }
    rec->blocked = req.lockCmd == "resetLock" ? 0 : 1;
}

// Status-dependent members; returns the HTTP status of the answer.
int ping::fillAnswer(Poco::JSON::Object& ans, const pcudata::trkState_t* rec, int status)
{
    int code = 404;
    if (st::idle(status)) {
        ans.set("Status", status == st::IDLE ? "Free" : "TakenRefuelingNozzle");
        if (status == st::IDLE_NOZZLE_UP) ans.set("prodcod", peek(rec->prodCode));
        code = 200;
    }
    if (pcu().postpay_allow() && postpayInfo(status)) {
        ans.set("Litre", static_cast<double>(peek(rec->volume)) / 1000.0);
        ans.set("Sum", static_cast<double>(peek(rec->amount)) / 100.0);
        int32_t trannum = peek(rec->trannum);
        if (trannum > 0) ans.set("ExtendedId", std::to_string(trannum));
        ans.set("prodcod", peek(rec->prodCode));
        code = status == st::NEED_PAY ? 411 : 410;
    }
    return code;
}

}  // namespace azs_apps
