// The two roads of an admitted order whose price is agreed: reservation of an idle pump, and
// post-payment of a finished delivery.
#include <algorithm>
#include <cstring>

#include "journal.h"
#include "order.h"
#include "paymentLock.h"
#include "str.h"
#include "timeSource.h"
#include "trkLock.h"

namespace azs_apps {

namespace {

using pcudata::peek;

// The monitor publishes the controller's new lock holder within moments.
constexpr int64_t LOCK_PUBLISH_WAIT_US = 500000;
// How long the pump is watched for its reaction to the reservation, and how often.
constexpr time_t RESERVE_WAIT_SEC = 4;
constexpr int64_t RESERVE_POLL_US = 100000;
// The payment lock was not asked for.
constexpr int NOT_TRIED = -2;

}  // namespace

// --- post-payment ------------------------------------------------------------------------------

void order::settle(run& r)
{
    // Admission has made sure that the order names the pump's transaction.
    int32_t trannum = 0;
    pcudata::str::_stoi(r.req.extendedId, trannum);
    state::holdIntent intent(holdFor(r, state::holdKind::payment, trannum));
    int locked = NOT_TRIED;
    try {
        if (!intent.taken()) throw ExceptionHTTP("ТРК занята. (идет расчет с клиентом)", 404);
        pcudata::cmdMsgResult_clear(r.res);
        // A driver of version 1 or lower knows no payment lock.
        if (pcu().getPcuDrvVer() > 1) lockPayment(r, locked);
        const double delivered = static_cast<double>(peek(r.rec->volume)) / 1000.0;
        if (!(delivered > 0.0)) throw ExceptionHTTP(orderAdmission::NOTHING_DELIVERED, 404);

        r.ans.set("msg", "Заказ принят (постоплата).");
        poco_information(
            log, "Принят заказ '" + r.req.id + "' в режиме постоплаты для ТРК " + std::to_string(r.req.trk) +
                     " объем " + pcudata::str::dbl2str(delivered, 6) + "(заказано " +
                     pcudata::str::dbl2str(r.req.volume, 6) + ")" + "л. сумма заказа " +
                     pcudata::str::dbl2str(r.req.summa, 6) + "р. продукт '" + std::to_string(r.req.prod) +
                     "' вид оплаты '" + std::to_string(r.pmt) + "'");
        tagForSettlement(r);
        intent.held();
        r.ans.set("litre", pcudata::str::dbl2str(delivered, 3));
        r.ans.set("extendedOrderId", r.req.extendedId);
        r.ans.set("extendedDate", upstream::notices::_makeExtDate(0));
        r.ans.set("orderStatus", "Completed");
        journal(r, state::journal::SETTLED, 200,
                pcudata::str::dbl2str(delivered, 3) + " л, транзакция " + r.req.extendedId);
        finish(r, 200);
    } catch (const ExceptionHTTP& e) {
        poco_warning(log, "Режим постоплаты : " + e.what());
        // A lock the controller refused, or none asked for, took nothing; one whose outcome is not
        // known is left to the keeper of the holds, which looks at the pump.
        if (locked == 1 ? releasePayment(r) : locked == NOT_TRIED || locked > 1) intent.givenBack();
        answerAtPump(r, e.what(), e.response_code());
    }
}

// Locks the delivery's payment for this order, so that no till takes it meanwhile. locked: what
// the lock procedure returned (1: the controller holds the lock for us), also when the test that
// follows fails.
void order::lockPayment(run& r, int& locked)
{
    locked = paymentLock(paymentLock::forOrder, pcu())._pmt_lock_ptr(r.session, r.rec, r.req.id, 1, r.res);
    pcudata::timeSrc().sleepUs(LOCK_PUBLISH_WAIT_US);
    if (locked != 1 || peek(r.rec->lockWplace) != r.session->get_wplace())
        throw ExceptionHTTP("ТРК занята. (идет расчет с клиентом)", 404);
}

// The platform is told that the order did not take and will never settle it; a lock left with the
// controller would keep the till from taking the payment and refuse every later order on the pump.
// True when the controller released it.
bool order::releasePayment(run& r)
{
    pcudata::cntlMsgResult res;
    return paymentLock(paymentLock::forOrder, pcu())._pmt_lock_ptr(r.session, r.rec, r.req.id, 0, res) == 1;
}

void order::tagForSettlement(run& r)
{
    const time_t now = pcudata::timeSrc().now();
    {
        pcudata::trkLock lock(pcu(), r.rec);
        if (lock) pcudata::poke(r.rec->tagTime, static_cast<int32_t>(now));
    }
    // set_tagTrkPtr takes the record's lock itself, and the lock is not re-entrant: the guard above
    // must be gone by now.
    pcu().set_tagTrkPtr(r.rec, r.req.id, r.keys.client, 0);
    // Without the tag no /fueling can find the order: it must not be answered as accepted while
    // the delivery's payment stays locked for it.
    if (peek(r.rec->tagged) != 1 || pcudata::fieldText(r.rec->orderId) != r.req.id) {
        poco_error(log, "Заказ '" + r.req.id + "' не записан в ТРК " + std::to_string(r.req.trk));
        throw ExceptionHTTP("Ошибка подготовки ТРК к пуску", 404);
    }
}

// --- reservation -------------------------------------------------------------------------------

void order::reserve(run& r)
{
    const int32_t before = pcu().statusOf(r.rec);
    state::holdIntent intent(holdFor(r, state::holdKind::reservation, 0));
    if (!intent.taken()) {
        busyWithAnother(r, "ТРК занята", 400);
        return;
    }
    poco_information(log, "Резервирование ТРК " + std::to_string(r.req.trk) + " продукт '" +
                              std::to_string(r.req.prod) + "' вид оплаты '" + std::to_string(r.pmt) + "'");
    pcudata::cmdMsgResult_clear(r.res);
    r.err = 0;
    const int got = r.session->reserve_trk(r.req.trk, r.res, r.err, r.req.prod, r.pmt);
    if (r.res.Res != 1) {
        poco_error(log,
                   "Ошибка резервирования заказа '" + r.req.id + "' на ТРК " + std::to_string(r.req.trk));
        // Without an answer the controller may have reserved the pump all the same; a refusal took
        // nothing.
        if (got < 0)
            releaseUnanswered(r, before, intent);
        else
            intent.givenBack();
        controllerFailure(r, "Не удалось передать заказ на ТРК", "PWORK", 404);
        return;
    }
    int32_t given = 0;
    if (!numberOf(r.res, "VAL", given)) given = 0;
    intent.transaction(given);
    waitForPump(r, before);
    int32_t trannum = 0;
    if (tagReserved(r, trannum)) {
        intent.transaction(trannum);
        intent.held();
        answerAtPump(r, "Заказ зарегистрирован", 200);
        return;
    }
    if (releaseReservation(r, given)) intent.givenBack();
    answerAtPump(r, "Ошибка подготовки ТРК к пуску", 404);
}

// The pump usually shows the reservation within moments; the answer's status then says so. The
// outcome of the wait decides nothing.
void order::waitForPump(const run& r, int32_t before)
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    const time_t start = clock.now();
    time_t now = start;
    int32_t status = pcu().statusOf(r.rec);
    while (status == before && now - start <= RESERVE_WAIT_SEC) {
        log.debug("Ожидание статуса изменения ТРК статус : '" + std::to_string(status) + "' Заказ : '" +
                  r.req.id + "'");
        clock.sleepUs(RESERVE_POLL_US);
        status = pcu().statusOf(r.rec);
        now = clock.now();
    }
    log.debug(" Текущий статус ТРК : '" + std::to_string(status) + "'  Заказ : '" + r.req.id + "'");
}

// Writes the order into the pump's record, under the record's lock, with the transaction number of
// the reservation: the first one given whose record lock is obtained. trannum: the transaction the
// record holds for the order then.
bool order::tagReserved(run& r, int32_t& trannum)
{
    for (const pcudata::cntlMsgEm& em : r.res.vlist) {
        if (em.name != "VAL" || em.value.empty()) continue;
        pcudata::trkLock lock(pcu(), r.rec);
        if (!lock) continue;
        int32_t given = 0;
        if (pcudata::str::_stoi(em.value, given) == 0) pcudata::poke(r.rec->trannum, given);
        pcudata::pokeText(r.rec->clientKey, r.keys.client);
        pcudata::pokeText(r.rec->orderId, r.req.id);
        trannum = r.rec->trannum;
        log.debug("Заказ '" + std::string(r.rec->orderId) + "' зарегистрирован для тразакции '" +
                  std::to_string(trannum) + "'");
        const time_t now = pcudata::timeSrc().now();
        pcudata::poke(r.rec->tagged, 1);
        pcudata::poke(r.rec->tagTime, static_cast<int32_t>(now));
        pcudata::poke(r.rec->notifyTime, static_cast<int32_t>(now));
        pcudata::poke(r.rec->notifyDue, 0);
        lock.release();

        poco_information(
            log, "Заказ '" + r.req.id + "' зарегистрирован для тразакции '" + std::to_string(trannum) + "'");
        r.ans.set("trannum", trannum);
        r.ans.set("timeset", upstream::notices::_makeExtDate(now));
        journal(r, state::journal::RESERVED, 200, "транзакция " + std::to_string(trannum));
        return true;
    }
    return false;
}

// The pump shows a reservation that is ours: reserved (status 10) for our workplace, or for the
// transaction the reservation was given. No other order of ours can hold it meanwhile (the holds
// refuse a second one on the pump), so such a reservation is this order's; a status 10 alone may
// be a till's.
bool order::reservedForUs(const run& r, int32_t trannum)
{
    if (pcu().statusOf(r.rec) != pcudata::trkStatus::BUSY) return false;
    return peek(r.rec->lockWplace) == r.session->get_wplace() ||
           (trannum > 0 && peek(r.rec->trannum) == trannum);
}

// The reservation went out but no answer came back (the connection was cut): the controller may
// have reserved the pump all the same. The platform is told that the order did not take, so a pump
// that shows our reservation is released on a new connection.
void order::releaseUnanswered(run& r, int32_t before, state::holdIntent& intent)
{
    waitForPump(r, before);
    if (reservedForUs(r, 0)) {
        poco_warning(log, "Ответ на резервирование ТРК " + std::to_string(r.req.trk) +
                              " не получен, ТРК занята: " + "снятие резерва (заказ '" + r.req.id + "')");
        r.session->__try_Ctl_Available(3);
    }
    if (releaseReservation(r, 0)) intent.givenBack();
}

// The platform is told that the order did not take, so nobody will start the pump: a reservation
// left with the controller would hold the pump until an operator frees it. Only a reservation that
// is ours is released: a pump reserved for another workplace is left alone. True when no
// reservation of ours is left (released, or none shown); false when the release failed, and the
// keeper of the holds tries again.
bool order::releaseReservation(run& r, int32_t trannum)
{
    if (!reservedForUs(r, trannum)) {
        poco_warning(log, "Резерв ТРК " + std::to_string(r.req.trk) + " для заказа '" + r.req.id +
                              "' не виден: ТРК не зарезервирована нашим рабочим местом (статус " +
                              std::to_string(pcu().statusOf(r.rec)) + ", р.м. " +
                              std::to_string(peek(r.rec->lockWplace)) + ")");
        return true;
    }
    pcudata::cntlMsgResult res;
    int err = 0;
    r.session->release_trk(r.req.trk, r.req.id, res, err);
    if (res.Res == 1) {
        poco_warning(log, "Резерв ТРК " + std::to_string(r.req.trk) + " снят: заказ '" + r.req.id +
                              "' не записан в ТРК");
        return true;
    }
    poco_error(log, "Не удалось снять резерв ТРК " + std::to_string(r.req.trk) + " (заказ '" + r.req.id +
                        "') [res=" + std::to_string(res.Res) + " err=" + std::to_string(err) + "]");
    return false;
}

// The hold this order is about to take on its pump.
state::pumpHold order::holdFor(const run& r, state::holdKind kind, int32_t trannum)
{
    state::pumpHold h;
    h.orderId = r.req.id;
    h.pump = r.req.trk;
    h.kind = kind;
    h.clientKey = r.keys.client;
    h.trannum = trannum;
    return h;
}

// Another order of ours holds the pump, or is taking it right now: nothing is sent for this one.
void order::busyWithAnother(run& r, const char* text, int code)
{
    std::string other;
    if (std::shared_ptr<state::pumpHolds> holds = state::pumpHolds::current()) {
        for (const state::pumpHold& h : holds->onPump(r.req.trk))
            if (h.orderId != r.req.id) other = h.orderId;
    }
    poco_warning(log, "ТРК " + std::to_string(r.req.trk) + " занята заказом '" +
                          (other.empty() ? r.req.id : other) + "', заказ '" + r.req.id + "' не принят");
    answerAtPump(r, text, code);
}

}  // namespace azs_apps
