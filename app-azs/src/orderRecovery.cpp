#include "orderRecovery.h"

#include <cstring>
#include <exception>
#include <set>

#include "delivery.h"
#include "journal.h"
#include "settings.h"
#include "timeSource.h"
#include "watchedOrders.h"

namespace azs_apps {

namespace {

using pcudata::peek;

// The order's tag, as /order wrote it, is still on the pump.
bool carries(const pcudata::trkState_t* rec, const state::servedOrder& o)
{
    return rec != nullptr && peek(rec->tagged) != 0 && pcudata::fieldText(rec->orderId) == o.orderId &&
           pcudata::fieldText(rec->clientKey) == o.clientKey;
}

// Follows an order taken over to its final notice, with a prototype and a session of its own.
void followTakenOver(const settings& cfg, const state::servedOrder& o)
{
    try {
        pcudata::pcuControl pcu;
        cfg.controller.applyTo(pcu);
        fuelingRun run;
        static_cast<state::orderRecord&>(run) = o;
        run.resumed = true;
        run.served = state::servedOrders::current();
        run.servedId = run.served ? o.id : 0;
        if (pcu.shmInit() != 0 || pcu.getTrkState(run.trk) == nullptr) {
            poco_error(Poco::Logger::get("fuelweb/fueling"), "Ошибка доступа к разделяемой памяти: заказ '" +
                                                                 o.orderId + "' на ТРК " +
                                                                 std::to_string(o.trk) + " не восстановлен");
            return;
        }
        run.session = pcu.newSession();
        const deliveryContext ctx{pcu, cfg.platform, cfg.upstreamKey, cfg.ctlKey};
        delivery(ctx, run).takeOver(o);
    } catch (const std::exception& e) {
        poco_error(Poco::Logger::get("fuelweb/fueling"),
                   "Ошибка наблюдения за заказом '" + o.orderId + "': " + e.what());
    }
}

std::string onPump(const std::string& orderId, int trk)
{
    return "заказ '" + orderId + "' на ТРК " + std::to_string(trk);
}

}  // namespace

orderRecovery::orderRecovery(const settings& cfg, std::shared_ptr<state::servedOrders> rows)
    : cfg(cfg), rows(std::move(rows)), log(Poco::Logger::get("fuelweb/fueling"))
{
    pcudata::pcuControl pcu;
    cfg.controller.applyTo(pcu);
    if (pcu.shmInit() != 0) {
        poco_error(log, "Ошибка доступа к разделяемой памяти: заказы, начатые до перезапуска, не проверены");
        return;
    }
    look(pcu);
}

orderRecovery::~orderRecovery()
{
    for (std::thread& t : threads) t.join();
}

void orderRecovery::look(pcudata::pcuControl& pcu)
{
    std::vector<state::servedOrder> open;
    if (rows) open = rows->unfinished();
    for (const state::servedOrder& o : open) recover(pcu, o);
    reservedOnly(pcu, open);
}

void orderRecovery::recover(pcudata::pcuControl& pcu, const state::servedOrder& o)
{
    // The claim first: whoever holds it serves the order (a request of the cycle before a SIGHUP).
    auto claim = std::make_unique<watchedOrders::claim>(o.orderId);
    if (!claim->held()) return;
    pcudata::trkState_t* rec = pcu.getTrkState(o.trk);
    if (rows->noticeStored(o.orderId, o.createdAt)) {
        endedBefore(pcu, o, rec);
        return;
    }
    if (!carries(rec, o)) {
        unresolved(o, rec);
        return;
    }
    poco_information(log, "Заказ '" + o.orderId + "' на ТРК " + std::to_string(o.trk) +
                              " не завершен до перезапуска приложения: восстановление наблюдения");
    // The thread has its own copy of the configuration: it may outlive this cycle's.
    threads.emplace_back([settings = cfg, o, held = std::move(claim)]() { followTakenOver(settings, o); });
}

void orderRecovery::endedBefore(pcudata::pcuControl& pcu, const state::servedOrder& o,
                                pcudata::trkState_t* rec)
{
    rows->close(o.id, state::servedOrders::ENDED, pcudata::timeSrc().now());
    const bool tagLeft = carries(rec, o);
    if (tagLeft) pcu.clr_tagTrkPtr(rec, o.orderId);
    poco_information(log, "Заказ '" + o.orderId + "' на ТРК " + std::to_string(o.trk) +
                              " завершен до перезапуска приложения, уведомление платформе сохранено" +
                              (tagLeft ? ": заказ снят с ТРК" : ""));
}

// Nothing is sent for it: whether fuel flowed, and whether it was paid, only the station knows.
void orderRecovery::unresolved(const state::servedOrder& o, pcudata::trkState_t* rec)
{
    const std::string tag = rec == nullptr ? "" : pcudata::fieldText(rec->orderId);
    const std::string found = tag.empty() ? "ТРК без заказа" : "на ТРК заказ '" + tag + "'";
    poco_error(log, "Наблюдение не восстановлено: " + onPump(o.orderId, o.trk) +
                        " не завершен до перезапуска приложения, но " + found +
                        ". Требуется проверка оператором (транзакция " + std::to_string(o.trannum) + ")");
    state::journal::record(o.orderId, o.trk, state::journal::UNRESOLVED, 0, found);
    rows->close(o.id, state::servedOrders::UNRESOLVED, pcudata::timeSrc().now());
}

void orderRecovery::reservedOnly(pcudata::pcuControl& pcu, const std::vector<state::servedOrder>& open)
{
    std::set<std::string> served;
    for (const state::servedOrder& o : open) served.insert(o.orderId);
    for (int n = 1; n <= pcudata::TRK_COUNT; ++n) {
        pcudata::trkState_t* rec = pcu.getTrkState(n);
        if (rec == nullptr || peek(rec->tagged) == 0) continue;
        const std::string id = pcudata::fieldText(rec->orderId);
        if (id.empty() || served.count(id) != 0 || watchedOrders::isWatched(id)) continue;
        poco_information(log, "Заказ '" + id + "' на ТРК " + std::to_string(n) +
                                  " принят до перезапуска приложения, запрос на пуск не поступал: " +
                                  "ТРК ожидает запроса /fueling");
    }
}

}  // namespace azs_apps
