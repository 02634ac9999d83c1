#include "fueling.h"

#include <cmath>
#include <cstring>

#include "journal.h"
#include "orderFence.h"
#include "orderRequest.h"
#include "pumpHolds.h"
#include "timeSource.h"
#include "watchedOrders.h"

namespace azs_apps {

namespace {

using pcudata::peek;

const char* const ACCEPTED = "Команда на пуск ТРК принята";

}  // namespace

fueling::fueling(const endpointContext& ctx) : master(ctx), log(Poco::Logger::get("fuelweb/fueling"))
{
    route("^/fueling(/?)$", &fueling::get_fueling, this);
}

std::string fueling::fueling_url() const
{
    return script() + "/fueling";
}

void fueling::get_fueling(httpContext& ctx)
{
    fuelingRun run;
    Poco::JSON::Object ans;
    ans.set("msg", "Пуск ТРК");
    std::unique_ptr<watchedOrders::claim> claim;
    try {
        readRequest(ctx, run);
        findPump(run);
        // One request serves an order: a repeated one gets the same answer and does nothing.
        claim = claimOf(run.orderId);
        if (!claim->held()) {
            // The keeper of the holds ends a reservation that waited too long by taking its claim
            // and clearing its tag first: then the order is gone, not being served.
            if (!carriesOrder(run.rec, run.orderId, 0))
                throw ExceptionHTTP("Номер заказа на ТРК указан неверно", 400);
            answerRepeated(ctx, run);
            return;
        }
        openSession(run);
        registerWorkplace(run, ans);
    } catch (const ExceptionHTTP& e) {
        refuse(ctx, run, e);
        return;
    }
    keepServed(run);
    // Journaled before the answer leaves, as every decision: the platform's next request about the
    // order may come the moment it has the answer, and its rows must follow this one.
    state::journal::record(run.orderId, run.trk, state::journal::FUELING, 200,
                           ans.getValue<std::string>("msg"));
    // The platform has its answer; the order is followed to its end on this thread.
    answer(ctx, 200, ans, httpContext::carryOn);
    delivery(deliveryNeeds(), run).afterAnswer();
}

jsonBody fueling::from_raw_post_data(const std::string& raw, int& err)
{
    jsonBody body;
    err = body.parse(raw);
    return body;
}

// --- before the answer -------------------------------------------------------------------------

// The keeper of the holds takes an order's claim for a moment when it looks at its tag: the claim
// is asked for a few times before the order counts as served by another request.
std::unique_ptr<watchedOrders::claim> fueling::claimOf(const std::string& orderId)
{
    auto claim = std::make_unique<watchedOrders::claim>(orderId);
    for (int look = 1; look < CLAIM_LOOKS && !claim->held(); ++look) {
        pcudata::pauseUs(CLAIM_LOOK_GAP_US);
        claim = std::make_unique<watchedOrders::claim>(orderId);
    }
    return claim;
}

void fueling::readRequest(httpContext& ctx, fuelingRun& run)
{
    poco_information(log, "Принят запрос на запуск/оплату заправки");
    run.apikey = ctx.get("apikey");
    const bool posted = ctx.method() == "POST";
    int parseErr = 0;
    jsonBody body;
    if (posted) body = from_raw_post_data(ctx.rawBody(), parseErr);
    answerHeaders(ctx);
    if (parseErr != 0) throw ExceptionHTTP("Ошибка в данных заказа при пуске ТРК", 500);
    if (!posted || !body.present()) throw ExceptionHTTP("Отсутствуют данные для пуска ТРК", 412);
    log.debug("Данные заказа [ " + body.text() + " ]");
    checkKeys(run);
    readFields(body, run);
    checkFields(run);
}

// The caller learns only that the keys failed; the log says which one.
void fueling::checkKeys(fuelingRun& run)
{
    run.errorText = "Ошибка авторизации АЗС";
    apiKeys keys = apiKeys::parse(run.apikey, apiKeys::withClient);
    requireOrderKeys(keys);
    run.clientKey = keys.client;
    run.errorText.clear();
}

// The order's fields are read, and its amounts rounded, exactly as /order reads them.
void fueling::readFields(const jsonBody& body, fuelingRun& run)
{
    const orderRequest r = orderRequest::read(body);
    run.orderId = r.id;
    run.extendedId = r.extendedId;
    run.appId = r.app_id;
    run.trk = r.trk;
    run.prod = r.prod;
    run.price = r.price;
    run.volume = r.volume;
    run.summa = r.summa;
    run.contract = r.contract;
}

void fueling::checkFields(fuelingRun& run)
{
    if (run.orderId.empty() || run.appId < 1) throw ExceptionHTTP("Не верно задан номер заказа", 400);
    requireRecordWidths(run.orderId, run.clientKey);
    if (run.trk < 1 || run.trk > pcudata::TRK_COUNT) {
        run.errorText = "Неверно указан номер ТРК";
        throw ExceptionHTTP("Номер ТРК за пределами допустимых значений", 400);
    }
    if (run.prod < 1) throw ExceptionHTTP("Неверно указан продукт", 400);
    // "cумма" starts with a Latin c. A negative or endless amount would reach the controller's
    // start command and the delivery's count: it is refused as a missing one.
    const char* missing = !amountGiven(run.price)    ? "Не указана цена продукта"
                          : !amountGiven(run.volume) ? "Не указан объем заказа"
                          : !amountGiven(run.summa)  ? "Не указана cумма заказа"
                                                     : nullptr;
    if (missing == nullptr) return;
    run.errorText = missing;
    throw ExceptionHTTP("Неверно указаны цена/объем/сумма заказа", 402);
}

// The pump must carry this order's tag, placed by /order for this client.
void fueling::findPump(fuelingRun& run)
{
    if (!pumpTable()) {
        run.errorText = "Программная ошибка АЗС";
        throw ExceptionHTTP("Ошибка доступа к разделяемой памяти", 500);
    }
    run.table = &pcu();
    run.rec = pcu().getTrkState(run.trk);
    if (run.rec == nullptr) throw ExceptionHTTP("Не удалось определить номер ТРК", 500);
    std::string tagged = pcudata::fieldText(run.rec->orderId);
    if (tagged != run.orderId) {
        log.debug("Данные заказа (ptr ='" + tagged + "' ord= '" + run.orderId + "' tr='" +
                  std::to_string(peek(run.rec->trannum)) + "'");
        throw ExceptionHTTP("Номер заказа на ТРК указан неверно", 400);
    }
    if (pcudata::fieldText(run.rec->clientKey) != run.clientKey) {
        run.errorText = "Ошибка в данных заказа (неизвестное приложение)";
        throw ExceptionHTTP("Идентификатор приложения не соответствует указанному в заказе", 400);
    }
    if (peek(run.rec->trk) != run.trk) throw ExceptionHTTP("Номер ТРК не соответствует заданному", 400);
}

void fueling::openSession(fuelingRun& run)
{
    run.session = newSession();
    run.errorText = "Нет связи с ТРК";
    run.session->__try_Ctl_Available(3);
    if (!run.session->isConnected()) throw ExceptionHTTP("Отсутствует соединение с сокетом", 404);
}

// A refused registration is still answered 200: the platform learns from the answer and from the
// cancellation that follows.
void fueling::registerWorkplace(fuelingRun& run, Poco::JSON::Object& ans)
{
    run.runState = fuelingRun::startRequested;
    pcudata::cmdMsgResult_clear(run.res);
    run.reason.clear();
    if (!run.session->is_registered()) {
        int r = run.session->register_wrkplace(run.res, run.err);
        log.debug("результат регистрация рабочего места [ res=" + std::to_string(r) + " ]");
        if (run.res.Res != 1) {
            poco_error(log, "Ошибка регистрации рабочего места");
            run.errorText = "Ошибка подключения к ТРК";
            ans.set("msg", run.errorText);
            ans.set("stat", run.status());
            ans.set("res", run.res.Res);
            ans.set("cmd", run.res.Cmd.empty() ? std::string("REGM") : run.res.Cmd);
            ans.set("err", run.err != 0 ? run.err : 13);
            if (!run.res.tcod.empty()) ans.set("tcod", run.res.tcod);
            if (!run.res.txt.empty()) ans.set("txt", run.res.txt);
            run.runState = fuelingRun::cancelOrder;
            return;
        }
    }
    ans.set("msg", ACCEPTED);
    ans.set("stat", run.status());
    ans.set("err", 0);
}

// The platform repeated the request of an order that another request is serving: it gets the
// answer it got the first time, and the pump is not touched.
void fueling::answerRepeated(httpContext& ctx, const fuelingRun& run)
{
    poco_warning(log, "Заказ '" + run.orderId + "' на ТРК " + std::to_string(run.trk) +
                          " уже обслуживается, повторный запрос на пуск не выполняется");
    Poco::JSON::Object ans;
    ans.set("msg", ACCEPTED);
    ans.set("stat", run.status());
    ans.set("err", 0);
    state::journal::record(run.orderId, run.trk, state::journal::REPEATED, 200, "пуск уже выполняется");
    answer(ctx, 200, ans);
}

void fueling::refuse(httpContext& ctx, fuelingRun& run, const ExceptionHTTP& e)
{
    poco_error(log, e.what());
    Poco::JSON::Object ans;
    ans.set("msg", run.errorText.empty() ? e.what() : run.errorText);
    // Journaled once the caller's keys passed (the client key is known then), before the answer.
    if (!run.clientKey.empty()) {
        const int pump = run.trk >= 1 && run.trk <= pcudata::TRK_COUNT ? run.trk : 0;
        state::journal::record(run.orderId, pump, state::journal::REFUSED, e.response_code(),
                               ans.getValue<std::string>("msg"));
    }
    answer(ctx, e.response_code(), ans);
    if (run.session) run.session->close();
}

// Before the platform learns that the order is taken on, it is kept in the state file: a process
// that ends during the order leaves it to the next start, which takes it over.
void fueling::keepServed(fuelingRun& run)
{
    run.served = state::servedOrders::current();
    run.pmt = pcu().get_paymnt(run.contract);
    // The transaction the order's hold was taken for, when it is known; else the one the pump
    // shows for the order now.
    run.trannum = peek(run.rec->trannum);
    state::pumpHold hold;
    const std::shared_ptr<state::pumpHolds> holds = state::pumpHolds::current();
    if (holds &&
        (holds->find(run.orderId, state::holdKind::reservation, hold) ||
         holds->find(run.orderId, state::holdKind::payment, hold)) &&
        hold.trannum > 0)
        run.trannum = hold.trannum;
    if (!run.served) return;
    state::servedOrder o;
    static_cast<state::orderRecord&>(o) = run;
    run.servedId = run.served->begin(o, pcudata::timeSrc().now());
    if (run.servedId == 0) {
        poco_error(log, "Заказ '" + run.orderId + "' не сохранен в файле состояния: после сбоя приложения " +
                            "наблюдение за ним не будет восстановлено");
    }
}

deliveryContext fueling::deliveryNeeds()
{
    return deliveryContext{pcu(), cfg.platform, cfg.upstreamKey, cfg.ctlKey};
}

}  // namespace azs_apps
