// An order taken over at start-up: the process that served it ended (killed, crashed, cut from
// its power) before the order's final notice was stored. Its row in the state file holds the order
// as /fueling received it and, when the request had got so far, the end it decided on; the pump's
// record still carries the order's tag. The take-over goes on where the request stood, never with
// a start: the start may have gone out already.
#include <string>

#include "fueling.h"
#include "fuelingWatch.h"
#include "fuelweb.h"
#include "journal.h"
#include "timeSource.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;

using pcudata::SECOND_US;

}  // namespace

void fueling::resume(const state::servedOrder& o)
{
    fuelingRun run;
    run.apikey = o.apikey;
    run.clientKey = o.clientKey;
    run.id = o.orderId;
    run.extendedId = o.extendedId;
    run.appId = o.appId;
    run.trk = o.trk;
    run.prod = o.prod;
    run.price = o.price;
    run.volume = o.volume;
    run.summa = o.summa;
    run.contract = o.contract;
    run.pmt = o.pmt;
    run.resumed = true;
    run.served = state::servedOrders::current();
    run.servedId = run.served ? o.id : 0;
    if (!pumpTable() || (run.rec = pcu().getTrkState(run.trk)) == nullptr) {
        poco_error(log, "Ошибка доступа к разделяемой памяти: заказ '" + o.orderId + "' на ТРК " +
                            std::to_string(o.trk) + " не восстановлен");
        return;
    }
    run.session = newSession();
    takeOver(run, o);
}

void fueling::takeOver(fuelingRun& run, const state::servedOrder& o)
{
    upstream::notices platform = notices("fuelweb/fueling");
    fuelingWatch watch(run, pcu(), platform, root.get_upstream_key(), root.get_ctl_key());
    // What the pump shows decides; a record that shows nothing yet (no monitor) is waited for.
    int32_t status = waitForStatus(run);
    for (bool warned = false; status < 0; status = waitForStatus(run)) {
        if (!warned) {
            poco_warning(log, "Состояние ТРК " + std::to_string(run.trk) + " неизвестно, ожидание (заказ '" +
                                  run.id + "')");
        }
        warned = true;
        pcudata::timeSrc().sleepUs(SECOND_US);
    }
    const std::string seen = "статус " + std::to_string(status) + " : " + pcudata::trkStatusText(status);
    poco_warning(log, "Восстановлено наблюдение за заказом '" + run.id + "' на ТРК " +
                          std::to_string(run.trk) + " после перезапуска приложения (" + seen + ")");
    state::journal::record(run.id, run.trk, state::journal::RESUMED, status, seen);
    run.extDate = upstream::notices::_makeExtDate(0);

    // A completion decided before the process ended, of a delivery that no longer waits for its
    // payment (the receipt went through, or a till took it; a pump that waits for payment again
    // waits for another delivery): it goes out as decided.
    const bool unpaid =
        status == st::NEED_PAY && std::to_string(pcudata::peek(run.rec->trannum)) == o.end.extOrderId;
    if (o.endDecided && o.end.kind == state::noticeKind::complete && !unpaid) {
        watch.endCompleted(o.end.apikey, o.end.extOrderId, o.end.extDate, o.end.litre);
        return;
    }
    // A cancellation decided: the pump is given back as after a watch (a delivery it waits to
    // settle is completed after all).
    if (o.endDecided && o.end.kind == state::noticeKind::cancel) {
        run.reason = o.end.reason;
        run.runState = fuelingRun::cancelOrder;
        watch.cancelAfterWatch();
        return;
    }
    decideResumed(run, status);
    if (run.runState == fuelingRun::settleDelivery && watch.settleFinished()) return;
    if (run.runState == fuelingRun::cancelOrder) {
        watch.cancelBeforeWatch();
        return;
    }
    watch.watchAndSettle();
}

// As a new request decides, except that the order is never cancelled for a pump that may have
// delivered (no link, off, initialising, blocked: the watch waits for it) and a pump that still
// shows its reservation is watched for its start timeout.
void fueling::decideResumed(fuelingRun& run, int32_t status)
{
    if (st::idle(status) || st::ready(status) || st::flowing(status) || status == st::STOPPED ||
        status == st::NEED_PAY) {
        decide(run, status);
        return;
    }
    run.runState = fuelingRun::watchOnly;
}

}  // namespace azs_apps
