// The road of an order after the /fueling answer: what the pump shows decides whether it is
// started, watched, settled or given back; an order taken over after a restart goes on where its
// request stood, never with a start.
#include "delivery.h"

#include "journal.h"
#include "str.h"
#include "timeSource.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;

using pcudata::pauseUs;
using pcudata::SECOND_US;

constexpr int STATUS_POLLS = 500;
constexpr int64_t STATUS_POLL_US = 5000;
constexpr int PUT_BACK_PASSES = 10;
constexpr int START_TYP = 2;

std::string startFailure(const pcudata::cntlMsgResult& res)
{
    return res.txt.empty() ? "Ошибка пуска ТРК" : "Ошибка пуска ТРК (" + res.txt + ")";
}

void cancelWith(fuelingRun& run, const char* reason)
{
    run.runState = fuelingRun::cancelOrder;
    run.reason = reason;
}

// The transaction number a reply names (its first numeric "VAL"); 0 when it names none.
int32_t transactionOf(const pcudata::cntlMsgResult& res)
{
    for (const pcudata::cntlMsgEm& em : res.vlist) {
        int32_t value = 0;
        if (em.name == "VAL" && pcudata::str::_stoi(em.value, value) == 0 && value > 0) return value;
    }
    return 0;
}

void watchWith(fuelingRun& run, const char* message)
{
    run.runState = fuelingRun::watchOnly;
    if (message != nullptr) run.setMessage(message);
}

}  // namespace

delivery::delivery(const deliveryContext& ctx, fuelingRun& run)
    : run(run),
      prototype(ctx.pcu),
      platform(ctx.platform, "fuelweb/fueling"),
      payLock(paymentLock::forFueling, ctx.pcu),
      log(Poco::Logger::get("fuelweb/fueling")),
      completionKey(run.clientKey + "," + ctx.serverKey + "," + ctx.stationKey)
{
    run.table = &ctx.pcu;
    if (run.rec == nullptr) run.rec = ctx.pcu.getTrkState(run.trk);
}

void delivery::afterAnswer()
{
    if (run.runState == fuelingRun::cancelOrder) {
        run.reason = run.errorText;
        endCancelled();
        return;
    }
    if (!run.mayAct()) {
        endTaken();
        return;
    }
    waitForFreshTable();
    decide(waitForStatus());
    run.extDate = upstream::notices::_makeExtDate(0);
    run.pmt = prototype.get_paymnt(run.contract);
    if (run.runState == fuelingRun::settleDelivery && settleFinished()) return;
    if (run.runState == fuelingRun::startRequested && !startPump()) return;
    afterDecision();
}

// Run state 2 gives the pump back; the others follow the pump to the end.
void delivery::afterDecision()
{
    if (run.moved) {
        endTaken();
        return;
    }
    if (run.runState == fuelingRun::cancelOrder) {
        cancelBeforeWatch();
        return;
    }
    watchAndSettle();
}

// --- what the pump shows decides ------------------------------------------------------------------

// A pump table the monitor does not renew shows every pump out of reach, though the controller may
// serve it well (the monitor daemon restarting, say): the decision waits for the table, up to the
// order's start timeout (120 s when there is none), and is taken on what it shows then.
void delivery::waitForFreshTable()
{
    if (prototype.tableFresh()) return;
    poco_warning(log, "Таблица состояния ТРК устарела: решение по заказу '" + run.orderId + "' на ТРК " +
                          std::to_string(run.trk) + " ожидает ее обновления");
    pcudata::timeSource& clock = pcudata::timeSrc();
    const time_t timeout =
        prototype.get_order_timeout() > 0 ? prototype.get_order_timeout() : RESERVED_TIMEOUT_SEC;
    const time_t until = clock.now() + timeout;
    while (!prototype.tableFresh() && clock.now() < until) pauseUs(SECOND_US);
}

// The first valid status; a pump that waits for payment is looked at again a second later, since
// a settlement in progress at a till ends that state shortly. -1 when none shows.
int32_t delivery::waitForStatus() const
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

void delivery::decide(int32_t status)
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

// As a new request decides, except that the order is never cancelled for a pump that may have
// delivered (no link, off, initialising, blocked: the watch waits for it) and a pump that still
// shows its reservation is watched for its start timeout.
void delivery::decideResumed(int32_t status)
{
    if (st::idle(status) || st::ready(status) || st::flowing(status) || status == st::STOPPED ||
        status == st::NEED_PAY) {
        decide(status);
        return;
    }
    run.runState = fuelingRun::watchOnly;
}

// --- the start -------------------------------------------------------------------------------------

// True when the pump runs the order; otherwise it has been put back and the order cancelled.
bool delivery::startPump()
{
    poco_information(log, "Запуск ТРК " + std::to_string(run.trk) + " заказ '" + run.orderId + "' Продукт='" +
                              std::to_string(run.prod) + " ; Вид оплаты=" + std::to_string(run.pmt) +
                              " ; Объем=" + sixDecimals(run.volume) + " ; Сумма=" + sixDecimals(run.summa) +
                              " ; Цена=" + sixDecimals(run.price));
    run.startFailed = true;
    for (int attempt = 1; attempt <= START_ATTEMPTS; ++attempt)
        if (startAttempt(attempt)) break;
    if (run.moved) {
        endTaken();
        return false;
    }
    if (!run.startFailed) {
        state::journal::record(run.orderId, run.trk, state::journal::STARTED, 0, "");
        return true;
    }
    run.err = 0;
    if (run.reason.empty() && run.res.Res != 1) run.reason = startFailure(run.res);
    noteCancellation();
    putBack();
    endCancelled();
    return false;
}

// True when the attempts end: the pump started, or the controller refused it for good (ERRPCU).
bool delivery::startAttempt(int attempt)
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
    if (!run.mayAct()) return true;
    int r = run.session->start_order_trk(run.trk, run.orderId, run.res, run.err, run.prod, run.pmt,
                                         run.volume, run.summa, run.price, START_TYP);
    log.debug("результат запуска ТРК " + tag + " res=" + std::to_string(r));
    if (run.res.Res == 1) {
        run.startFailed = false;
        // A controller that opens a transaction of its own for the start names it here.
        run.startTrannum = transactionOf(run.res);
        return true;
    }
    run.reason = startFailure(run.res);
    if (run.res.tcod == "ERRPCU") return true;
    if (startWentThrough()) return true;
    pauseUs(SECOND_US);
    return false;
}

// The pump was reserved for this order when the start went out. If it shows a started state now,
// the command was carried out although its answer was lost: starting it again, or putting it back
// and cancelling an order whose fuel may already flow, would both be wrong.
bool delivery::startWentThrough()
{
    int32_t status = run.status();
    if (!(st::ready(status) || st::flowing(status) || status == st::STOPPED)) return false;
    poco_warning(log, "Пуск ТРК " + std::to_string(run.trk) +
                          " выполнен без подтверждения контроллера (статус " + std::to_string(status) +
                          ", заказ '" + run.orderId + "')");
    run.startFailed = false;
    run.reason.clear();
    return true;
}

// Stop, reset and release the pump until it is idle again.
void delivery::putBack()
{
    for (int pass = 0; pass < PUT_BACK_PASSES && !run.idle() && !run.moved; ++pass) {
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

// --- an order taken over -----------------------------------------------------------------------

void delivery::takeOver(const state::servedOrder& o)
{
    // What the pump shows decides; a record that shows nothing yet (no monitor) is waited for.
    int32_t status = waitForStatus();
    for (bool warned = false; status < 0; status = waitForStatus()) {
        if (!warned) {
            poco_warning(log, "Состояние ТРК " + std::to_string(run.trk) + " неизвестно, ожидание (заказ '" +
                                  run.orderId + "')");
        }
        warned = true;
        pcudata::timeSrc().sleepUs(SECOND_US);
    }
    const std::string seen = "статус " + std::to_string(status) + " : " + pcudata::trkStatusText(status);
    poco_warning(log, "Восстановлено наблюдение за заказом '" + run.orderId + "' на ТРК " +
                          std::to_string(run.trk) + " после перезапуска приложения (" + seen + ")");
    state::journal::record(run.orderId, run.trk, state::journal::RESUMED, status, seen);
    run.extDate = upstream::notices::_makeExtDate(0);

    // A completion decided before the process ended, of a delivery that no longer waits for its
    // payment (the receipt went through, or a till took it; a pump that waits for payment again
    // waits for another delivery): it goes out as decided.
    const bool unpaid =
        status == st::NEED_PAY && std::to_string(pcudata::peek(run.rec->trannum)) == o.end.extOrderId;
    if (o.endDecided && o.end.kind == state::noticeKind::complete && !unpaid) {
        endCompleted(o.end.apikey, o.end.extOrderId, o.end.extDate, o.end.litre);
        return;
    }
    // A cancellation decided: the pump is given back as after a watch (a delivery it waits to
    // settle is completed after all).
    if (o.endDecided && o.end.kind == state::noticeKind::cancel) {
        run.reason = o.end.reason;
        run.runState = fuelingRun::cancelOrder;
        cancelAfterWatch();
        return;
    }
    decideResumed(status);
    if (run.runState == fuelingRun::settleDelivery && settleFinished()) return;
    afterDecision();
}

}  // namespace azs_apps
