#include "storedNotice.h"

#include <algorithm>

#include "journal.h"
#include "str.h"
#include "timeSource.h"

namespace azs_apps {
namespace upstream {

namespace {

// The order's end as the journal tells it.
void journalDecision(const state::finalNotice& n)
{
    if (n.kind == state::noticeKind::complete) {
        state::journal::record(n.orderId, 0, state::journal::COMPLETED, 0,
                               pcudata::str::dbl2str(n.litre, 2) + " л, транзакция " + n.extOrderId);
    } else {
        state::journal::record(n.orderId, 0, state::journal::CANCELLED, 0, n.reason);
    }
}

}  // namespace

storedNotice::storedNotice(const state::finalNotice& n, Poco::Logger& callerLog)
    : kept(n), log(callerLog), box(state::outbox::current())
{
    journalDecision(kept);
    if (!box) return;
    timing = box->timing();
    const time_t now = pcudata::timeSrc().now();
    deadline = now + timing.keepSec;
    id = box->store(kept, now, deadline);
    if (id == 0) {
        poco_error(log, "Уведомление по заказу '" + kept.orderId +
                            "' не сохранено в файле состояния, отправка только из памяти");
    }
}

int64_t storedNotice::attempted(int64_t status)
{
    lastStatus = status;
    if (id != 0) box->attempted(id, status, pcudata::timeSrc().now());
    return status;
}

void storedNotice::finish(bool delivered)
{
    const time_t now = pcudata::timeSrc().now();
    if (delivered) {
        if (id != 0) box->delivered(id, now);
        state::journal::record(kept.orderId, 0, state::journal::NOTICE_DELIVERED, lastStatus, "");
        return;
    }
    if (id == 0) return;  // the wrapper's own line said that it gave up
    box->release(id, std::min(now + timing.resendSec, deadline));
    time_t until = deadline;
    poco_warning(log, "Уведомление по заказу '" + kept.orderId + "' сохранено и будет отправляться каждые " +
                          std::to_string(timing.resendSec) + " с до " + pcudata::str::_mk_dmy_ExtDate(until));
    state::journal::record(kept.orderId, 0, state::journal::NOTICE_DEFERRED, lastStatus,
                           "повтор каждые " + std::to_string(timing.resendSec) + " с");
}

void storedNotice::handOver()
{
    if (id == 0) return;
    box->release(id, pcudata::timeSrc().now());
    poco_warning(log, "Остановка приложения: уведомление по заказу '" + kept.orderId +
                          "' сохранено и будет отправлено при следующем запуске");
    state::journal::record(kept.orderId, 0, state::journal::NOTICE_DEFERRED, lastStatus,
                           "остановка приложения");
}

}  // namespace upstream
}  // namespace azs_apps
