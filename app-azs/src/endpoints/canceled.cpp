#include "canceled.h"

#include <cstring>

#include "exceptions.h"
#include "orderFence.h"
#include "pumpHolds.h"
#include "timeSource.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

using pcudata::SECOND_US;

// Statuses in which the pump runs or holds an order: ready, delivering, paused, ended, reserved,
// stopped. Idle pumps, pumps awaiting settlement and pumps without link have nothing to stop.
bool stoppable(int32_t status)
{
    return (status >= st::READY_PROGRAM && status <= st::BUSY) || status == st::STOPPED;
}

}  // namespace

canceled::canceled(const endpointContext& ctx) : master(ctx), log(Poco::Logger::get("fuelweb/canceled"))
{
    route("^/canceled(/?)$", &canceled::get_canceled, this);
}

std::string canceled::canceled_url() const
{
    return script() + "/canceled";
}

void canceled::get_canceled(httpContext& ctx)
{
    request req{param(ctx, "apikey"), param(ctx, "orderId"), param(ctx, "reason")};
    std::unique_ptr<pcudata::pcuControl> session;
    int code = 404;
    try {
        code = cancel(ctx, req, session);
    } catch (const ExceptionHTTP& e) {
        poco_error(log, e.what());
        code = e.response_code();
    }
    ctx.status(code);
    ctx.complete(httpContext::done);
    if (session) session->close();
}

int canceled::cancel(httpContext& ctx, const request& req, std::unique_ptr<pcudata::pcuControl>& session)
{
    std::string clientKey = checkKeys(req.apikey);
    if (req.orderId.empty()) throw ExceptionHTTP("Не указан идентификатор заказа", 400);
    requireRecordWidths(req.orderId, clientKey);
    answerHeaders(ctx, false);
    pcudata::trkState_t* rec = findPump(req, clientKey);
    const fence f = fenceOf(rec, req.orderId);
    openSession(session);
    return stopPump(*session, f);
}

std::string canceled::checkKeys(const std::string& apikey)
{
    apiKeys keys = apiKeys::parse(apikey, apiKeys::withClient);
    requireOrderKeys(keys);
    return keys.client;
}

pcudata::trkState_t* canceled::findPump(const request& req, const std::string& clientKey)
{
    if (!pumpTable()) throw ExceptionHTTP("Ошибка доступа к разделяяемой памяти", 500);
    pcudata::trkState_t* rec = pcu().getTrkByOrderId(req.orderId);
    if (rec == nullptr) throw ExceptionHTTP("Отсутствует ТРК с указаным номером заказа", 400);
    if (pcudata::fieldText(rec->orderId) != req.orderId)
        throw ExceptionHTTP("Номер заказа на ТРК не соответствует указанному", 400);
    if (pcudata::fieldText(rec->clientKey) != clientKey)
        throw ExceptionHTTP("Идентификатор приложения не соответствует указанному в заказе", 400);
    int32_t trk = peek(rec->trk);
    if (trk < 1 || trk > pcudata::TRK_COUNT)
        throw ExceptionHTTP("Номер ТРК за пределами допустимых значений", 400);
    return rec;
}

void canceled::openSession(std::unique_ptr<pcudata::pcuControl>& session)
{
    session = newSession();
    session->__try_Ctl_Available(3);
    if (!session->isConnected()) throw ExceptionHTTP("Отсутствует соединени с сокетом", 404);
    pcudata::cntlMsgResult res;
    int err = 0;
    if (session->is_registered()) return;
    if (session->register_wrkplace(res, err) != 1 || res.Res != 1)
        throw ExceptionHTTP("Ошибка регистрации рабочего места", 404);
}

canceled::fence canceled::fenceOf(pcudata::trkState_t* rec, const std::string& orderId)
{
    fence f{rec, orderId, peek(rec->trannum)};
    state::pumpHold hold;
    const std::shared_ptr<state::pumpHolds> holds = state::pumpHolds::current();
    if (holds &&
        (holds->find(orderId, state::holdKind::reservation, hold) ||
         holds->find(orderId, state::holdKind::payment, hold)) &&
        hold.trannum > 0)
        f.trannum = hold.trannum;
    return f;
}

bool canceled::stillTheOrders(const fence& f, const char* step)
{
    if (stillCarries(f.rec, f.orderId, f.trannum)) return true;
    char tag[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(tag, f.rec->orderId);
    poco_error(log, std::string("Отмена заказа '") + f.orderId + "': " + step + " не выполняется, ТРК " +
                        std::to_string(peek(f.rec->trk)) + " обслуживает заказ '" + tag + "' (транзакция " +
                        std::to_string(peek(f.rec->trannum)) + ")");
    return false;
}

// 200 once the pump has stopped (or, still reserved, has been reset); 404 when there was nothing
// to stop or every try failed.
int canceled::stopPump(pcudata::pcuControl& session, const fence& f)
{
    pcudata::trkState_t* rec = f.rec;
    const int32_t trk = peek(rec->trk);
    if (!stoppable(pcu().statusOf(rec))) return 404;
    pcudata::cntlMsgResult res;
    int err = 0;
    for (int attempt = 0; attempt < STOP_TRIES; ++attempt) {
        if (!stillTheOrders(f, "остановка ТРК")) return attempt == 0 ? 404 : 200;
        err = 0;
        pcudata::cmdMsgResult_clear(res);
        session.stop_trk(trk, f.orderId, res, err);
        pcudata::timeSrc().sleepUs(SECOND_US);
        if (res.Res != 1) continue;
        if (pcu().statusOf(rec) != st::BUSY) return 200;
        // The order's pump stopped; a pump reserved now may be another order's.
        if (!stillTheOrders(f, "сброс резерва ТРК")) return 200;
        pcudata::cmdMsgResult_clear(res);
        session.test_lock_trk(trk, f.orderId, res, err);
        if (res.Res == 1) return 200;
        pcudata::timeSrc().sleepUs(SECOND_US / 2);
    }
    return 404;
}

}  // namespace azs_apps
