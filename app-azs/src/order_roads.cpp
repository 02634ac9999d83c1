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

}  // namespace

// --- post-payment ------------------------------------------------------------------------------

void order::settle(run& r)
{
    bool locked = false;
    try {
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
        r.ans.set("litre", pcudata::str::dbl2str(delivered, 3));
        r.ans.set("extendedOrderId", r.req.extendedId);
        r.ans.set("extendedDate", upstream::notices::_makeExtDate(0));
        r.ans.set("orderStatus", "Completed");
        journal(r, state::journal::SETTLED, 200,
                pcudata::str::dbl2str(delivered, 3) + " л, транзакция " + r.req.extendedId);
        finish(r, 200);
    } catch (const ExceptionHTTP& e) {
        poco_warning(log, "Режим постоплаты : " + e.what());
        if (locked) releasePayment(r);
        answerAtPump(r, e.what(), e.response_code());
    }
}

// Locks the delivery's payment for this order, so that no till takes it meanwhile. locked tells
// whether the controller holds the lock for us, also when the test that follows fails.
void order::lockPayment(run& r, bool& locked)
{
    int got = paymentLock(paymentLock::forOrder, pcu())._pmt_lock_ptr(r.session, r.rec, r.req.id, 1, r.res);
    locked = got == 1;
    pcudata::timeSrc().sleepUs(LOCK_PUBLISH_WAIT_US);
    if (!locked || peek(r.rec->lockWplace) != r.session->get_wplace())
        throw ExceptionHTTP("ТРК занята. (идет расчет с клиентом)", 404);
}

// The platform is told that the order did not take and will never settle it; a lock left with the
// controller would keep the till from taking the payment and refuse every later order on the pump.
void order::releasePayment(run& r)
{
    pcudata::cntlMsgResult res;
    paymentLock(paymentLock::forOrder, pcu())._pmt_lock_ptr(r.session, r.rec, r.req.id, 0, res);
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
    poco_information(log, "Резервирование ТРК " + std::to_string(r.req.trk) + " продукт '" +
                              std::to_string(r.req.prod) + "' вид оплаты '" + std::to_string(r.pmt) + "'");
    pcudata::cmdMsgResult_clear(r.res);
    r.err = 0;
    const int got = r.session->reserve_trk(r.req.trk, r.res, r.err, r.req.prod, r.pmt);
    if (r.res.Res != 1) {
        poco_error(log,
                   "Ошибка резервирования заказа '" + r.req.id + "' на ТРК " + std::to_string(r.req.trk));
        if (got < 0) releaseUnanswered(r, before);  // no answer: the controller may have reserved it
        controllerFailure(r, "Не удалось передать заказ на ТРК", "PWORK", 404);
        return;
    }
    waitForPump(r, before);
    if (tagReserved(r)) {
        answerAtPump(r, "Заказ зарегистрирован", 200);
        return;
    }
    releaseReservation(r);
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
// the reservation: the first one given whose record lock is obtained.
bool order::tagReserved(run& r)
{
    for (const pcudata::cntlMsgEm& em : r.res.vlist) {
        if (em.name != "VAL" || em.value.empty()) continue;
        pcudata::trkLock lock(pcu(), r.rec);
        if (!lock) continue;
        int32_t trannum = 0;
        if (pcudata::str::_stoi(em.value, trannum) == 0) pcudata::poke(r.rec->trannum, trannum);
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

// The reservation went out but no answer came back (the connection was cut): the controller may
// have reserved the pump all the same. The platform is told that the order did not take, so a pump
// that shows the reservation is released on a new connection; one that does not is left alone.
void order::releaseUnanswered(run& r, int32_t before)
{
    waitForPump(r, before);
    if (before == pcudata::trkStatus::BUSY || pcu().statusOf(r.rec) != pcudata::trkStatus::BUSY) return;
    poco_warning(log, "Ответ на резервирование ТРК " + std::to_string(r.req.trk) +
                          " не получен, ТРК занята: " + "снятие резерва (заказ '" + r.req.id + "')");
    r.session->__try_Ctl_Available(3);
    releaseReservation(r);
}

// The platform is told that the order did not take, so nobody will start the pump: a reservation
// left with the controller would hold the pump until an operator frees it.
void order::releaseReservation(run& r)
{
    pcudata::cntlMsgResult res;
    int err = 0;
    r.session->release_trk(r.req.trk, r.req.id, res, err);
    if (res.Res == 1) {
        poco_warning(log, "Резерв ТРК " + std::to_string(r.req.trk) + " снят: заказ '" + r.req.id +
                              "' не записан в ТРК");
    } else {
        poco_error(log, "Не удалось снять резерв ТРК " + std::to_string(r.req.trk) + " (заказ '" + r.req.id +
                            "') [res=" + std::to_string(res.Res) + " err=" + std::to_string(err) + "]");
    }
}

}  // namespace azs_apps
