#include "holdKeeper.h"

#include "journal.h"
#include "operatorRequests.h"
#include "orderFence.h"
#include "outbox.h"
#include "servedOrders.h"
#include "stationMetrics.h"
#include "storedNotice.h"
#include "timeSource.h"
#include "watchedOrders.h"

namespace azs_apps {

namespace {

namespace st = pcudata::trkStatus;
using pcudata::peek;

constexpr int RELEASE_RESERVATION = 2;  // PWORK TYP 2
constexpr int RELEASE_PAYMENT = 0;      // WPWRK TYP 0

std::string tagOf(const pcudata::trkState_t* rec)
{
    char tag[pcudata::TRK_TEXT_SIZE];
    pcudata::peekText(tag, rec->orderId);
    return tag;
}

std::string onPump(int n)
{
    return "ТРК " + std::to_string(n);
}

}  // namespace

holdKeeper::holdKeeper(const settings& cfg, std::shared_ptr<state::pumpHolds> holds)
    : holds(std::move(holds)),
      platform(cfg.platform),
      serverKey(cfg.upstreamKey),
      stationKey(cfg.ctlKey),
      log(Poco::Logger::get("fuelweb/holds"))
{
    cfg.controller.applyTo(pcu);
    std::string error;
    const std::string& path = cfg.statePath;
    db = state::stateDb::open(path, state::stateDb::update, state::stateDb::normal, error);
    // The service has said why at error already; this says what it costs here.
    if (!db) {
        poco_warning(log, "Файл состояния '" + path + "' не открыт: " + error +
                              ". Запросы оператора не выполняются, отправленные завершения не проверяются");
    }
    if (attached()) look();
    thread = std::thread([this] { run(); });
}

holdKeeper::~holdKeeper()
{
    {
        std::lock_guard<std::mutex> g(m);
        stopping = true;
    }
    wake.notify_all();
    thread.join();
    reapSenders(true);
}

void holdKeeper::run()
{
    pcudata::timeSource& clock = pcudata::timeSrc();
    std::unique_lock<std::mutex> lock(m);
    while (!stopping) {
        lock.unlock();
        look();
        reapSenders(false);
        lock.lock();
        wake.wait_for(lock, std::chrono::microseconds(clock.realWaitUs(pcudata::SECOND_US)),
                      [this] { return stopping; });
    }
}

bool holdKeeper::attached()
{
    if (pcu.is_shm() || pcu.shmInit() == 0) return true;
    poco_error(log, "Ошибка доступа к разделяемой памяти: удержания ТРК не проверяются");
    return false;
}

time_t holdKeeper::startTimeout() const
{
    return pcu.get_order_timeout() > 0 ? pcu.get_order_timeout() : DEFAULT_TIMEOUT_SEC;
}

void holdKeeper::look()
{
    if (!holds || !pcu.is_shm()) return;
    // What the pumps show is not known: nothing is given back on it.
    if (!pcu.tableFresh()) return;
    const time_t now = pcudata::timeSrc().now();
    answerOperator();
    settleOrphans(now);
    lookAtTags(now);
    lookForUnexplained(now);
}

// --- holds left by requests that have gone -------------------------------------------------------

void holdKeeper::settleOrphans(time_t now)
{
    for (const state::pumpHold& h : holds->open()) {
        if (!h.orphan) continue;
        // An order taken over at this start, or served by a request of this process, ends its
        // holds itself.
        if (watchedOrders::isWatched(h.orderId)) continue;
        if (now - h.createdAt < ORPHAN_GRACE_SEC) continue;
        settleOrphan(h, now);
    }
}

void holdKeeper::settleOrphan(const state::pumpHold& h, time_t now)
{
    pcudata::trkState_t* rec = pcu.getTrkState(h.pump);
    if (rec == nullptr) return;
    if (carriesOrder(rec, h.orderId, 0)) {
        // The tag was written before the process ended: the hold is the order's, and ends with it.
        holds->held(h.id);
        return;
    }
    if (!pumpShows(h)) {
        poco_information(log, onPump(h.pump) + ": удержание (" + state::holdKindName(h.kind) +
                                  ") для заказа '" + h.orderId +
                                  "' не подтверждено контроллером, запись закрыта");
        holds->end(h.id, now);
        return;
    }
    if (h.kind == state::holdKind::payment && completionSent(h.orderId)) {
        poco_error(log, onPump(h.pump) + ": блокировка оплаты заказа '" + h.orderId +
                            "' не снята, по заказу отправлено завершение. Требуется проверка оператором");
        holds->end(h.id, now);
        return;
    }
    if (giveBack(h, "удержание осталось без заказа")) holds->end(h.id, now);
}

// The pump shows the hold as ours: reserved for our workplace (or for the hold's transaction), or
// its payment locked by our workplace.
bool holdKeeper::pumpShows(const state::pumpHold& h)
{
    pcudata::trkState_t* rec = pcu.getTrkState(h.pump);
    const int32_t ours = pcu.get_wplace();
    if (h.kind == state::holdKind::payment) return peek(rec->lockType) != 0 && peek(rec->lockWplace) == ours;
    return pcu.statusOf(rec) == st::BUSY &&
           (peek(rec->lockWplace) == ours || (h.trannum > 0 && peek(rec->trannum) == h.trannum));
}

bool holdKeeper::completionSent(const std::string& orderId)
{
    if (!db) return false;
    for (const state::outboxEntry& e : state::outbox::ofOrder(*db, orderId))
        if (e.notice.kind == state::noticeKind::complete) return true;
    return false;
}

bool holdKeeper::giveBack(const state::pumpHold& h, const char* why)
{
    const bool payment = h.kind == state::holdKind::payment;
    const bool done = release(h.pump, h.orderId, payment ? RELEASE_PAYMENT : RELEASE_RESERVATION);
    const std::string what = payment ? "блокировка оплаты" : "резерв";
    if (!done) {
        poco_error(log, onPump(h.pump) + ": " + what + " для заказа '" + h.orderId + "' (" + why +
                            ") снять не удалось, повтор при следующей проверке");
        return false;
    }
    poco_error(log, onPump(h.pump) + ": " + what + " для заказа '" + h.orderId + "' снят (" + why + ")");
    state::journal::record(h.orderId, h.pump, state::journal::HOLD_RELEASED, payment ? 0 : 2,
                           what + ": " + why);
    return true;
}

// --- tags of orders nobody serves -----------------------------------------------------------------

void holdKeeper::lookAtTags(time_t now)
{
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        pcudata::trkState_t* rec = pcu.getTrkState(n);
        if (rec == nullptr || peek(rec->tagged) == 0 || tagOf(rec).empty()) {
            idleTags.erase(n);
            continue;
        }
        lookAtTag(n, rec, now);
    }
}

void holdKeeper::lookAtTag(int n, pcudata::trkState_t* rec, time_t now)
{
    const std::string orderId = tagOf(rec);
    if (watchedOrders::isWatched(orderId)) {
        idleTags.erase(n);
        return;
    }
    // The claim keeps a /fueling of this order from starting while the tag is looked at.
    watchedOrders::claim claim(orderId);
    if (!claim.held() || !carriesOrder(rec, orderId, 0)) return;
    if (!expired(n, rec, orderId, now)) return;
    const int32_t status = pcu.statusOf(rec);
    const char* reason = st::idle(status) ? PUMP_IDLE : START_TIMEOUT;
    endUnserved(n, rec, orderId, reason);
}

// A reservation (or a post-payment tag) past the start timeout, or a tagged pump that the
// controller has shown idle for a while.
bool holdKeeper::expired(int n, pcudata::trkState_t* rec, const std::string& orderId, time_t now)
{
    const int32_t status = pcu.statusOf(rec);
    const time_t age = now - peek(rec->tagTime);
    if (st::idle(status)) {
        auto it = idleTags.find(n);
        if (it == idleTags.end() || it->second.orderId != orderId) {
            idleTags[n] = idleSeen{orderId, now};
            return false;
        }
        return now - it->second.since >= IDLE_GRACE_SEC && age >= IDLE_GRACE_SEC;
    }
    idleTags.erase(n);
    if (status != st::BUSY && status != st::NEED_PAY) return false;
    // An order that /fueling took on and that is not watched was ended or is being taken over.
    if (std::shared_ptr<state::servedOrders> served = state::servedOrders::current()) {
        for (const state::servedOrder& o : served->unfinished())
            if (o.orderId == orderId) return false;
    }
    return age > startTimeout();
}

// The order will never be started: the tag goes first (a /fueling that comes now finds no order),
// then what our workplace holds for it, and the platform gets the cancellation, stored before the
// tag goes like every final notice.
void holdKeeper::endUnserved(int n, pcudata::trkState_t* rec, const std::string& orderId, const char* reason)
{
    const std::string clientKey = [&] {
        char key[pcudata::TRK_TEXT_SIZE];
        pcudata::peekText(key, rec->clientKey);
        return std::string(key);
    }();
    const time_t age = pcudata::timeSrc().now() - peek(rec->tagTime);
    poco_error(log, onPump(n) + ": заказ '" + orderId + "' снят с ТРК, запрос на пуск не поступил за " +
                        std::to_string(age) + " с (статус " + std::to_string(pcu.statusOf(rec)) + " : " +
                        pcudata::trkStatusText(pcu.statusOf(rec)) + ")");
    state::journal::record(orderId, n, state::journal::START_TIMEOUT, 0,
                           std::to_string(age) + " с от заказа, без запроса на пуск");
    sendCancellation(orderId, clientKey, reason);
    pcu.clr_tagTrkPtr(rec, orderId);
    releaseWhatIsOurs(n, rec, orderId);
    holds->endOrder(orderId, pcudata::timeSrc().now());
    idleTags.erase(n);
}

void holdKeeper::releaseWhatIsOurs(int n, pcudata::trkState_t* rec, const std::string& orderId)
{
    state::pumpHold reservation;
    reservation.pump = n;
    reservation.orderId = orderId;
    state::pumpHold found;
    if (holds->find(orderId, state::holdKind::reservation, found)) reservation.trannum = found.trannum;
    if (pumpShows(reservation)) {
        giveBack(reservation, "запрос на пуск не поступил");
        return;
    }
    state::pumpHold payment = reservation;
    payment.kind = state::holdKind::payment;
    if (pcu.statusOf(rec) == st::NEED_PAY && pumpShows(payment) && !completionSent(orderId))
        giveBack(payment, "запрос на оплату не поступил");
}

// --- reservations of ours nobody explains --------------------------------------------------------

void holdKeeper::lookForUnexplained(time_t now)
{
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        pcudata::trkState_t* rec = pcu.getTrkState(n);
        const bool ours = rec != nullptr && pcu.statusOf(rec) == st::BUSY &&
                          peek(rec->lockWplace) == pcu.get_wplace() && tagOf(rec).empty() &&
                          holds->onPump(n).empty();
        if (!ours) {
            unexplained.erase(n);
            continue;
        }
        auto it = unexplained.emplace(n, now).first;
        if (now - it->second < IDLE_GRACE_SEC) continue;
        state::pumpHold h;
        h.pump = n;
        h.orderId = "#ТРК-" + std::to_string(n);  // journaled under the pump, as the operator's release is
        if (giveBack(h, "резерв нашего рабочего места без заказа")) unexplained.erase(n);
    }
}

// --- the operator ---------------------------------------------------------------------------------

void holdKeeper::answerOperator()
{
    if (!db) return;
    for (const state::operatorRequest& r : state::operatorRequests::asked(*db)) {
        bool done = false;
        const std::string result = releaseForOperator(r.pump, done);
        poco_warning(log, onPump(r.pump) + ": запрос оператора на снятие удержания: " + result);
        state::operatorRequests::answer(
            *db, r.id, done ? state::operatorRequests::DONE : state::operatorRequests::REFUSED, result,
            pcudata::timeSrc().now());
    }
}

std::string holdKeeper::releaseForOperator(int n, bool& done)
{
    pcudata::trkState_t* rec = pcu.getTrkState(n);
    if (rec == nullptr) return "нет такой ТРК";
    const std::string orderId = tagOf(rec);
    if (!orderId.empty() && watchedOrders::isWatched(orderId))
        return "ТРК обслуживает заказ '" + orderId + "'";
    for (const state::pumpHold& h : holds->onPump(n))
        if (!h.orphan && h.stage == state::pumpHolds::INTENT) return "идет прием заказа '" + h.orderId + "'";
    watchedOrders::claim claim(orderId.empty() ? "#pump-" + std::to_string(n) : orderId);
    if (!claim.held()) return "ТРК обслуживает заказ '" + orderId + "'";
    const int32_t ours = pcu.get_wplace();
    const bool reserved = pcu.statusOf(rec) == st::BUSY && peek(rec->lockWplace) == ours;
    const bool locked = peek(rec->lockType) != 0 && peek(rec->lockWplace) == ours;
    if (!reserved && !locked)
        return "ТРК не удерживается рабочим местом " + std::to_string(ours) + " (статус " +
               std::to_string(pcu.statusOf(rec)) + ")";
    if (!release(n, orderId, reserved ? RELEASE_RESERVATION : RELEASE_PAYMENT))
        return "контроллер не снял удержание";
    done = true;
    const std::string what = reserved ? "резерв снят" : "блокировка оплаты снята";
    state::journal::record(orderId.empty() ? "#ТРК-" + std::to_string(n) : orderId, n,
                           state::journal::HOLD_RELEASED, reserved ? 2 : 0, what + " по запросу оператора");
    if (!orderId.empty()) {
        char key[pcudata::TRK_TEXT_SIZE];
        pcudata::peekText(key, rec->clientKey);
        sendCancellation(orderId, key, BY_OPERATOR);
        pcu.clr_tagTrkPtr(rec, orderId);
        holds->endOrder(orderId, pcudata::timeSrc().now());
    }
    for (const state::pumpHold& h : holds->onPump(n)) holds->end(h.id, pcudata::timeSrc().now());
    return what;
}

// --- commands and notices -------------------------------------------------------------------------

// typ: RELEASE_RESERVATION or RELEASE_PAYMENT. True when the controller carried it out.
bool holdKeeper::release(int n, const std::string& orderId, int typ)
{
    std::unique_ptr<pcudata::pcuControl> session = pcu.newSession();
    session->__try_Ctl_Available(3);
    if (!session->isConnected()) return false;
    pcudata::cntlMsgResult res;
    int err = 0;
    if (!session->is_registered() && (session->register_wrkplace(res, err) != 1 || res.Res != 1)) {
        session->close();
        return false;
    }
    pcudata::cmdMsgResult_clear(res);
    err = 0;
    if (typ == RELEASE_RESERVATION)
        session->release_trk(n, orderId, res, err);
    else
        session->LockPayment(n, orderId, res, err, RELEASE_PAYMENT);
    session->close();
    return res.Res == 1;
}

// Stored before the tag goes, then sent on a thread of its own with the retrying wrapper.
void holdKeeper::sendCancellation(const std::string& orderId, const std::string& clientKey,
                                  const char* reason)
{
    const std::string apikey = clientKey + "," + serverKey + "," + stationKey;
    stationMetrics::orderCancelled(reason);
    auto stored =
        std::make_shared<upstream::storedNotice>(state::finalNotice::cancel(apikey, orderId, reason), log);
    auto finished = std::make_shared<std::atomic<bool>>(false);
    std::lock_guard<std::mutex> g(senderMutex);
    senders.push_back({std::thread([stored, target = platform, finished] {
                           upstream::notices platform(target, "fuelweb/holds");
                           platform.sendLong(*stored);
                           *finished = true;
                       }),
                       finished});
}

void holdKeeper::reapSenders(bool all)
{
    std::vector<sender> done;
    {
        std::lock_guard<std::mutex> g(senderMutex);
        for (auto it = senders.begin(); it != senders.end();) {
            if (all || *it->finished) {
                done.push_back(std::move(*it));
                it = senders.erase(it);
            } else {
                ++it;
            }
        }
    }
    for (sender& s : done) s.thread.join();
}

}  // namespace azs_apps
