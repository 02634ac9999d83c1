#include "delivery.h"

#include "heartbeat.h"
#include "journal.h"
#include "pumpPoller.h"
#include "str.h"
#include "timeSource.h"
#include "trkLock.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

using pcudata::pauseUs;
using pcudata::SECOND_US;

constexpr time_t DELIVERY_MSG_GAP_SEC = 3;
constexpr time_t NOZZLE_MSG_GAP_SEC = 2;
constexpr int TIMEOUT_STOP_PASSES = 10;
// How long a pump may still show itself waiting for the nozzle on a table renewed after the
// timeout's stop before that is taken as its state (see judgeTimeoutStop).
constexpr int64_t RENEWED_TABLE_SETTLE_SEC = 3;

const char* const PAUSED_MSG = "Пауза в отпуске топлива (возможно продолжение)";
const char* const ENDED_MSG = "Заправка окончена, получение данных от ТРК";
const char* const LIFT_NOZZLE_MSG = "ТРК готова к пуску. Cнимите пистолет";  // Latin C in "Cнимите"
const char* const STOPPED_MSG = "ТРК остановлена, для окончания заправки требуется повесить пистолет";
const char* const START_TIMEOUT = "Отмена заказа по таймауту пуска ТРК";
const char* const PUMP_RESET = "Произошел сброс ТРК в исходное состояние";
const char* const ZERO_VOLUME = "Нулевой объем отпуска. (отмена заказа)";

}  // namespace

void delivery::watchAndSettle()
{
    watch();
    if (run.moved) {
        endTaken();
        return;
    }
    if (run.runState == fuelingRun::settleDelivery)
        complete();
    else
        cancelAfterWatch();
}

void delivery::watch()
{
    if (run.runState == fuelingRun::watchOnly) sendMessage();
    // An order taken over may have delivered while nobody watched it: a pump that is stopped
    // after a delivery is not timed out.
    const int32_t status = run.status();
    started = run.resumed && (st::flowing(status) || status == st::STOPPED);
    done = false;
    lastMsgTime = 0;
    startRef = peek(run.rec->tagTime);
    pumpPoller::watcher poller(prototype, run.trk);
    // Each round stamps the thread's heartbeat: a delivery followed for minutes is going on, not
    // stuck (the request's worker is on the watchdog's board).
    while (!done) {
        poller.waitChange();
        pcudata::heartbeat::beat();
        pass();
    }
}

void delivery::pass()
{
    int32_t status = run.status();
    // Whatever the pump shows now may be another order's.
    if (!run.mayAct()) {
        done = true;
        return;
    }
    noteProgress(status);
    now = pcudata::timeSrc().now();
    if (!tableSeen()) return;
    if (timeoutPending) {
        judgeTimeoutStop();
        if (timeoutPending || done) return;
    }
    if (status < 1 || status == st::EMERGENCY_DELIVERY) return;
    if (st::flowing(status)) {
        flowing(status);
    } else if (st::ready(status) || status == st::STOPPED) {
        if (run.resumed && status == st::STOPPED) started = true;
        waiting(status);
    } else if (status == st::BUSY && run.resumed) {
        reservedOnly();
    } else if (status == st::NEED_PAY) {
        if (stays(st::NEED_PAY)) endOfDelivery();
    } else if (st::idle(status)) {
        if (!stays(status)) return;
        run.reason = PUMP_RESET;
        run.runState = fuelingRun::cancelOrder;
        done = true;
    }
    // Any other status (no link, busy, initialising, off, blocked): keep watching.
}

void delivery::flowing(int32_t status)
{
    started = true;
    lastOwnLitres = run.delivered();
    if (peek(run.rec->notifyDue) != 0) sendVolume();
    if (status != st::DELIVERING && now - lastMsgTime > DELIVERY_MSG_GAP_SEC) {
        lastMsgTime = now;
        run.setMessage(status == st::PAUSED ? PAUSED_MSG : ENDED_MSG);
    }
    sendMessage();
}

void delivery::waiting(int32_t status)
{
    if (now - lastMsgTime > NOZZLE_MSG_GAP_SEC) {
        lastMsgTime = now;
        run.setMessage(status == st::STOPPED ? STOPPED_MSG : LIFT_NOZZLE_MSG);
    }
    if (!started && startTimedOut(prototype.get_order_timeout())) {
        stopAfterTimeout();
        return;
    }
    if (!run.msgPending || run.clientMsg.empty()) return;
    if (!started) {
        log.debug(" StartTime = " + std::to_string(startRef) + "; CurrentTime = " + std::to_string(now) +
                  "; TrkTimeout = " + std::to_string(prototype.get_order_timeout()) +
                  "; RestTime = " + std::to_string(now - startRef));
    }
    sendMessage();
}

// While the pump table is stale the pump is taken as out of reach: nothing is decided on it, and
// the time does not count towards the start timeout, which goes on once the table is fresh again.
bool delivery::tableSeen()
{
    if (!prototype.tableFresh()) {
        if (staleSince == 0) staleSince = now;
        return false;
    }
    if (staleSince != 0 && startRef > 0) startRef += now - staleSince;
    staleSince = 0;
    return true;
}

// A status that lasts a whole second is the pump's state, not a passing one.
bool delivery::stays(int32_t status)
{
    pauseUs(SECOND_US);
    int32_t again = run.status();
    return again == status || (st::idle(status) && st::idle(again));
}

bool delivery::startTimedOut(time_t timeout) const
{
    return startRef > 0 && timeout > 0 && now - startRef > timeout;
}

// An order taken over on a pump that still shows its reservation: the start may never have gone
// out, and it is not sent again (it may have gone out all the same). The pump is stopped and
// released once the start timeout has passed, as one that waits for the nozzle is; with no
// timeout set the built-in one applies, since no driver can start this pump.
void delivery::reservedOnly()
{
    if (started) return;
    const time_t timeout = prototype.get_order_timeout();
    if (startTimedOut(timeout > 0 ? timeout : RESERVED_TIMEOUT_SEC)) stopAfterTimeout();
}

// Once the pump is back to idle it is free for other drivers: stopping it again could stop a
// delivery that a driver has meanwhile started at the pump itself.
void delivery::stopAfterTimeout()
{
    poco_warning(log, "Отмена заказа '" + run.orderId + "' по таймауту пуска ТРК " + std::to_string(run.trk));
    state::journal::record(run.orderId, run.trk, state::journal::START_TIMEOUT, 0,
                           std::to_string(now - startRef) + " с от заказа");
    run.reason = START_TIMEOUT;  // goes with the cancellation, never to the driver
    run.msgPending = false;
    timeoutStopAt = pcudata::timeSrc().now();
    renewedAt = 0;
    for (int pass = 0; pass < TIMEOUT_STOP_PASSES && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.stop()) {
            pauseUs(SECOND_US);
            if (run.status() == st::BUSY) {
                if (run.testLock()) break;
            } else if (run.idle()) {
                break;
            }
        }
        pauseUs(SECOND_US);
    }
    pauseUs(SECOND_US / 2);
    judgeTimeoutStop();
}

// What the pump shows after the timeout's stop decides, read from a table the monitor has renewed
// since the stop went out: a table it no longer renews (a daemon killed, frozen) may show the pump
// waiting for the nozzle while the driver has lifted it and fuel flows. A pump that shows fuel for
// the order (delivering, paused, ended, stopped, waiting for settlement) is watched on to its
// completion; any other is given back and the order cancelled. Until the table is renewed the watch
// goes on as for a lost link, and decides then.
void delivery::judgeTimeoutStop()
{
    if (prototype.tableTime() <= timeoutStopAt) {
        if (!timeoutPending) {
            poco_warning(log, "ТРК " + std::to_string(run.trk) +
                                  " остановлена по таймауту пуска, но таблица " +
                                  "состояния ТРК не обновлялась после остановки: решение по заказу '" +
                                  run.orderId + "' ожидает ее обновления");
        }
        timeoutPending = true;
        return;
    }
    const int32_t status = run.status();
    // A monitor that has just reconnected renews the table's time before the first lines of the
    // new connection have rewritten the pump's record: for a moment the record still shows what
    // the pump did before the daemon went away (waiting for the nozzle). A stopped pump does not
    // go on waiting, so that status is believed only once it has lasted a few seconds of renewed
    // table.
    if (renewedAt == 0) renewedAt = prototype.tableTime();
    if (st::ready(status) && prototype.tableTime() - renewedAt < RENEWED_TABLE_SETTLE_SEC) {
        timeoutPending = true;
        return;
    }
    timeoutPending = false;
    if (st::flowing(status) || status == st::STOPPED || status == st::NEED_PAY) {
        poco_warning(log, "ТРК " + std::to_string(run.trk) + " отпускала топливо к таймауту пуска (статус " +
                              std::to_string(status) + "): заказ '" + run.orderId + "' не отменяется");
        started = true;
        run.reason.clear();
        return;
    }
    run.runState = fuelingRun::cancelOrder;
    done = true;
}

void delivery::endOfDelivery()
{
    int64_t ml = peek(run.rec->volume);
    std::string tail = "' транзакция '" + std::to_string(peek(run.rec->trannum)) + "')";
    done = true;
    if (ml <= 0) {
        poco_warning(log, "Нулевой объем отпуска, отправка отмены (заказ '" + run.orderId + tail);
        run.reason = ZERO_VOLUME;
        run.runState = fuelingRun::cancelOrder;
        return;
    }
    double amount = static_cast<double>(peek(run.rec->amount)) / 100.0;
    // "cумма" starts with a Latin c.
    poco_warning(log, "Завершение заправки: объем " + sixDecimals(run.delivered()) + "л. cумма " +
                          sixDecimals(amount) + "р. (заказ '" + run.orderId + tail);
    run.runState = fuelingRun::settleDelivery;
}

// When the record stays locked the mark stays raised, and the count goes out again later.
void delivery::sendVolume()
{
    if (!run.owns()) return;  // the next pass looks at whose the pump is
    double volume = run.delivered();
    {
        pcudata::trkLock lock(prototype, run.rec);
        if (lock) pcudata::poke(run.rec->notifyDue, 0);
    }
    poco_information(log, "Отправка счетчика " + sixDecimals(volume) + "л. (заказ '" + run.orderId + "')");
    state::journal::record(run.orderId, run.trk, state::journal::VOLUME, 0,
                           pcudata::str::dbl2str(volume, 2) + " л");
    platform._volume_order(run.apikey, run.orderId, volume);
}

void delivery::sendMessage()
{
    if (!run.msgPending || run.clientMsg.empty()) return;
    poco_information(log,
                     "Отправка сообщения клиенту : '" + run.clientMsg + "' (заказ '" + run.orderId + "')");
    platform._notify_client(run.apikey, run.orderId, run.clientMsg);
    run.clientMsg.clear();
    run.msgPending = false;
}

// Progress is any change of the pump's status or volume.
void delivery::noteProgress(int32_t status)
{
    int64_t volume = peek(run.rec->volume);
    time_t t = pcudata::timeSrc().now();
    if (status != seenStatus || volume != seenVolume) {
        seenStatus = status;
        seenVolume = volume;
        lastProgress = t;
        return;
    }
    if (t - lastProgress < STALL_WARN_SEC || t - lastStallWarn < STALL_WARN_SEC) return;
    lastStallWarn = t;
    poco_warning(log, "ТРК " + std::to_string(run.trk) + " без изменений " +
                          std::to_string((t - lastProgress) / 60) + " мин. (статус " +
                          std::to_string(status) + " : " + pcudata::trkStatusText(status) +
                          "), наблюдение продолжается (заказ '" + run.orderId + "')");
}

}  // namespace azs_apps
