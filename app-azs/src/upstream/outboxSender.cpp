#include "outboxSender.h"

#include <algorithm>
#include <chrono>

#include "heartbeat.h"
#include "journal.h"
#include "notices.h"
#include "str.h"
#include "timeSource.h"

namespace azs_apps {
namespace upstream {

namespace {

using pcudata::SECOND_US;

// Longest real wait between two stamps of the sender's heartbeat.
constexpr int64_t IDLE_BEAT_US = SECOND_US;

// "завершения" or "отмены", as the wrappers' lines say it.
const char* noticeWord(const state::finalNotice& n)
{
    return n.kind == state::noticeKind::complete ? "завершения" : "отмены";
}

std::string dateOf(time_t t)
{
    return pcudata::str::_mk_dmy_ExtDate(t);
}

}  // namespace

outboxSender::outboxSender(std::shared_ptr<state::outbox> box, settings target, int keepDays)
    : box(std::move(box)),
      target(std::move(target)),
      keepSec(static_cast<time_t>(keepDays > 0 ? keepDays : 0) * 86400),
      log(Poco::Logger::get("fuelweb/outbox"))
{
    thread = std::thread(&outboxSender::run, this);
}

outboxSender::~outboxSender()
{
    {
        std::lock_guard<std::mutex> g(m);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
}

void outboxSender::run()
{
    pcudata::heartbeat beat("notice sender");
    pcudata::timeSource& clock = pcudata::timeSrc();
    // What a process that ended left pending is sent at once.
    pass(true);
    time_t forgotAt = 0;
    while (!stopping) {
        const time_t now = clock.now();
        if (keepSec > 0 && now - forgotAt >= FORGET_EVERY_SEC) {
            box->forget(now - keepSec);
            forgotAt = now;
        }
        time_t next = box->nextDue();
        time_t wake = now + LOOK_SEC;
        if (next > 0) wake = std::min(wake, std::max(next, now + 1));
        if (!sleepUntil(wake)) return;
        pass(false);
    }
}

void outboxSender::pass(bool everyPending)
{
    const time_t now = pcudata::timeSrc().now();
    box->markUnrecorded(now);
    for (const state::outboxEntry& e : box->claimDue(now, everyPending)) {
        // Stopped meanwhile: the rest go back as they were, for the next start.
        if (stopping) {
            box->release(e.id, e.nextAt);
            continue;
        }
        send(e);
        pcudata::heartbeat::beat();
    }
}

void outboxSender::send(const state::outboxEntry& e)
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    time_t now = clock.now();
    if (now >= e.deadlineAt) {
        abandon(e, now);
        return;
    }
    const state::finalNotice& n = e.notice;
    poco_information(log, std::string("Повторная отправка ") + noticeWord(n) + " заказа '" + n.orderId +
                              "' (попытка " + std::to_string(e.attempts + 1) + ")");
    notices platform(target, "fuelweb/outbox");
    const int64_t status =
        n.kind == state::noticeKind::complete
            ? platform._complete_order(n.apikey, n.orderId, n.extOrderId, n.extDate, n.litre)
            : platform._cancel_order(n.apikey, n.orderId, n.reason);
    now = clock.now();
    if (status == 200) {
        box->attempted(e.id, status, now);
        box->delivered(e.id, now);
        poco_information(log, std::string("Уведомление ") + noticeWord(n) + " заказа '" + n.orderId +
                                  "' доставлено (попыток " + std::to_string(e.attempts + 1) + ")");
        state::journal::record(n.orderId, 0, state::journal::NOTICE_DELIVERED, status, "повторная отправка");
        return;
    }
    box->failed(e.id, status, now, std::min(now + box->timing().resendSec, e.deadlineAt));
}

void outboxSender::abandon(const state::outboxEntry& e, time_t now)
{
    box->abandon(e.id);
    const state::finalNotice& n = e.notice;
    poco_error(log, std::string("Уведомление ") + noticeWord(n) + " заказа '" + n.orderId +
                        "' не доставлено платформе: отправка прекращена " + dateOf(now) + " (попыток " +
                        std::to_string(e.attempts) + ", последний ответ " + std::to_string(e.lastStatus) +
                        "), требуется вмешательство оператора");
    state::journal::record(n.orderId, 0, state::journal::NOTICE_ABANDONED, e.lastStatus,
                           "попыток " + std::to_string(e.attempts));
}

// A wait that the stop cuts short. Its real length comes from the clock, which runs faster than
// the real one in tests.
bool outboxSender::sleepUntil(time_t then)
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    const int64_t thenUs = static_cast<int64_t>(then) * SECOND_US;
    std::unique_lock<std::mutex> g(m);
    // In steps of at most a second, each stamping the sender's heartbeat: waiting is not stuck.
    for (int64_t now = clock.nowUs(); now < thenUs && !stopping; now = clock.nowUs()) {
        const int64_t realUs = std::min(clock.realWaitUs(thenUs - now), IDLE_BEAT_US);
        wake.wait_for(g, std::chrono::microseconds(realUs), [this] { return stopping.load(); });
        pcudata::heartbeat::beat();
    }
    return !stopping;
}

}  // namespace upstream
}  // namespace azs_apps
