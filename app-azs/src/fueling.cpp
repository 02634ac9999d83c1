#include "fueling.h"

#include <cmath>
#include <cstring>

#include "fuelingWatch.h"
#include "fuelweb.h"
#include "journal.h"
#include "orderRequest.h"
#include "timeSource.h"
#include "watchedOrders.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

using pcudata::pauseUs;
using pcudata::SECOND_US;

constexpr int STATUS_POLLS = 500;
constexpr int64_t STATUS_POLL_US = 5000;
constexpr int PUT_BACK_PASSES = 10;
constexpr int START_TYP = 2;

const char* const ACCEPTED = "Команда на пуск ТРК принята";

std::string startFailure(const pcudata::cntlMsgResult& res)
{
    return res.txt.empty() ? "Ошибка пуска ТРК" : "Ошибка пуска ТРК (" + res.txt + ")";
}

void cancelWith(fuelingRun& run, const char* reason)
{
    run.runState = fuelingRun::cancelOrder;
    run.reason = reason;
}

void watchWith(fuelingRun& run, const char* message)
{
    run.runState = fuelingRun::watchOnly;
    if (message != nullptr) run.setMessage(message);
}

}  // namespace

fueling::fueling(fuelweb& root) : master(root), log(Poco::Logger::get("fuelweb/fueling"))
{
    root.dispatcher().assign("^/fueling(/?)$", &fueling::get_fueling, this);
}

std::string fueling::fueling_url() const
{
    return root.get_script() + "/fueling";
}

void fueling::get_fueling()
{
    std::shared_ptr<httpContext> ctx = release_context();
    fuelingRun run;
    Poco::JSON::Object ans;
    ans.set("msg", "Пуск ТРК");
    std::unique_ptr<watchedOrders::claim> claim;
    try {
        readRequest(*ctx, run);
        findPump(run);
        // One request serves an order: a repeated one gets the same answer and does nothing.
        claim = std::make_unique<watchedOrders::claim>(run.id);
        if (!claim->held()) {
            answerRepeated(*ctx, run);
            return;
        }
        openSession(run);
        registerWorkplace(run, ans);
    } catch (const ExceptionHTTP& e) {
        refuse(*ctx, run, e);
        return;
    }
    keepServed(run);
    // Journaled before the answer leaves, as every decision: the platform's next request about the
    // order may come the moment it has the answer, and its rows must follow this one.
    state::journal::record(run.id, run.trk, state::journal::FUELING, 200, ans.getValue<std::string>("msg"));
    // The platform has its answer; the order is followed to its end on this thread.
    answer(*ctx, 200, ans, httpContext::carryOn);
    carryOn(run);
}

jsonBody fueling::from_raw_post_data(const std::string& raw, int& err)
{
    jsonBody body;
    err = body.parse(raw);
    return body;
}

// --- before the answer -------------------------------------------------------------------------

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
    run.id = r.id;
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
    if (run.id.empty() || run.appId < 1) throw ExceptionHTTP("Не верно задан номер заказа", 400);
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
    run.rec = pcu().getTrkState(run.trk);
    if (run.rec == nullptr) throw ExceptionHTTP("Не удалось определить номер ТРК", 500);
    std::string tagged = pcudata::fieldText(run.rec->orderId);
    if (tagged != run.id) {
        log.debug("Данные заказа (ptr ='" + tagged + "' ord= '" + run.id + "' tr='" +
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
    poco_warning(log, "Заказ '" + run.id + "' на ТРК " + std::to_string(run.trk) +
                          " уже обслуживается, повторный запрос на пуск не выполняется");
    Poco::JSON::Object ans;
    ans.set("msg", ACCEPTED);
    ans.set("stat", run.status());
    ans.set("err", 0);
    state::journal::record(run.id, run.trk, state::journal::REPEATED, 200, "пуск уже выполняется");
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
        state::journal::record(run.id, pump, state::journal::REFUSED, e.response_code(),
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
    if (!run.served) return;
    state::servedOrder o;
    o.orderId = run.id;
    o.trk = run.trk;
    o.apikey = run.apikey;
    o.clientKey = run.clientKey;
    o.extendedId = run.extendedId;
    o.appId = run.appId;
    o.prod = run.prod;
    o.price = run.price;
    o.volume = run.volume;
    o.summa = run.summa;
    o.contract = run.contract;
    o.pmt = pcu().get_paymnt(run.contract);
    o.trannum = peek(run.rec->trannum);
    run.servedId = run.served->begin(o, pcudata::timeSrc().now());
    if (run.servedId == 0) {
        poco_error(log, "Заказ '" + run.id + "' не сохранен в файле состояния: после сбоя приложения " +
                            "наблюдение за ним не будет восстановлено");
    }
}

// --- after the answer --------------------------------------------------------------------------

void fueling::carryOn(fuelingRun& run)
{
    upstream::notices platform = notices("fuelweb/fueling");
    fuelingWatch watch(run, pcu(), platform, root.get_upstream_key(), root.get_ctl_key());
    if (run.runState == fuelingRun::cancelOrder) {
        run.reason = run.errorText;
        watch.endCancelled();
        return;
    }
    decide(run, waitForStatus(run));
    run.extDate = upstream::notices::_makeExtDate(0);
    run.pmt = pcu().get_paymnt(run.contract);
    if (run.runState == fuelingRun::settleDelivery && watch.settleFinished()) return;
    if (run.runState == fuelingRun::startRequested && !startPump(run, watch)) return;
    if (run.runState == fuelingRun::cancelOrder) {
        watch.cancelBeforeWatch();
        return;
    }
    watch.watchAndSettle();
}

// The first valid status; a pump that waits for payment is looked at again a second later, since
// a settlement in progress at a till ends that state shortly. -1 when none shows.
int32_t fueling::waitForStatus(const fuelingRun& run)
{
    for (int poll = 0; poll < STATUS_POLLS; ++poll) {
        int32_t status = run.status();
        if (status >= 0) {
            if (status != st::NEED_PAY) return status;
            pauseUs(SECOND_US);
            return run.status();
        }
        pauseUs(STATUS_POLL_US);
    }
    return -1;
}

void fueling::decide(fuelingRun& run, int32_t status)
{
    switch (status) {
        case st::NO_CONTROLLER:
        case st::NO_LINK:
            return cancelWith(run, "Нет связи с ТРК");
        case st::IDLE_NOZZLE_UP:
            return cancelWith(run, "Сброс ТРК в исходное состояние, (пистолет снят)");
        case st::IDLE:
            return cancelWith(run, "Сброс ТРК в исходное состояние, (пистолет повешен)");
        case st::READY_PROGRAM:
        case st::READY_CONTROLLER:
        case st::READY_PUMP:
            return watchWith(run, "ТРК готова к пуску (ожидание снятия пистолета)");
        case st::DELIVERING:
            return watchWith(run, nullptr);
        case st::PAUSED:
            return watchWith(run, "Пауза в отпуске топлива (возможно продолжение)");
        case st::DELIVERY_ENDED:
            return watchWith(run, "Заправка окончена, получение данных от ТРК");
        case st::BUSY:
            run.runState = fuelingRun::startRequested;
            return;
        case st::NEED_PAY:
            run.runState = fuelingRun::settleDelivery;
            return;
        case st::INITIALISING:
            return cancelWith(run, "Идет процесс начальной инициализации ТРК. (попробуйте еще раз)");
        case st::OFF:
            return cancelWith(run, "ТРК выключена");
        case st::STOPPED:
            return watchWith(run, "ТРК остановлена, для окончания заправки требуется повесить пистолет");
        case st::BLOCKED:
            return cancelWith(run, "ТРК заблокирована");
        default:
            return cancelWith(run, "Ошибка АЗС");
    }
}

// True when the pump runs the order; otherwise it has been put back and the order cancelled.
bool fueling::startPump(fuelingRun& run, fuelingWatch& watch)
{
    poco_information(log, "Запуск ТРК " + std::to_string(run.trk) + " заказ '" + run.id + "' Продукт='" +
                              std::to_string(run.prod) + " ; Вид оплаты=" + std::to_string(run.pmt) +
                              " ; Объем=" + sixDecimals(run.volume) + " ; Сумма=" + sixDecimals(run.summa) +
                              " ; Цена=" + sixDecimals(run.price));
    run.startFailed = true;
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt)
        if (startAttempt(run, attempt)) break;
    if (!run.startFailed) {
        state::journal::record(run.id, run.trk, state::journal::STARTED, 0, "");
        return true;
    }
    run.err = 0;
    if (run.reason.empty() && run.res.Res != 1) run.reason = startFailure(run.res);
    watch.noteCancellation();
    putBack(run);
    watch.endCancelled();
    return false;
}

// True when the attempts end: the pump started, or the controller refused it for good (ERRPCU).
bool fueling::startAttempt(fuelingRun& run, int attempt)
{
    const std::string tag =
        "[ попытка = " + std::to_string(attempt) + "/" + std::to_string(START_ATTEMPTS) + "]";
    log.debug("Статус Запуск ТРК " + tag + " : 0");
    run.session->__try_Ctl_Available(1);
    if (!run.session->isConnected()) {
        run.session->close();
        pauseUs(SECOND_US);
        return false;
    }
    run.freshResult();
    int r = run.session->start_order_trk(run.trk, run.id, run.res, run.err, run.prod, run.pmt, run.volume,
                                         run.summa, run.price, START_TYP);
    log.debug("результат запуска ТРК " + tag + " res=" + std::to_string(r));
    if (run.res.Res == 1) {
        run.startFailed = false;
        return true;
    }
    run.reason = startFailure(run.res);
    if (run.res.tcod == "ERRPCU") return true;
    if (startWentThrough(run)) return true;
    pauseUs(SECOND_US);
    return false;
}

// The pump was reserved for this order when the start went out. If it shows a started state now,
// the command was carried out although its answer was lost: starting it again, or putting it back
// and cancelling an order whose fuel may already flow, would both be wrong.
bool fueling::startWentThrough(fuelingRun& run)
{
    int32_t status = run.status();
    if (!(st::ready(status) || st::flowing(status) || status == st::STOPPED)) return false;
    poco_warning(log, "Пуск ТРК " + std::to_string(run.trk) +
                          " выполнен без подтверждения контроллера (статус " + std::to_string(status) +
                          ", заказ '" + run.id + "')");
    run.startFailed = false;
    run.reason.clear();
    return true;
}

// Stop, reset and release the pump until it is idle again.
void fueling::putBack(fuelingRun& run)
{
    for (int pass = 0; pass < PUT_BACK_PASSES && !run.idle(); ++pass) {
        bool stopped = run.stop();
        pauseUs(SECOND_US);
        if (!stopped) continue;
        if (!run.idle()) {
            bool reset = run.testLock();
            pauseUs(SECOND_US);
            if (run.idle()) return;
            if (!reset) continue;
        }
        bool released = run.release();
        pauseUs(SECOND_US);
        if (released && run.idle()) return;
    }
}

}  // namespace azs_apps
