// How a fuelling run ends: settlement of a delivery that was over on arrival, completion after the
// watch, and the two cancellations (before the watch and after it).
#include <cmath>
#include <cstring>

#include "delivery.h"
#include "journal.h"
#include "pumpHolds.h"
#include "stationMetrics.h"
#include "storedNotice.h"
#include "str.h"
#include "timeSource.h"
#include "trkLock.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

using pcudata::pauseUs;
using pcudata::SECOND_US;

constexpr int SETTLE_PASSES = 20;
constexpr int CANCEL_PASSES = 5;
constexpr int RECEIPT_PASSES = 5;
constexpr int LOCK_PASSES = 5;
constexpr int BUSY_PASSES = 10;
constexpr int STOP_PASSES = 5;
constexpr int UNPAID_PRINT_PASSES = 10;
constexpr int TAG_CLEAR_TRIES = 3;
// The record shows a new payment lock only once the monitor has published the controller's next
// status line.
constexpr int LOCK_SHOW_POLLS = 40;
constexpr int64_t LOCK_SHOW_POLL_US = 50000;

// The reason of an order whose pump moved on: for the platform it was reset as far as this order
// is concerned.
const char* const PUMP_MOVED_ON = "Произошел сброс ТРК в исходное состояние";

int64_t millilitres(double litres)
{
    return std::llround(litres * 1000.0);
}

}  // namespace

// --- delivery over on arrival ------------------------------------------------------------------

bool delivery::settleFinished()
{
    if (!run.mayAct() || !deliveryMatches()) return false;
    run.settledAtStart = true;
    if (!lockForSettlement()) {
        run.reason = "Отмена оплаты заказа (" + run.res.txt + ")";
        run.runState = fuelingRun::cancelOrder;
        return false;
    }
    noteCompletion(run.apikey, run.extendedId, run.extDate, run.delivered());
    bool changed = false;
    if (settlePasses(changed)) {
        endCompleted(run.apikey, run.extendedId, run.extDate, run.delivered());
        return true;
    }
    if (changed) return false;  // the watch settles it
    if (prototype.getPcuDrvVer() > 1 &&
        payLock._pmt_lock_ptr(run.session, run.rec, run.orderId, 0, run.res) == 1 && paymentIntent)
        paymentIntent->givenBack();
    run.reason = "Отмена заказа (Не удалось провести оплату)";
    run.runState = fuelingRun::cancelOrder;
    return false;
}

// The finished delivery is this order's: same transaction, same product, and a volume within the
// tolerances around the ordered one (compared in millilitres, as the pump counts).
bool delivery::deliveryMatches() const
{
    int32_t tran = -1;
    size_t used = 0;
    if (pcudata::str::_stoi(run.extendedId, tran, &used, 10) != 0 || used != run.extendedId.size())
        return false;
    int64_t delivered = peek(run.rec->volume);
    int64_t ordered = millilitres(run.volume);
    double under = prototype.get_underfill_order();
    int64_t lower = under < 0.0 ? 0 : ordered - millilitres(under);
    return peek(run.rec->trannum) == tran && peek(run.rec->prodCode) == run.prod &&
           ordered + millilitres(prototype.get_overfill_order()) >= delivered && delivered >= lower;
}

// Tried again on a new connection when the session's one is gone, as the completion's lock is.
bool delivery::lockForSettlement()
{
    if (prototype.getPcuDrvVer() <= 1) return true;
    if (!intendPaymentLock()) return false;
    for (int pass = 0; pass < LOCK_PASSES; ++pass) {
        if (pass > 0) pauseUs(SECOND_US);
        if (!run.connected()) continue;
        const int r = payLock._pmt_lock_ptr(run.session, run.rec, run.orderId, 1, run.res);
        if (r > 1) return false;  // refused by the controller; 0 and -1: no connection
        if (r != 1) continue;
        paymentIntent->held();
        return lockShownForUs(true);
    }
    return false;
}

// First the payment kind of the order, then the receipt. True once the receipt is printed.
bool delivery::settlePasses(bool& changed)
{
    for (int pass = 0; pass < SETTLE_PASSES; ++pass) {
        if (pass > 0) pauseUs(SECOND_US);
        if (!run.connected()) continue;
        if (!changed) {
            changed = run.changePayment();
            continue;
        }
        if (run.print()) return true;
    }
    return false;
}

// --- cancellation before the watch -------------------------------------------------------------

void delivery::cancelBeforeWatch()
{
    noteCancellation();
    for (int pass = 0; pass < CANCEL_PASSES && !run.settledAtStart && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.stop() && run.testLock() && run.release()) break;
        pauseUs(SECOND_US / 2);
    }
    givePaymentBack();
    endCancelled();
}

// A cancelled order pays for nothing: a payment lock our workplace holds for it (a post-payment
// order's, or one this delivery took) is reset, so that the till can take the payment. Left alone
// when the pump has moved on to another order.
void delivery::givePaymentBack()
{
    if (run.moved || prototype.getPcuDrvVer() <= 1) return;
    state::pumpHold hold;
    const std::shared_ptr<state::pumpHolds> holds = state::pumpHolds::current();
    const bool heldForOrder = holds && holds->find(run.orderId, state::holdKind::payment, hold);
    if (!heldForOrder && !ownPaymentLock()) return;
    for (int pass = 0; pass < LOCK_PASSES; ++pass) {
        if (pass > 0) pauseUs(SECOND_US);
        if (!run.connected() || !run.mayAct()) continue;
        if (payLock._pmt_lock_ptr(run.session, run.rec, run.orderId, 0, run.res) != 1) continue;
        poco_warning(log, "Блокировка оплаты ТРК " + std::to_string(run.trk) + " снята: заказ '" +
                              run.orderId + "' отменяется, оплату примет касса");
        if (paymentIntent) paymentIntent->givenBack();
        return;
    }
    poco_error(log, "Не удалось снять блокировку оплаты ТРК " + std::to_string(run.trk) + " (заказ '" +
                        run.orderId + "'): требуется проверка оператором");
}

// --- completion --------------------------------------------------------------------------------

void delivery::complete()
{
    if (!run.mayAct()) {
        endTaken();
        return;
    }
    std::string date = upstream::notices::_makeExtDate(0);
    double volume = run.delivered();
    std::string trannum = std::to_string(peek(run.rec->trannum));
    noteCompletion(completionKey, trannum, date, volume);
    bool locked = lockForCompletion();
    // Another order's hold on the pump: the delivery is not this order's to settle.
    if (run.moved) {
        endTaken();
        return;
    }
    if (locked || run.res.tcod == "UNKNOWN") printReceipt();
    if (!run.settledAtStart) overfillLock();
    endCompleted(completionKey, trannum, date, volume);
}

// The payment lock of the delivery, tried again on a new connection when the session's one is
// gone (cut during the delivery, or with the lock's own answer): without the lock no receipt is
// printed, and the delivery would stay unpaid at the controller while the platform charges the
// driver. A lock whose answer was lost shows in the pump's record as this workplace's.
bool delivery::lockForCompletion()
{
    for (int pass = 0; pass < LOCK_PASSES; ++pass) {
        if (ownPaymentLock()) return true;
        if (!paymentDueHere()) return false;
        if (pass > 0) pauseUs(SECOND_US);
        if (!run.connected()) continue;
        if (!run.mayAct() || !intendPaymentLock()) return false;
        int r = payLock._pmt_lock_ptr(run.session, run.rec, run.orderId, 1, run.res);
        if (r == 1) {
            paymentIntent->held();
            return true;
        }
        if (r > 1) return false;  // refused by the controller; 0 and -1: no connection
    }
    return ownPaymentLock();
}

// The delivery waits for payment at this workplace and nobody has locked it yet.
bool delivery::paymentDueHere() const
{
    return peek(run.rec->lockType) != 1 && (peek(run.rec->needPayFlag) & 1) != 0 &&
           peek(run.rec->payWplace) == run.session->get_wplace();
}

// The lock set by this workplace earlier in the same order (a settlement on arrival that got as
// far as the payment kind) still stands: the receipt may be printed on it.
bool delivery::ownPaymentLock() const
{
    return peek(run.rec->lockType) == 1 && peek(run.rec->lockWplace) == run.session->get_wplace();
}

bool delivery::lockShownForUs(bool justLocked)
{
    const int32_t wplace = run.session->get_wplace();
    for (int poll = 0; peek(run.rec->lockWplace) != wplace; ++poll) {
        if (!justLocked || poll >= LOCK_SHOW_POLLS) return false;
        pauseUs(LOCK_SHOW_POLL_US);
    }
    return true;
}

void delivery::printReceipt()
{
    for (int pass = 0; pass < RECEIPT_PASSES && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.print()) return;
        run.testLock();
        pauseUs(SECOND_US);
    }
    poco_error(log, "Не удалось провести расчет и печать чека на ТРК " + std::to_string(run.trk) +
                        " (заказ '" + run.orderId + "')");
}

// A delivery well beyond a large enough order closes the pump to remote orders until an operator
// opens it again.
void delivery::overfillLock()
{
    if (!prototype.is_overfill_lock_allow() || !(prototype.get_overfill_lock() > 0.0)) return;
    int64_t preset = peek(run.rec->presetVolume);
    if (!(preset + millilitres(prototype.get_overfill_lock()) < peek(run.rec->volume))) return;
    if (preset < millilitres(prototype.get_overfill_lock_min_order())) return;
    pcudata::trkLock lock(prototype, run.rec);
    if (!lock) return;
    run.rec->blocked = 1;
    lock.release();
    poco_warning(Poco::Logger::get("fuelweb"),
                 "Установлена блокировка ТРК " + std::to_string(peek(run.rec->trk)) + " по переливу");
}

// --- cancellation after the watch --------------------------------------------------------------

void delivery::cancelAfterWatch()
{
    noteCancellation();
    if (run.status() == st::BUSY) freeBusyPump();
    if (run.status() != st::NEED_PAY) stopPump();
    if (run.status() == st::NEED_PAY && !run.moved && paymentHolds()) {
        settleDeliveredAnyway();
        return;
    }
    givePaymentBack();
    endCancelled();
}

void delivery::freeBusyPump()
{
    for (int pass = 0; pass < BUSY_PASSES && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.idle() || run.testLock()) return;
        pauseUs(SECOND_US);
    }
}

void delivery::stopPump()
{
    for (int pass = 0; pass < STOP_PASSES && !run.idle() && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.idle() || run.stop()) break;
        pauseUs(SECOND_US);
    }
    if (!run.idle()) run.release();
}

// Whether this workplace may settle the delivery the pump waits for. The lock is tried as the
// completion tries it: again on a new connection, and a lock whose answer was lost counts.
bool delivery::paymentHolds()
{
    if (prototype.getPcuDrvVer() <= 1) return true;
    bool justLocked = false;
    if (paymentDueHere()) {
        if (!lockForCompletion()) return false;
        justLocked = true;
    }
    return lockShownForUs(justLocked);
}

// The pump delivered after all: settle the delivery and complete the order with it, unless
// nothing was delivered.
void delivery::settleDeliveredAnyway()
{
    std::string date = upstream::notices::_makeExtDate(0);
    std::string trannum = std::to_string(peek(run.rec->trannum));
    double volume = run.delivered();
    bool completion = peek(run.rec->volume) > 0;
    if (completion) noteCompletion(run.apikey, trannum, date, volume);
    printWhileUnpaid();
    if (completion)
        endCompleted(run.apikey, trannum, date, volume);
    else
        endCancelled();
}

void delivery::printWhileUnpaid()
{
    for (int pass = 0; pass < UNPAID_PRINT_PASSES && run.status() == st::NEED_PAY && !run.moved; ++pass) {
        if (!run.connected()) {
            pauseUs(SECOND_US);
            continue;
        }
        if (run.status() != st::NEED_PAY || run.print()) return;
        pauseUs(SECOND_US);
    }
}

// --- the pump has moved on to another order --------------------------------------------------

// Before a payment lock goes out: a process killed meanwhile leaves an intent, and the next start
// gives the lock back instead of keeping the till from taking the payment. False when another
// order holds the pump: it is no longer this order's.
bool delivery::intendPaymentLock()
{
    if (paymentIntent) return true;
    state::pumpHold h;
    h.orderId = run.orderId;
    h.pump = run.trk;
    h.kind = state::holdKind::payment;
    h.clientKey = run.clientKey;
    h.trannum = peek(run.rec->trannum);
    paymentIntent = std::make_unique<state::holdIntent>(h);
    if (paymentIntent->taken()) return true;
    run.moved = true;
    return false;
}

// The pump serves another order now (another tag, or another transaction under this order's): the
// order ends as the pump left it. No command goes to the pump for it, and its completion would
// carry another order's fuel: it is cancelled as a pump reset to its idle state is.
void delivery::endTaken()
{
    char tag[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(tag, run.rec->orderId);
    const int32_t shown = peek(run.rec->trannum);
    const std::string other = "заказ '" + std::string(tag) + "', транзакция " + std::to_string(shown);
    poco_error(log, "ТРК " + std::to_string(run.trk) + " больше не обслуживает заказ '" + run.orderId +
                        "' (транзакция " + std::to_string(run.trannum) + "): на ТРК " + other +
                        (started ? ", по заказу отпущено " + sixDecimals(lastOwnLitres) + " л" : "") +
                        ". Заказ отменяется без команд ТРК");
    state::journal::record(run.orderId, run.trk, state::journal::PUMP_TAKEN, shown, "на ТРК " + other);
    run.reason = PUMP_MOVED_ON;
    run.runState = fuelingRun::cancelOrder;
    noteCancellation();
    endCancelled();
}

// --- the end of every road ---------------------------------------------------------------------

bool delivery::tagged() const
{
    return pcudata::fieldText(run.rec->orderId) == run.orderId;
}

// A record lock held elsewhere for the whole wait would leave the pump tagged with an order that
// has ended, and no new order could be placed on it.
void delivery::clearTag()
{
    for (int i = 0; i < TAG_CLEAR_TRIES && tagged(); ++i) prototype.clr_tagTrkPtr(run.rec, run.orderId);
    if (tagged()) {
        poco_error(log, "Не удалось снять заказ '" + run.orderId + "' с ТРК " + std::to_string(run.trk) +
                            " : запись ТРК занята");
    }
}

void delivery::closeOrder()
{
    clearTag();
    if (std::shared_ptr<state::pumpHolds> holds = state::pumpHolds::current())
        holds->endOrder(run.orderId, pcudata::timeSrc().now());
    run.session->close();
    run.session.reset();
}

void delivery::endCancelled()
{
    endWith(state::finalNotice::cancel(run.apikey, run.orderId, run.reason));
}

void delivery::endCompleted(const std::string& apikey, const std::string& trannum, const std::string& date,
                            double volume)
{
    endWith(state::finalNotice::complete(apikey, run.orderId, trannum, date, volume));
}

// The notice is stored before the tag goes: at every moment either the pump carries the order
// (and a restart takes it over) or the outbox holds its final notice. A notice that could not be
// stored leaves the order's row open until it has been sent: a restart before that tells the
// operator about the order.
void delivery::endWith(const state::finalNotice& n)
{
    if (run.finalSent) return;
    run.finalSent = true;
    if (n.kind == state::noticeKind::complete)
        stationMetrics::orderCompleted();
    else
        stationMetrics::orderCancelled(n.reason);
    upstream::storedNotice stored(n, log);
    if (stored.stored()) closeServed();
    closeOrder();
    platform.sendLong(stored);
    closeServed();
}

void delivery::closeServed()
{
    if (run.servedId == 0) return;
    run.served->close(run.servedId, state::servedOrders::ENDED, pcudata::timeSrc().now());
    run.servedId = 0;
}

void delivery::noteCancellation()
{
    noteEnd(state::finalNotice::cancel(run.apikey, run.orderId, run.reason));
}

void delivery::noteCompletion(const std::string& apikey, const std::string& trannum, const std::string& date,
                              double volume)
{
    noteEnd(state::finalNotice::complete(apikey, run.orderId, trannum, date, volume));
}

void delivery::noteEnd(const state::finalNotice& n)
{
    if (run.servedId != 0 && !run.finalSent) run.served->decide(run.servedId, n);
}

}  // namespace azs_apps
